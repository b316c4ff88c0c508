// Steering each kind of window to a folder: typed paths, "cd" commands, folder-browser
// selection, in-place browsing, and the shell as the fallback.
#include "navigate.h"
#include "navigate_internal.h"
#include <shellapi.h>
#include <cwchar>

namespace dv::nav {

namespace {

// Keystroke lParams: repeat count 1, scan code, bit 24 for extended keys, bits 30 and 31 on release.
constexpr LPARAM kTabDown = 0x000F0001, kTabUp = 0xC00F0001;
constexpr LPARAM kHomeDown = 0x01470001, kHomeUp = 0xC1470001;
constexpr LPARAM kDeleteDown = 0x01530001, kDeleteUp = 0xC1530001;
constexpr LPARAM kEnterDown = 0x001C0001, kEnterUp = 0xC01C0001;

constexpr LONG kDialogRichEditStyle = 0x54000088;
constexpr LONG kDialogEditStyle = 0x54000080;

// A folder text the methods accept: present and within the 259-character limit.
bool IsUsableFolder(const wchar_t* folder) noexcept {
    return folder && folder[0] && std::wcslen(folder) < kMaxText;
}

HWND FindChildWithStyle(HWND parent, const wchar_t* className, LONG style) noexcept {
    for (HWND child = ::FindWindowExW(parent, nullptr, className, nullptr); child;
         child = ::FindWindowExW(parent, child, className, nullptr)) {
        if (::GetWindowLongW(child, GWL_STYLE) == style) return child;
    }
    return nullptr;
}

BOOL CALLBACK FindFirstEdit(HWND window, LPARAM found) {
    if (!HasClass(window, L"Edit")) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void PostEnter(HWND window) noexcept {
    ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, kEnterDown);
    ::PostMessageW(window, WM_CHAR, 13, kEnterDown);
    ::PostMessageW(window, WM_KEYUP, VK_RETURN, kEnterUp);
}

// The desktop folder's parse of text; null when it cannot be parsed.
unique_pidl ParseFolder(IShellFolder* desktop, const wchar_t* text) noexcept {
    wchar_t buffer[kMaxText + 8];  // room for "Shell:" in front of a full-length folder text
    unique_pidl list;
    if (!CopyText(buffer, ARRAYSIZE(buffer), text)) return list;
    PIDLIST_RELATIVE parsed = nullptr;
    HRESULT hr = desktop->ParseDisplayName(nullptr, nullptr, buffer, nullptr, &parsed, nullptr);
    list.reset(reinterpret_cast<LPITEMIDLIST>(parsed));
    if (FAILED(hr)) list.reset();
    return list;
}

} // namespace

void TypePathIntoDialog(HWND dialog, const wchar_t* folder) noexcept {
    // Without a dialog FindWindowExW would search the top-level windows.
    if (!dialog || !IsUsableFolder(folder)) return;
    HWND edit = FindChildWithStyle(dialog, L"RichEdit20W", kDialogRichEditStyle);
    if (!edit) edit = FindChildWithStyle(dialog, L"Edit", kDialogEditStyle);
    if (!edit) return;

    // The leading blank is typed and removed again with Home and Delete, as a user would.
    wchar_t text[kMaxText + 1] = L" ";
    CopyText(text + 1, kMaxText, folder);

    ::PostMessageW(dialog, WM_KEYDOWN, VK_TAB, kTabDown);
    ::PostMessageW(dialog, WM_CHAR, 9, kTabDown);
    ::PostMessageW(edit, WM_KEYUP, VK_TAB, kTabUp);
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    ::PostMessageW(edit, WM_KEYDOWN, VK_HOME, kHomeDown);
    ::PostMessageW(edit, WM_KEYUP, VK_HOME, kHomeUp);
    ::PostMessageW(edit, WM_KEYDOWN, VK_DELETE, kDeleteDown);
    ::PostMessageW(edit, WM_KEYUP, VK_DELETE, kDeleteUp);
    PostEnter(edit);
}

void TypeCdCommand(HWND window, const wchar_t* folder) noexcept {
    // EnumChildWindows with no window would walk the top-level windows.
    if (!window || !IsUsableFolder(folder)) return;
    HWND edit = nullptr;
    ::EnumChildWindows(window, FindFirstEdit, reinterpret_cast<LPARAM>(&edit));
    if (!edit) return;

    wchar_t command[kMaxText + 3] = L"cd ";
    CopyText(command + 3, kMaxText, folder);
    ::SetFocus(edit);
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(command));
    PostEnter(edit);
}

void SelectInFolderBrowser(HWND dialog, const wchar_t* folder) noexcept {
    // The message carries a pointer, which only a dialog of this process can read.
    if (!InThisProcess(dialog) || !IsUsableFolder(folder)) return;
    com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || !desktop) return;
    unique_pidl list = ParseFolder(desktop.get(), folder);
    if (list) ::SendMessageW(dialog, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(list.get()));
}

void BrowseInPlace(HWND browserWindow, const wchar_t* folder, TargetWindow owner) noexcept {
    if (!IsUsableFolder(folder)) return;
    IShellBrowser* borrowed = BorrowShellBrowser(browserWindow);
    if (!borrowed) {
        OpenWithShell(owner, folder);
        return;
    }
    // Held for the call, so that a window closed during parsing cannot free it under us.
    com_ptr<IShellBrowser> browser(borrowed);
    com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || !desktop) return;
    unique_pidl list = ParseFolder(desktop.get(), folder);
    if (!list && HasNamespaceSegment(folder)) {
        // Some namespace paths are only known to the "shell:" protocol.
        wchar_t shellPath[kMaxText + 8] = L"Shell:";
        CopyText(shellPath + 6, kMaxText, folder);
        list = ParseFolder(desktop.get(), shellPath);
    }
    if (!list) return;
    browser->BrowseObject(list.get(), SBSP_SAMEBROWSER);
}

void OpenWithShell(TargetWindow owner, const wchar_t* folder) noexcept {
    if (!IsUsableFolder(folder)) return;
    ::ShellExecuteW(owner, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL);
}

void JumpToFolder(TargetWindow target, const wchar_t* folder) noexcept {
    wchar_t prepared[kMaxText];
    if (!PrepareFolderText(folder, prepared)) return;
    const bool namespacePath = HasNamespaceSegment(prepared);
    const TargetWindowKind kind = ClassifyTargetWindow(target);
    switch (kind) {
    case TargetWindowKind::TypedPathListView:
        if (namespacePath) OpenWithShell(target, prepared);
        else TypePathIntoDialog(AncestorOf(target, 2), prepared);
        return;
    case TargetWindowKind::TypedPathSnakeList:
        if (namespacePath) OpenWithShell(target, prepared);
        else TypePathIntoDialog(AncestorOf(target, 1), prepared);
        return;
    case TargetWindowKind::CommanderWindow:
        if (namespacePath) OpenWithShell(target, prepared);
        else TypeCdCommand(target, prepared);
        return;
    case TargetWindowKind::FolderBrowserTree:
        SelectInFolderBrowser(BrowserWindowOf(target, kind), prepared);
        return;
    case TargetWindowKind::NamespaceTree:
    case TargetWindowKind::OtherTree:
    case TargetWindowKind::ShellBrowserWindow:
        if (HWND browserWindow = BrowserWindowOf(target, kind)) BrowseInPlace(browserWindow, prepared, target);
        else OpenWithShell(target, prepared);
        return;
    }
}

} // namespace dv::nav
