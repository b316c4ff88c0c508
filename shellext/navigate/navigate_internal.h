// Helpers shared by the navigation sources; not for other subsystems.
#pragma once
#include <windows.h>
#include <shobjidl.h>

namespace dv::nav {

// Whole, case-sensitive comparison of window's class name; false for no window.
bool HasClass(HWND window, const wchar_t* className) noexcept;
// GetParent applied levels times; null once the chain runs out.
HWND AncestorOf(HWND window, int levels) noexcept;
bool InThisProcess(HWND window) noexcept;
// The shell browser a window of this process answers with; borrowed, not add-referenced.
IShellBrowser* BorrowShellBrowser(HWND window) noexcept;

} // namespace dv::nav
