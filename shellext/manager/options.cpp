// The manager's Options and Help menus.
#include "manager_dlg.h"
#include "common/trace.h"
#include "clipboard.h"
#include "ui/manager_shortcuts.h"
#include "common/system.h"
#include "common/text.h"
#include "store/settings.h"
#include <commdlg.h>
#include <shellapi.h>
#include <string>
#include <vector>

namespace dv::manager {

using dv::store::AddOnFlags;
using dv::store::ReadAddOnFlags;
using dv::store::ReadTextEditor;
using dv::store::WriteTextEditor;
using dv::ui::ManagerAcceleratorsSuspension;

LRESULT CManagerDlg::OnInitMenuPopup(UINT, WPARAM, LPARAM lParam, BOOL&) {
    if (HIWORD(lParam)) return 0;  // the window menu
    HMENU bar = ::GetMenu(window_);
    UpdatePasteItem(bar);
    UpdateOptionsMenu(bar);
    return 0;
}

void CManagerDlg::UpdatePasteItem(HMENU menu) {
    const bool available = ClipboardOffersFolderPaths();
    ::EnableMenuItem(menu, ID_FOLDER_PASTE, MF_BYCOMMAND | (available ? MF_ENABLED : MF_GRAYED));
}

void CManagerDlg::UpdateOptionsMenu(HMENU menu) {
    const AddOnFlags flags = ReadAddOnFlags();
    auto check = [menu](UINT id, bool on) { ::CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED)); };
    check(ID_OPTIONS_EDITOR, HasAddOn(flags, AddOnFlags::NotepadView));
    check(ID_OPTIONS_RUN_CMD, HasAddOn(flags, AddOnFlags::RunCmd));
    check(ID_OPTIONS_COPY_PATHS, HasAddOn(flags, AddOnFlags::CopyToClipboard));

    // "Reset" only when there is an editor of one's own to reset: a stored program that exists.
    wchar_t editor[kMaxText] = {};
    const bool resettable = ReadTextEditor(editor) && editor[0] && IsExistingFile(editor);
    ::EnableMenuItem(menu, ID_OPTIONS_RESET_EDITOR, MF_BYCOMMAND | (resettable ? MF_ENABLED : MF_GRAYED));
}

void CManagerDlg::UseAnotherEditor() {
    wchar_t file[kMaxText] = {};
    ReadTextEditor(file);
    const std::wstring title = LoadResString(IDS_MGR_EDITOR_TITLE);
    // Description, pattern, and the empty entry that ends the list.
    std::wstring filter = LoadResString(IDS_MGR_EDITOR_FILTER);
    filter.push_back(L'\0');
    filter.append(L"*.EXE");
    filter.push_back(L'\0');
    filter.push_back(L'\0');

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kMaxText;
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_READONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOTESTFILECREATE;
    BOOL chosen;
    {
        ManagerAcceleratorsSuspension suspended;
        chosen = ::GetSaveFileNameW(&dialog);
    }
    if (chosen) WriteTextEditor(file);
}

void CManagerDlg::ShowAbout() {
    const std::wstring version = GetModuleVersionString(resourceInstance_);
    const std::wstring text = FormatText(LoadResString(IDS_MGR_ABOUT_TEXT).c_str(), version.c_str());
    const std::wstring title = LoadResString(IDS_MGR_ABOUT_TITLE);
    // Like every window the manager opens: Enter belongs to the box, not to Edit behind it.
    ManagerAcceleratorsSuspension suspended;
    ::MessageBoxW(window_, text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
}

void CManagerDlg::OpenWebPage(const wchar_t* address) {
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(window_, L"open", address, nullptr, nullptr, SW_SHOW));
    if (result <= 32) DV_TRACE(L"ShellExecuteW open of %ls failed: %ld", address, static_cast<long>(result));
}

} // namespace dv::manager
