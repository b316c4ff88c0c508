// Loads system DLLs by their place in the system folder.
#include "system_dll.h"
#include <cwchar>

namespace tessaly {

namespace {

HMODULE LoadSystemDll(const wchar_t* dll) noexcept {
    // Known to every system with the safe search flags; older ones refuse the flag: name the full path.
    if (HMODULE module = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    wchar_t path[MAX_PATH];
    const UINT folder = ::GetSystemDirectoryW(path, MAX_PATH);
    const size_t name = wcslen(dll);
    if (folder == 0 || folder + 1 + name >= MAX_PATH) return nullptr;
    path[folder] = L'\\';
    wmemcpy(path + folder + 1, dll, name + 1);
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

FARPROC SystemProcAddress(const wchar_t* dll, const char* name) noexcept {
    // A DLL already loaded stays loaded; the reference taken here is never given back, so every
    // bound pointer stays valid.
    HMODULE module = LoadSystemDll(dll);
    return module ? ::GetProcAddress(module, name) : nullptr;
}

} // namespace tessaly
