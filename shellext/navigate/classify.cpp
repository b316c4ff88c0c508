// Which window a jump steers: folder text preparation, classification by window class, and
// the shell browser and folder view behind a window.
#include "navigate.h"
#include "navigate_internal.h"
#include <cwchar>

namespace dv::nav {

bool HasNamespaceSegment(const wchar_t* folder) noexcept { return folder && std::wcsstr(folder, L"::") != nullptr; }

bool PrepareFolderText(const wchar_t* folder, wchar_t (&prepared)[kMaxText]) noexcept {
    prepared[0] = 0;
    if (!folder || !folder[0]) return false;
    if (!CopyText(prepared, kMaxText, folder)) {
        prepared[0] = 0;
        return false;
    }
    if (HasNamespaceSegment(prepared)) return true;
    // A trailing backslash makes the shell and the dialogs take the text as a folder;
    // it is left off when it would not fit.
    size_t length = std::wcslen(prepared);
    if (prepared[length - 1] != L'\\' && length + 1 < kMaxText) {
        prepared[length] = L'\\';
        prepared[length + 1] = 0;
    }
    return true;
}

bool HasClass(HWND window, const wchar_t* className) noexcept {
    if (!window) return false;
    wchar_t name[kMaxText];
    if (::GetClassNameW(window, name, kMaxText) == 0) return false;
    return std::wcscmp(name, className) == 0;
}

TargetWindowKind ClassifyTargetWindow(TargetWindow target) noexcept {
    wchar_t name[kMaxText];
    if (!target || ::GetClassNameW(target, name, kMaxText) == 0) return TargetWindowKind::ShellBrowserWindow;
    if (std::wcscmp(name, L"OpenListView") == 0) return TargetWindowKind::TypedPathListView;
    if (std::wcscmp(name, L"Snake List") == 0) return TargetWindowKind::TypedPathSnakeList;
    if (std::wcscmp(name, L"TWINDOWSCMD") == 0 || std::wcscmp(name, L"TTOTAL_CMD") == 0)
        return TargetWindowKind::CommanderWindow;
    if (std::wcscmp(name, L"SysTreeView32") == 0) {
        HWND parent = ::GetParent(target);
        if (HasClass(parent, L"SHBrowseForFolder ShellNameSpace Control")) return TargetWindowKind::FolderBrowserTree;
        if (HasClass(parent, L"NamespaceTreeControl")) return TargetWindowKind::NamespaceTree;
        return TargetWindowKind::OtherTree;
    }
    return TargetWindowKind::ShellBrowserWindow;
}

HWND AncestorOf(HWND window, int levels) noexcept {
    for (int i = 0; i < levels && window; ++i) window = ::GetParent(window);
    return window;
}

HWND BrowserWindowOf(TargetWindow target, TargetWindowKind kind) noexcept {
    switch (kind) {
    case TargetWindowKind::FolderBrowserTree: return AncestorOf(target, 2);
    case TargetWindowKind::NamespaceTree: return AncestorOf(target, 5);
    case TargetWindowKind::OtherTree: return AncestorOf(target, 3);
    case TargetWindowKind::ShellBrowserWindow: return target;
    default: return nullptr;
    }
}

bool InThisProcess(HWND window) noexcept {
    DWORD processId = 0;
    return window && ::GetWindowThreadProcessId(window, &processId) && processId == ::GetCurrentProcessId();
}

IShellBrowser* BorrowShellBrowser(HWND window) noexcept {
    // The answer is a pointer into the answering process: only one of ours can be used.
    if (!InThisProcess(window)) return nullptr;
    return reinterpret_cast<IShellBrowser*>(::SendMessageW(window, kGetShellBrowserMessage, 0, 0));
}

HRESULT GetFolderView(HWND window, com_ptr<IFolderView>& view) noexcept {
    view.reset();
    if (!window) window = ::GetForegroundWindow();
    // Without a window FindWindowExW would search the top-level windows instead of children.
    if (!window) return E_FAIL;
    IShellBrowser* browser = BorrowShellBrowser(window);
    if (!browser) browser = BorrowShellBrowser(::FindWindowExW(window, nullptr, L"ShellTabWindowClass", nullptr));
    if (!browser) return E_FAIL;
    com_ptr<IShellView> shellView;
    if (FAILED(browser->QueryActiveShellView(shellView.put())) || !shellView) return E_FAIL;
    if (FAILED(shellView->QueryInterface(__uuidof(IFolderView), view.put_void())) || !view) {
        view.reset();
        return E_FAIL;
    }
    return S_OK;
}

} // namespace dv::nav
