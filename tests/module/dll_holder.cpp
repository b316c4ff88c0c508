// Test helper: loads a DLL and keeps it loaded until the named quit event is signalled.
// Usage: dll_holder.exe <dll> <quit event name>
#include <windows.h>
#include <shellapi.h>
#include <string>

int main() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    HANDLE quit = ::CreateEventW(nullptr, TRUE, FALSE, argv[2]);
    HMODULE dll = ::LoadLibraryW(argv[1]);
    if (!dll || !quit) return 3;
    // Tell the test that the DLL is loaded now.
    std::wstring readyName = std::wstring(argv[2]) + L"Ready";
    HANDLE ready = ::CreateEventW(nullptr, TRUE, TRUE, readyName.c_str());
    DWORD wait = ::WaitForSingleObject(quit, 60000);
    ::FreeLibrary(dll);
    ::CloseHandle(quit);
    ::CloseHandle(ready);
    ::LocalFree(argv);
    return wait == WAIT_OBJECT_0 ? 0 : 4;
}
