#pragma once
#include <windows.h>

namespace dv::module {
// {5E2A7C41-3B9D-4F08-A6C2-71D0E4B98F35}
constexpr CLSID CLSID_DirvaneContextMenu = {0x5E2A7C41, 0x3B9D, 0x4F08, {0xA6, 0xC2, 0x71, 0xD0, 0xE4, 0xB9, 0x8F, 0x35}};
// {5B3C8E1A-7D42-4F6B-9A1E-2C8D4F7A9B31}: the command tree that Windows 11's first-level menu shows.
constexpr CLSID CLSID_DirvaneExplorerCommand = {0x5B3C8E1A, 0x7D42, 0x4F6B, {0x9A, 0x1E, 0x2C, 0x8D, 0x4F, 0x7A, 0x9B, 0x31}};
constexpr const wchar_t kDirvaneAppId[] = L"{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}";
} // namespace dv::module
