#include "updater_dlg.h"
#include "ui/manager_shortcuts.h"
#include <commdlg.h>
#include <shlobj.h>

namespace dv::updater {

using dv::store::kProductKeyPath;
using dv::ui::ManagerAcceleratorsSuspension;

CUpdaterDlg::CUpdaterDlg(const wchar_t* statusText, UINT keyStringId, const wchar_t* registryKey,
                         const wchar_t* serverBase)
    : keyStringId_(keyStringId) {
    CopyText(statusText_, kMaxText, statusText ? statusText : LoadResString(IDS_UPD_STARTING).c_str());
    CopyText(registryKey_, kMaxText, registryKey ? registryKey : kProductKeyPath);
    CopyText(server_, kMaxText, serverBase ? serverBase : DefaultUpdateServer());
}

CUpdaterDlg::~CUpdaterDlg() = default;

COLORREF CUpdaterDlg::StripColor() const noexcept {
    if (!updater_ || updater_->IsBusy()) return ::GetSysColor(COLOR_INFOBK);
    if (updater_->IsError()) return kErrorColor;
    if (updater_->IsAvailable()) return kAvailableColor;
    return kUpToDateColor;
}

HBRUSH CUpdaterDlg::StripBrush() const noexcept {
    if (!updater_ || updater_->IsBusy()) return busyBrush_.get();
    if (updater_->IsError()) return errorBrush_.get();
    if (updater_->IsAvailable()) return availableBrush_.get();
    return upToDateBrush_.get();
}

void CUpdaterDlg::SetStatus(const std::wstring& text) { CopyText(statusText_, kMaxText, text.c_str()); }

void CUpdaterDlg::PlaceOverOwner() {
    HWND owner = ::GetWindow(window_, GW_OWNER);
    RECT ownerRect, own;
    if (!owner || !::GetWindowRect(owner, &ownerRect) || !::GetWindowRect(window_, &own)) return;
    ::SetWindowPos(window_, nullptr, ownerRect.left + 2, ownerRect.top + ::GetSystemMetrics(SM_CYCAPTION),
                   (ownerRect.right - ownerRect.left) - 4, own.bottom - own.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

namespace {

RECT ChildRect(HWND parent, HWND child) {
    RECT rect = {};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HFONT CreateMessageFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        // Systems before Vista know the structure without its last field.
        metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
        if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return nullptr;
    }
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

} // namespace

LRESULT CUpdaterDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    PlaceOverOwner();

    RECT client;
    ::GetClientRect(window_, &client);
    HWND cancel = GetDlgItem(IDCANCEL);
    RECT cancelRect = ChildRect(window_, cancel);
    const int x = client.right - (cancelRect.right - cancelRect.left) - 4;
    for (int id : {IDCANCEL, IDOK}) {
        HWND button = GetDlgItem(id);
        RECT rect = ChildRect(window_, button);
        ::SetWindowPos(button, nullptr, x, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    busyBrush_.reset(::CreateSolidBrush(::GetSysColor(COLOR_INFOBK)));
    errorBrush_.reset(::CreateSolidBrush(kErrorColor));
    availableBrush_.reset(::CreateSolidBrush(kAvailableColor));
    upToDateBrush_.reset(::CreateSolidBrush(kUpToDateColor));
    pen_.reset(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW)));
    font_.reset(CreateMessageFont());

    updater_ = CUpdater::Create(window_, keyStringId_, registryKey_, server_);
    if (updater_) updater_->StartCheck();
    return TRUE;
}

LRESULT CUpdaterDlg::OnEraseBackground(UINT, WPARAM wParam, LPARAM, BOOL&) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    RECT rect;
    ::GetClientRect(window_, &rect);
    {
        select_object pen(dc, pen_.get());
        select_object brush(dc, StripBrush());
        ::Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
    }
    RECT text = rect;
    ::InflateRect(&text, -6, -2);
    text.right = ChildRect(window_, GetDlgItem(IDCANCEL)).left;
    select_object font(dc, font_.get());
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    // Texts come from the server: an "&" is shown as it is, not as a mnemonic.
    ::DrawTextW(dc, statusText_, -1, &text, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    ::SetBkMode(dc, oldMode);
    return 1;
}

LRESULT CUpdaterDlg::OnUpdaterNotify(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    // WM_USER + 1 is also the dialog manager's DM_SETDEFID: what is not ours goes on to it.
    if (!updater_ || (lParam != kUpdaterProgress && !(lParam == kUpdaterCompletion && wParam == 100))) {
        handled = FALSE;
        return 0;
    }
    const int percent = static_cast<int>(wParam);
    if (lParam == kUpdaterProgress) {
        const UpdaterPhase phase = updater_->Phase();
        if (phase == UpdaterPhase::Checked) {
            SetStatus(FormatText(LoadResString(IDS_UPD_CHECKING).c_str(), percent));
        } else if (phase == UpdaterPhase::Downloading) {
            SetStatus(percent == 100 ? LoadResString(IDS_UPD_LAUNCHING)
                                     : FormatText(LoadResString(IDS_UPD_DOWNLOADING).c_str(), percent));
        }
    } else {
        if (updater_->IsCancelled() && !updater_->IsBusy()) {
            EndDialog(IDCANCEL);
            return 0;
        }
        if (updater_->Refusal() != UpdaterRefusal::None) {
            // The download was deleted, not started: the strip stays to say why.
            const UINT text = updater_->Refusal() == UpdaterRefusal::HashMismatch ? IDS_UPD_HASH_MISMATCH : IDS_UPD_SIGNER_REFUSED;
            SetStatus(FormatText(LoadResString(IDS_UPD_ERROR).c_str(), LoadResString(text).c_str()));
        } else if (updater_->IsError()) {
            SetStatus(FormatText(LoadResString(IDS_UPD_ERROR).c_str(), updater_->Description()));
        } else if (updater_->Phase() == UpdaterPhase::Checked) {
            if (updater_->IsAvailable() && updater_->OfferProblem() != UpdaterOfferProblem::Downloadable) {
                // News only: without a verifiable installer the user goes to the homepage.
                const UINT text = updater_->OfferProblem() == UpdaterOfferProblem::WithoutHash ? IDS_UPD_OFFER_NO_HASH
                                                                               : IDS_UPD_OFFER_UNSAFE;
                SetStatus(FormatText(LoadResString(text).c_str(), updater_->NewVersion(), UpdateHomepage(),
                                     updater_->Description()));
            } else if (updater_->IsAvailable()) {
                SetStatus(FormatText(LoadResString(IDS_UPD_NEW_VERSION).c_str(), updater_->NewVersion(),
                                     updater_->Description()));
                if (!downloadOffered_) {
                    downloadOffered_ = true;
                    ::ShowWindow(GetDlgItem(IDOK), SW_SHOW);
                }
            } else {
                SetStatus(LoadResString(IDS_UPD_LATEST));
            }
        } else if (updater_->Phase() == UpdaterPhase::Downloading) {
            EndDialog(IDOK);
        }
    }
    ::InvalidateRect(window_, nullptr, TRUE);
    return 0;
}

LRESULT CUpdaterDlg::OnDownload(WORD, WORD, HWND, BOOL&) {
    HWND button = GetDlgItem(IDOK);
    // Only the visible, enabled button counts; a stray IDOK (Enter goes to Cancel) does nothing.
    if (!updater_ || closing_ || !downloadOffered_ || !::IsWindowEnabled(button) || updater_->IsBusy()) return 0;
    StartDownload();
    return 0;
}

void CUpdaterDlg::StartDownload() {
    ::EnableWindow(GetDlgItem(IDOK), FALSE);

    wchar_t file[kMaxText];
    CopyText(file, kMaxText, updater_->InstallerFile());
    wchar_t desktop[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop)))
        desktop[0] = 0;
    // "Programs (*.exe)\0*.EXE\0All (*.*)\0*.*\0\0"
    wchar_t filter[4 * kMaxText] = {};
    size_t used = 0;
    const std::wstring programs = LoadResString(IDS_UPD_FILTER_PROGRAMS), all = LoadResString(IDS_UPD_FILTER_ALL);
    for (const wchar_t* part : {programs.c_str(), L"*.EXE", all.c_str(), L"*.*"}) {
        CopyText(filter + used, kMaxText, part);
        used += wcslen(filter + used) + 1;
    }

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    // Owned by the strip, so it stays modal to it and Cancel cannot pull the strip away underneath.
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kMaxText;
    ofn.lpstrInitialDir = desktop[0] ? desktop : nullptr;
    ofn.lpstrDefExt = L"exe";  // a name typed without an extension is saved as a program
    // The host's current folder is left alone: it belongs to Explorer or the program we live in.
    ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | OFN_NOCHANGEDIR |
                OFN_HIDEREADONLY;
    if (::GetSaveFileNameW(&ofn) && !closing_ && updater_->StartDownload(file)) {
        ::InvalidateRect(window_, nullptr, TRUE);
        return;
    }
    updater_->CancelAndWait();
    ::PostMessageW(window_, kUpdaterNotifyMessage, 100, kUpdaterCompletion);
}

LRESULT CUpdaterDlg::OnCancel(WORD, WORD, HWND, BOOL&) {
    if (closing_) return 0;
    closing_ = true;
    if (updater_ && updater_->IsBusy()) updater_->CancelAndWait();
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CUpdaterDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (updater_) {
        updater_->DetachOwner();
        updater_->CancelAndWait();
        updater_.reset();
    }
    font_.reset();
    pen_.reset();
    busyBrush_.reset();
    errorBrush_.reset();
    availableBrush_.reset();
    upToDateBrush_.reset();
    handled = FALSE;
    return 0;
}

INT_PTR ShowUpdaterDialog(HWND manager, const wchar_t* serverBase) noexcept {
    std::unique_ptr<CUpdaterDlg> dialog(new (std::nothrow)
                                            CUpdaterDlg(nullptr, IDS_PRODUCT_NAME, kProductKeyPath, serverBase));
    if (!dialog) return -1;
    ManagerAcceleratorsSuspension suspended;
    return dialog->DoModal(manager);
}

} // namespace dv::updater
