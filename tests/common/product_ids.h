// The identifiers under which Dirvane registers, written out here once as peers and installers see
// them (not taken from the product's headers, so that a changed identifier fails the tests).
#pragma once
#include <windows.h>

// As text, for registry paths built by literal concatenation: L"CLSID\\" DVTEST_HANDLER_CLSID_TEXT.
#define DVTEST_HANDLER_CLSID_TEXT L"{5E2A7C41-3B9D-4F08-A6C2-71D0E4B98F35}"
#define DVTEST_COMMAND_CLSID_TEXT L"{5B3C8E1A-7D42-4F6B-9A1E-2C8D4F7A9B31}"
#define DVTEST_APPID_TEXT L"{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}"

namespace dvtest {

// The context-menu handler's class identifier.
constexpr CLSID kHandlerClsid = {0x5E2A7C41, 0x3B9D, 0x4F08, {0xA6, 0xC2, 0x71, 0xD0, 0xE4, 0xB9, 0x8F, 0x35}};

// The command class that Windows 11's first-level menu finds through the package.
constexpr CLSID kCommandClsid = {0x5B3C8E1A, 0x7D42, 0x4F6B, {0x9A, 0x1E, 0x2C, 0x8D, 0x4F, 0x7A, 0x9B, 0x31}};

} // namespace dvtest
