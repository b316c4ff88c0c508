#include "system.h"
#include "text.h"
#include <cstring>
#include <vector>

namespace dv {

namespace {
bool QueryVersion(OSVERSIONINFOW& info) noexcept {
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExW(&info) != FALSE;
#pragma GCC diagnostic pop
}
} // namespace

bool IsVistaOrLater() noexcept {
    OSVERSIONINFOW info;
    return QueryVersion(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
}

bool IsPreXpWindows() noexcept {
    static volatile LONG remembered = 0;
    if (remembered) return true;
    OSVERSIONINFOW info;
    bool preXp = QueryVersion(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion < 6 &&
                 info.dwMinorVersion == 0;
    if (preXp) remembered = 1;
    return preXp;
}

bool IsExistingFile(const wchar_t* path) noexcept {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ModuleFilePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return path.substr(0, length);
        if (path.size() >= 0x8000) return std::wstring();  // no path is longer
        path.resize(path.size() * 2);
    }
}

std::wstring GetModuleVersionString(HMODULE module) {
    // Read from the loaded module's own version resource: no file access, which matters on the
    // host's UI thread where every right-click asks for it.
    if (!module) module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    DWORD size = resource ? ::SizeofResource(module, resource) : 0;
    HGLOBAL loaded = resource ? ::LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes || size < sizeof(VS_FIXEDFILEINFO)) return std::wstring();
    // VerQueryValueW wants a writable copy with room behind it, as GetFileVersionInfoW would give.
    std::vector<BYTE> data(size * 2);
    memcpy(data.data(), bytes, size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE)
        return std::wstring();
    return FormatText(L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
}

} // namespace dv
