// Steering each kind of window to a folder: typed paths, "cd" commands, folder-browser
// selection, in-place browsing, and the shell as the fallback.
#include "navigate.h"
#include "common/system.h"
#include "common/trace.h"
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

// Posts one keyboard message; a window that refuses it (gone, or its queue full) leaves a trace,
// since the jump then stops half-typed.
void PostKey(HWND window, UINT message, WPARAM key, LPARAM flags) noexcept {
    if (!::PostMessageW(window, message, key, flags)) DV_TRACE_WIN32(::GetLastError(), L"PostMessageW of a key");
}

void PostEnter(HWND window) noexcept {
    PostKey(window, WM_KEYDOWN, VK_RETURN, kEnterDown);
    PostKey(window, WM_CHAR, 13, kEnterDown);
    PostKey(window, WM_KEYUP, VK_RETURN, kEnterUp);
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

    PostKey(dialog, WM_KEYDOWN, VK_TAB, kTabDown);
    PostKey(dialog, WM_CHAR, 9, kTabDown);
    PostKey(edit, WM_KEYUP, VK_TAB, kTabUp);
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    PostKey(edit, WM_KEYDOWN, VK_HOME, kHomeDown);
    PostKey(edit, WM_KEYUP, VK_HOME, kHomeUp);
    PostKey(edit, WM_KEYDOWN, VK_DELETE, kDeleteDown);
    PostKey(edit, WM_KEYUP, VK_DELETE, kDeleteUp);
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
    else DV_TRACE(L"folder not parsed for the folder browser: %ls", folder);
}

HRESULT BrowseFolder(IShellBrowser* browser, const wchar_t* folder, UINT flags) noexcept {
    if (!browser || !IsUsableFolder(folder)) return kFolderNotParsed;
    com_ptr<IShellFolder> desktop;
    if (HRESULT hr = ::SHGetDesktopFolder(desktop.put()); FAILED(hr) || !desktop) {
        DV_TRACE_HR(hr, L"SHGetDesktopFolder");
        return kFolderNotParsed;
    }
    unique_pidl list = ParseFolder(desktop.get(), folder);
    if (!list && HasNamespaceSegment(folder)) {
        // Some namespace paths are only known to the "shell:" protocol.
        wchar_t shellPath[kMaxText + 8] = L"Shell:";
        CopyText(shellPath + 6, kMaxText, folder);
        list = ParseFolder(desktop.get(), shellPath);
    }
    if (!list) {
        DV_TRACE(L"folder not parsed for browsing: %ls", folder);
        return kFolderNotParsed;
    }
    const HRESULT hr = browser->BrowseObject(list.get(), flags);
    if (FAILED(hr)) DV_TRACE_HR(hr, L"IShellBrowser::BrowseObject");
    return hr;
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
    BrowseFolder(browser.get(), folder, SBSP_SAMEBROWSER);
}

void OpenWithShell(TargetWindow owner, const wchar_t* folder) noexcept {
    if (!IsUsableFolder(folder)) return;
    // "open" on a file starts it: a bookmark that names a program (a path too long for the trailing
    // backslash that would stop it, or a stream of it) is never run.
    wchar_t bare[kMaxText];
    CopyText(bare, kMaxText, folder);
    if (const size_t length = std::wcslen(bare); length > 3 && bare[length - 1] == L'\\') bare[length - 1] = 0;
    if (IsExistingFile(bare)) {
        DV_TRACE(L"not opened, no folder: %ls", folder);
        return;
    }
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(owner, L"open", folder, nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) DV_TRACE(L"ShellExecuteW open of %ls failed: %ld", folder, static_cast<long>(result));
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
