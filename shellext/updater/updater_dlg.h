// The update dialog: a coloured strip over the top of the bookmark manager that checks for a new
// version, shows the outcome and, on request, downloads the installer and starts it.
//
// The manager's "Check for Updates" command:
//
//     dv::updater::ShowUpdaterDialog(managerWindow);   // modal; shortcuts suspended while it is open
//
// or, by hand:
//
//     dv::updater::CUpdaterDlg dialog;        // "Starting up...", key string 100, the product key
//     dv::ui::ManagerAcceleratorsSuspension suspended;
//     dialog.DoModal(managerWindow);          // 1 after a download, 2 otherwise
#pragma once
#include "updater.h"
#include "common/dialog.h"
#include "common/handles.h"
#include "common/text.h"
#include "res/resource.h"
#include "store/settings.h"
#include <memory>

namespace dv::updater {

class CUpdaterDlg final : public DialogImpl<CUpdaterDlg> {
public:
    enum { IDD = IDD_UPDATER };

    // A null statusText means "Starting up...". serverBase defaults to the build's update server.
    explicit CUpdaterDlg(const wchar_t* statusText = nullptr, UINT keyStringId = IDS_PRODUCT_NAME,
                         const wchar_t* registryKey = store::kProductKeyPath,
                         const wchar_t* serverBase = DefaultUpdateServer());
    virtual ~CUpdaterDlg();
    CUpdaterDlg(const CUpdaterDlg&) = delete;
    CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

    DV_BEGIN_MSG_MAP(CUpdaterDlg)
        DV_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        DV_MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
        DV_MESSAGE_HANDLER(kUpdaterNotifyMessage, OnUpdaterNotify)
        DV_COMMAND_HANDLER(IDOK, BN_CLICKED, OnDownload)
        DV_COMMAND_HANDLER(IDCANCEL, BN_CLICKED, OnCancel)
        DV_MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    DV_END_MSG_MAP()

    // The strip's colours, by precedence: busy, error, update available, up to date.
    static constexpr COLORREF kErrorColor = RGB(250, 128, 114);
    static constexpr COLORREF kAvailableColor = RGB(255, 140, 0);
    static constexpr COLORREF kUpToDateColor = RGB(144, 238, 144);
    // COLOR_INFOBK while busy, else one of the colours above.
    COLORREF StripColor() const noexcept;
    const wchar_t* StatusText() const noexcept { return statusText_; }
    CUpdater* Updater() const noexcept { return updater_.get(); }

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnEraseBackground(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnUpdaterNotify(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDownload(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);

    void PlaceOverOwner();
    HBRUSH StripBrush() const noexcept;
    void SetStatus(const std::wstring& text);
    void StartDownload();

    unique_hpen pen_;
    unique_hfont font_;
    unique_hbrush busyBrush_, errorBrush_, availableBrush_, upToDateBrush_;
    wchar_t statusText_[kMaxText] = {};
    UINT keyStringId_;
    wchar_t registryKey_[kMaxText] = {};
    wchar_t server_[kMaxText] = {};
    std::unique_ptr<CUpdater> updater_;
    bool downloadOffered_ = false;  // the Download button appears once per dialog
    bool closing_ = false;          // Cancel is waiting for the worker
};

// Shows the update dialog modally over the manager window, with the manager's shortcuts suspended
// while it is open. Returns the dialog's result (1 after a download, 2 otherwise, -1 if it could
// not be shown).
INT_PTR ShowUpdaterDialog(HWND manager, const wchar_t* serverBase = DefaultUpdateServer()) noexcept;

} // namespace dv::updater
