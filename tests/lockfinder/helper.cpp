// A process for Tessaly to find: loads the DLL it is given, optionally owns a hidden captioned
// window with a given title, signals a named event when ready and then waits to be ended.
//   tess_helper.exe <dll path> <ready event name> [window title]
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args || count < 3) return 2;
    if (!::LoadLibraryW(args[1])) return 3;
    if (count > 3) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = instance;
        wc.lpszClassName = L"TessalyTestHelper";
        ::RegisterClassW(&wc);
        // Never shown: hidden windows with a caption style still give the title.
        if (!::CreateWindowExW(0, wc.lpszClassName, args[3], WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               instance, nullptr))
            return 4;
    }
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, args[2]);
    if (!ready) return 5;
    ::SetEvent(ready);
    ::CloseHandle(ready);
    ::LocalFree(args);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}
