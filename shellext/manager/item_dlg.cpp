#include "item_dlg.h"
#include "common/handles.h"
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace dv::manager {

namespace {

// A field's text cut to the 259 characters that a bookmark keeps.
std::wstring FieldText(HWND field) {
    std::wstring text = WindowText(field);
    wchar_t buffer[kMaxText];
    CopyText(buffer, kMaxText, text.c_str());
    return buffer;
}

int CALLBACK BrowseCallback(HWND browser, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED) {
        ::SetWindowTextW(browser, LoadResString(IDS_MGR_BROWSE_TITLE).c_str());
        const wchar_t* start = reinterpret_cast<const wchar_t*>(data);
        if (start && *start) ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 1;
}

} // namespace

LRESULT CItemEditDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    ::SetDlgItemTextW(window_, IDC_CAPTION, caption.c_str());
    ::SetDlgItemTextW(window_, IDC_PATH, path.c_str());
    // Placing an item at the top level only makes sense for a new one.
    if (!caption.empty()) ::ShowWindow(GetDlgItem(IDC_APPEND_TO_ROOT), SW_HIDE);
    UpdateOkButton();
    return TRUE;  // the dialog manager focuses the first tab stop, the path
}

void CItemEditDlg::UpdateOkButton() {
    ::EnableWindow(GetDlgItem(IDOK), ::GetWindowTextLengthW(GetDlgItem(IDC_CAPTION)) > 0);
}

LRESULT CItemEditDlg::OnTextChanged(WORD, WORD, HWND, BOOL&) {
    UpdateOkButton();
    return 0;
}

LRESULT CItemEditDlg::OnOK(WORD, WORD, HWND, BOOL&) {
    appendToRoot = ::IsDlgButtonChecked(window_, IDC_APPEND_TO_ROOT) == BST_CHECKED;
    caption = FieldText(GetDlgItem(IDC_CAPTION));
    path = FieldText(GetDlgItem(IDC_PATH));
    EndDialog(IDOK);
    return 0;
}

LRESULT CItemEditDlg::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CItemEditDlg::OnBrowseFolder(WORD, WORD, HWND, BOOL&) {
    std::wstring start = FieldText(GetDlgItem(IDC_PATH));
    std::wstring prompt = LoadResString(IDS_MGR_BROWSE_PROMPT);
    wchar_t displayName[kMaxText] = {};

    BROWSEINFOW info = {};
    info.hwndOwner = window_;
    info.pszDisplayName = displayName;
    info.lpszTitle = prompt.c_str();
    // Any folder may be a bookmark, file-system or virtual: no restricting flags.
    info.ulFlags = BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    unique_pidl chosen(::SHBrowseForFolderW(&info));
    if (!chosen) return 0;

    com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return 0;
    STRRET name = {};
    if (FAILED(desktop->GetDisplayNameOf(chosen.get(), SHGDN_FORPARSING, &name))) return 0;
    wchar_t parsingName[kMaxText] = {};
    if (FAILED(::StrRetToBufW(&name, chosen.get(), parsingName, kMaxText))) return 0;

    ::SetDlgItemTextW(window_, IDC_PATH, parsingName);
    if (::GetWindowTextLengthW(GetDlgItem(IDC_CAPTION)) == 0) {
        // The name the shell shows for the folder (a drive's label, a folder's own name); some
        // browsers hand back a full path as the display name.
        SHFILEINFOW info = {};
        const bool named = ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(chosen.get()), 0, &info, sizeof(info),
                                            SHGFI_PIDL | SHGFI_DISPLAYNAME) && info.szDisplayName[0];
        ::SetDlgItemTextW(window_, IDC_CAPTION, named ? info.szDisplayName : displayName);
    }
    return 0;
}

} // namespace dv::manager
