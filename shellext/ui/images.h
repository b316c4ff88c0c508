// Images that the menu and the manager share: the colour swatches of the bookmarks' colour marks,
// icons turned into alpha bitmaps, and the shell's small icons.
#pragma once
#include "common/handles.h"
#include "store/bookmarks.h"
#include <windows.h>
#include <commctrl.h>
#include <cstddef>

namespace dv::ui {

// One swatch per colour index: 0 (none) to 10.
constexpr size_t kSwatchCount = store::kColorCount;
// Side of a swatch in pixels.
constexpr int kSwatchSize = 14;

// Fills the eleven slots with 14 x 14, 24-bit sections: index 0 is a white square with a black border
// and a black cross, indexes 1 to 10 their palette colour inside a black border. A slot whose
// section cannot be made stays empty.
void MakeSwatchBitmaps(unique_hbitmap (&swatches)[kSwatchCount]);

// The palette colour of a colour index 1 to 10; CLR_NONE for index 0 (no colour) and anything above 10.
COLORREF ColorOfIndex(UINT colorIndex);

// A 32-bit bitmap with premultiplied alpha at the small-icon size, drawn from the icon; an icon
// without alpha becomes opaque where its mask is clear and transparent where it is set. Needs the
// theme library already loaded in the process (it is never loaded for this). The caller owns the
// result; null on failure.
HBITMAP IconToAlphaBitmap(HICON icon);

// The system image list of small icons. It belongs to the system: never destroy it.
HIMAGELIST GetSmallSystemImageList();

// Index of the path's small icon in that list (file-system or namespace path); 0 when it cannot.
int GetShellIconIndex(const wchar_t* path);

} // namespace dv::ui
