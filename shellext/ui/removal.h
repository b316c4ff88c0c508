// The question asked before bookmarks are removed, by the menu's Unbookmark and by the manager.
#pragma once
#include <windows.h>
#include <cstddef>

namespace dv::ui {

// Asks "Remove "<name>" from Dirvane Bookmarks?..." (Yes/No, warning icon) over owner; true for Yes.
// With more items to go as well, "Remove "<name>" + <more> more items from...". A name of any
// length is shown whole.
bool ConfirmRemoval(HWND owner, const wchar_t* name, size_t more = 0);

} // namespace dv::ui
