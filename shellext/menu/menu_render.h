// Shows the menu model in the host's menu: the images it needs, the items it inserts, and the
// images the handler draws itself on Windows XP.
#pragma once
#include "menu_model.h"
#include "ui/images.h"
#include "common/handles.h"
#include <windows.h>

namespace dv::menu {

// The menu's images: the product and update icons, their alpha bitmaps (Vista on), the colour
// swatches and the marks. A resource that cannot be loaded leaves its image empty.
class MenuImages {
public:
    MenuImages();
    MenuImages(const MenuImages&) = delete;
    MenuImages& operator=(const MenuImages&) = delete;

    // The bitmap of an image; colorIndex picks the swatch.
    HBITMAP Bitmap(ImageKind image, UINT colorIndex) const;
    // The icon the handler draws for an owner-drawn product or update image.
    HICON Icon(ImageKind image) const;

private:
    unique_hicon productIcon_, updateIcon_;
    unique_hbitmap productBitmap_, updateBitmap_;
    unique_hbitmap swatches_[ui::kSwatchCount];
    unique_hbitmap classicMark_, editorMark_, copyPathsMark_, commandPromptMark_;
};

// The images of every handler of the process, made on first use (from any thread) and kept while
// an object of the module lives; null when they cannot be made. A handler asks again whenever it
// needs them: it is alive then, so they are the same images.
const MenuImages* SharedMenuImages() noexcept;
// Frees the shared images when no object of the module is alive (its lock count is 0), before the
// module may unload; true then. A later handler makes them again.
bool FreeMenuImagesIfUnused() noexcept;
// Frees them as the module unloads (DllMain), without the lock: no code of the module runs then,
// and a thread holding the lock could be waiting for the loader's.
void FreeMenuImagesAtUnload() noexcept;

// Inserts the model's entries into host: the host menu's own entries from position index on, each
// submenu below its entry. Failures of the menu functions leave the item out; without images
// (null) the items have none.
void RenderMenu(const MenuModel& model, const MenuImages* images, HMENU host, UINT index);

// Answers WM_MEASUREITEM and WM_DRAWITEM for the entries with a drawn image; false when the item is
// none of them.
bool MeasureMenuItem(const MenuModel& model, MEASUREITEMSTRUCT& measure);
bool DrawMenuItem(const MenuModel& model, const MenuImages* images, const DRAWITEMSTRUCT& draw);

} // namespace dv::menu
