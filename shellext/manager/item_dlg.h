// The item properties dialog: caption and path of one bookmark, with a folder browser.
// It changes nothing in the store; the manager applies what it returns.
#pragma once
#include "common/dialog.h"
#include "common/text.h"
#include "res/resource.h"
#include <string>

namespace dv::manager {

class CItemEditDlg final : public DialogImpl<CItemEditDlg> {
public:
    enum { IDD = IDD_ITEM_EDIT };

    // Set caption and path, show with DoModal(owner); after IDOK the three outputs hold the entry.
    // An empty caption marks a new item: only then is "Append To Root" offered.
    bool appendToRoot = false;
    std::wstring caption;
    std::wstring path;

    CItemEditDlg() = default;
    CItemEditDlg(std::wstring initialCaption, std::wstring initialPath)
        : caption(std::move(initialCaption)), path(std::move(initialPath)) {}
    virtual ~CItemEditDlg() = default;
    CItemEditDlg(const CItemEditDlg&) = delete;
    CItemEditDlg& operator=(const CItemEditDlg&) = delete;

    DV_BEGIN_MSG_MAP(CItemEditDlg)
        DV_MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        DV_COMMAND_HANDLER(IDOK, BN_CLICKED, OnOK)
        DV_COMMAND_HANDLER(IDCANCEL, BN_CLICKED, OnCancel)
        DV_COMMAND_HANDLER(IDC_BROWSE_FOLDER, BN_CLICKED, OnBrowseFolder)
        DV_COMMAND_HANDLER(IDC_CAPTION, EN_CHANGE, OnTextChanged)
        DV_COMMAND_HANDLER(IDC_PATH, EN_CHANGE, OnTextChanged)
    DV_END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnOK(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
    LRESULT OnBrowseFolder(WORD, WORD, HWND, BOOL&);
    LRESULT OnTextChanged(WORD, WORD, HWND, BOOL&);
    void UpdateOkButton();
};

} // namespace dv::manager
