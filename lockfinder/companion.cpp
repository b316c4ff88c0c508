// The 64-bit companion: on 64-bit Windows the 32-bit build writes its 64-bit build next to itself,
// runs it with the same command line and deletes it again.
#include "tessaly.h"
#include "common/handles.h"
#include "system_dll.h"
#include <shellapi.h>

namespace tessaly {

bool IsRunningUnderWow64() {
    using IsWow64ProcessPtr = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32");
    if (!kernel) return false;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessPtr>(::GetProcAddress(kernel, "IsWow64Process"));
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

bool ExtractCompanion(HINSTANCE instance, const wchar_t* companionPath) {
    HRSRC info = ::FindResourceW(instance, MAKEINTRESOURCEW(kCompanionResource), MAKEINTRESOURCEW(10) /*RT_RCDATA*/);
    if (!info) return false;
    HGLOBAL loaded = ::LoadResource(instance, info);  // resource memory, never freed
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(instance, info);
    if (!data || size == 0) return false;

    DWORD written = 0;
    {
        dv::unique_hfile file(::CreateFileW(companionPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            ::DeleteFileW(companionPath);
            return false;
        }
        if (!::WriteFile(file.get(), data, size, &written, nullptr)) written = 0;
    }
    // A cut-off program must not be started.
    if (written != size) {
        ::DeleteFileW(companionPath);
        return false;
    }
    return true;
}

void RunAndWait(const wchar_t* companionPath, const wchar_t* parameters) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error box: the tool shows nothing but its usage.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = companionPath;
    info.lpParameters = parameters;
    info.nShow = SW_HIDE;
    static const auto shellExecuteEx =
        SystemFunction<decltype(&::ShellExecuteExW)>(L"shell32.dll", "ShellExecuteExW");
    if (!shellExecuteEx || !shellExecuteEx(&info)) return;
    dv::unique_handle process(info.hProcess);
    if (process) ::WaitForSingleObject(process.get(), INFINITE);
}

} // namespace tessaly
