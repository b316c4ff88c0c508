// A window of another process for navigation tests. It answers the shell-browser message with a
// value that is no pointer in the asking process, holds a folder-browser tree, and exits with the
// number of shell-browser and folder-selection messages it received.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

int g_received = 0;

LRESULT CALLBACK ForeignProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_USER + 7:
        ++g_received;
        return 0x12345678;
    case BFFM_SETSELECTIONW:
        ++g_received;
        return TRUE;
    case WM_CLOSE:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (!::GetParent(window)) ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void Register(const wchar_t* className) {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = ForeignProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    ::RegisterClassExW(&wc);
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const wchar_t* title = (argv && argc > 1) ? argv[1] : L"DvNavForeign";
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&init);
    Register(L"DvNavForeign");
    Register(L"SHBrowseForFolder ShellNameSpace Control");
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    HWND top = ::CreateWindowExW(0, L"DvNavForeign", title, WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, instance, nullptr);
    HWND control = ::CreateWindowExW(0, L"SHBrowseForFolder ShellNameSpace Control", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                     200, 150, top, nullptr, instance, nullptr);
    ::CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 150, 100, control, nullptr, instance, nullptr);
    ::LocalFree(argv);
    if (!top) return 100;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return g_received;
}
