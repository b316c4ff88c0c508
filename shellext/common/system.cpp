#include "system.h"
#include "text.h"
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

std::wstring GetModuleVersionString(HMODULE module) {
    wchar_t path[MAX_PATH * 4];
    DWORD length = ::GetModuleFileNameW(module, path, ARRAYSIZE(path));
    if (length == 0 || length >= ARRAYSIZE(path)) return std::wstring();
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return std::wstring();
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(path, 0, size, data.data())) return std::wstring();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    return FormatText(L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
}

} // namespace dv
