// A program that uses the installed Dirvane the way a shell does: through COM activation from the
// registry.
//   installer_helper.exe hold <ready event> <window title>
//       creates the handler and keeps it (and so the DLL) until ended; owns a hidden captioned window
//       with the title, so Tessaly lists it under that title; signals the event when ready.
//   installer_helper.exe probe <output file>
//       creates the handler and writes the full path of the Dirvane.dll that COM loaded (UTF-16).
//   installer_helper.exe probe-user <output file>
//       the same through the user's own classes (HKCU\Software\Classes), activated the way COM
//       activates an in-process server: Wine's COM reads the machine's classes only.
//   installer_helper.exe -NoLogo ...
//       stands in for powershell.exe: appends its command line and the environment variables the
//       package step controls to powershell-seen.txt beside itself (UTF-16), then prints the line
//       that a successful package command ends with.
// Exit codes: 0 done, 2 usage, 3 COM activation failed, 4 no Dirvane.dll loaded, 5 other failure.
#include "common/product_ids.h"
#include "common/handles.h"
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string>

namespace {

const CLSID kClsid = dvtest::kHandlerClsid;

int Hold(HINSTANCE instance, const wchar_t* eventName, const wchar_t* title) {
    dv::com_ptr<IShellExtInit> handler;
    if (FAILED(::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, handler.put_void())))
        return 3;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"DirvaneInstallerTestHolder";
    ::RegisterClassW(&wc);
    // Never shown: a hidden window with a caption style still names the process.
    dv::unique_hwnd window(::CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                             nullptr, nullptr, instance, nullptr));
    dv::unique_handle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName));
    if (!window || !ready) return 5;
    ::SetEvent(ready.get());
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}

int WriteLoadedPath(const wchar_t* output) {
    HMODULE dll = ::GetModuleHandleW(L"Dirvane.dll");
    if (!dll) return 4;
    wchar_t path[MAX_PATH * 2];
    DWORD length = ::GetModuleFileNameW(dll, path, ARRAYSIZE(path));
    if (length == 0 || length >= ARRAYSIZE(path)) return 5;
    dv::unique_hfile file(::CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.get(), path, length * sizeof(wchar_t), &written, nullptr)) return 5;
    return 0;
}

int Probe(const wchar_t* output) {
    dv::com_ptr<IShellExtInit> handler;
    if (FAILED(::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, handler.put_void())))
        return 3;
    return WriteLoadedPath(output);
}

int ProbeUserClasses(const wchar_t* output) {
    wchar_t path[MAX_PATH * 2];
    DWORD size = sizeof(path);
    if (::RegGetValueW(HKEY_CURRENT_USER,
                       L"Software\\Classes\\CLSID\\" DVTEST_HANDLER_CLSID_TEXT L"\\InprocServer32", nullptr,
                       RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return 3;
    HMODULE dll = ::LoadLibraryW(path);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = dll ? reinterpret_cast<GetClassObject>(::GetProcAddress(dll, "DllGetClassObject")) : nullptr;
    dv::com_ptr<IClassFactory> factory;
    dv::com_ptr<IShellExtInit> handler;
    if (!getClassObject || FAILED(getClassObject(kClsid, IID_IClassFactory, factory.put_void())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, handler.put_void())))
        return 3;
    return WriteLoadedPath(output);
}

std::wstring Variable(const wchar_t* name) {
    wchar_t value[4096];
    DWORD length = ::GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return length == 0 ? L"<unset>" : length >= ARRAYSIZE(value) ? L"<too long>" : std::wstring(value, length);
}

int StandInForPowerShell() {
    wchar_t self[MAX_PATH * 2];
    DWORD length = ::GetModuleFileNameW(nullptr, self, ARRAYSIZE(self));
    if (length == 0 || length >= ARRAYSIZE(self)) return 5;
    std::wstring log(self, wcsrchr(self, L'\\') + 1);
    log += L"powershell-seen.txt";
    std::wstring text = std::wstring(L"command=") + ::GetCommandLineW() + L"\n";
    for (const wchar_t* name : {L"PATH", L"PSModulePath", L"SystemRoot", L"windir", L"ProgramFiles", L"ProgramData",
                                L"COR_PROFILER_PATH", L"COMPlus_AltJitName", L"DOTNET_STARTUP_HOOKS",
                                L"DIRVANE_EXTERNAL_LOCATION", L"DIRVANE_PACKAGE_FAMILY"})
        text += std::wstring(name) + L"=" + Variable(name) + L"\n";
    const std::wstring package = Variable(L"DIRVANE_PACKAGE");
    text += std::wstring(L"package=") +
            (::GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES ? L"missing" : L"present") + L"\n";
    dv::unique_hfile file(::CreateFileW(log.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr))
        return 5;
    const char done[] = "DIRVANE-PACKAGE-DONE\r\n";
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), done, sizeof done - 1, &written, nullptr);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args) return 2;
    int result = 2;
    if (count > 1 && lstrcmpW(args[1], L"-NoLogo") == 0) {
        result = StandInForPowerShell();
    } else {
        dv::com_init com;
        if (count == 4 && lstrcmpW(args[1], L"hold") == 0) result = Hold(instance, args[2], args[3]);
        else if (count == 3 && lstrcmpW(args[1], L"probe") == 0) result = Probe(args[2]);
        else if (count == 3 && lstrcmpW(args[1], L"probe-user") == 0) result = ProbeUserClasses(args[2]);
    }
    ::LocalFree(args);
    return result;
}
