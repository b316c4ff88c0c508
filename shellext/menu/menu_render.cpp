// The Win32 side of the menu: images, items and owner draw.
#include "menu_render.h"
#include "common/com.h"
#include "common/system.h"
#include "common/trace.h"
#include <new>
#include "res/resource.h"

namespace dv::menu {

using dv::ui::ColorOfIndex;
using dv::ui::IconToAlphaBitmap;
using dv::ui::MakeSwatchBitmaps;
using dv::ui::kSwatchCount;
using dv::ui::kSwatchSize;

namespace {

unique_hicon LoadSmallIcon(UINT id) {
    return unique_hicon(static_cast<HICON>(
        ::LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR)));
}

unique_hbitmap LoadBitmapResource(UINT id) { return unique_hbitmap(::LoadBitmapW(ResourceInstance(), MAKEINTRESOURCEW(id))); }

MenuImages* g_sharedImages = nullptr;  // guarded by the module's creation lock

} // namespace

const MenuImages* SharedMenuImages() noexcept {
    ModuleState& module = Module();
    if (!module.IsInitialized()) return nullptr;
    ::EnterCriticalSection(&module.CreationLock());
    if (!g_sharedImages) {
        g_sharedImages = new (std::nothrow) MenuImages();
        if (!g_sharedImages) DV_TRACE(L"no memory for the menu images");
    }
    const MenuImages* images = g_sharedImages;
    ::LeaveCriticalSection(&module.CreationLock());
    return images;
}

bool FreeMenuImagesIfUnused() noexcept {
    ModuleState& module = Module();
    if (!module.IsInitialized()) return module.GetLockCount() == 0;
    ::EnterCriticalSection(&module.CreationLock());
    // Under the lock that making them takes: a handler that comes after this check makes them anew.
    const bool unused = module.GetLockCount() == 0;
    if (unused) {
        delete g_sharedImages;
        g_sharedImages = nullptr;
    }
    ::LeaveCriticalSection(&module.CreationLock());
    return unused;
}

void FreeMenuImagesAtUnload() noexcept {
    delete g_sharedImages;
    g_sharedImages = nullptr;
}

MenuImages::MenuImages() {
    productIcon_ = LoadSmallIcon(IDI_PRODUCT);
    updateIcon_ = LoadSmallIcon(IDI_UPDATE);
    if (IsVistaOrLater()) {
        productBitmap_.reset(IconToAlphaBitmap(productIcon_.get()));
        updateBitmap_.reset(IconToAlphaBitmap(updateIcon_.get()));
    }
    MakeSwatchBitmaps(swatches_);
    classicMark_ = LoadBitmapResource(IDB_CLASSIC_MARK);
    editorMark_ = LoadBitmapResource(IDB_EDITOR_MARK);
    copyPathsMark_ = LoadBitmapResource(IDB_COPY_PATHS_MARK);
    commandPromptMark_ = LoadBitmapResource(IDB_COMMAND_PROMPT_MARK);
}

HBITMAP MenuImages::Bitmap(ImageKind image, UINT colorIndex) const {
    switch (image) {
    case ImageKind::Product: return productBitmap_.get();
    case ImageKind::Update: return updateBitmap_.get();
    case ImageKind::Swatch: return colorIndex < kSwatchCount ? swatches_[colorIndex].get() : nullptr;
    case ImageKind::ClassicMark: return classicMark_.get();
    case ImageKind::EditorMark: return editorMark_.get();
    case ImageKind::CopyPathsMark: return copyPathsMark_.get();
    case ImageKind::CommandPromptMark: return commandPromptMark_.get();
    case ImageKind::None: break;
    }
    return nullptr;
}

HICON MenuImages::Icon(ImageKind image) const {
    return image == ImageKind::Product ? productIcon_.get() : image == ImageKind::Update ? updateIcon_.get() : nullptr;
}

void RenderMenu(const MenuModel& model, const MenuImages* images, HMENU host, UINT index) {
    if (!host || model.entries.empty()) return;
    // Each submenu's menu, by its entry's offset. The top-level entry follows the entries it holds:
    // its menu is made first and belongs to this function until the entry is in the host menu.
    std::vector<HMENU> menus(model.entries.size(), nullptr);
    unique_hmenu topMenu;
    if (const MenuEntry* top = model.Find(EntryKind::Top)) {
        topMenu.reset(::CreatePopupMenu());
        menus[top->offset] = topMenu.get();
    }
    UINT hostPosition = index;
    for (const MenuEntry& entry : model.entries) {
        const bool inHost = entry.parent == kHostMenu;
        HMENU menu = inHost ? host : entry.parent < menus.size() ? menus[entry.parent] : nullptr;
        if (!menu) continue;  // its submenu could not be made
        const bool opensSubmenu = entry.kind == EntryKind::Top || entry.kind == EntryKind::BookmarkFolder;
        unique_hmenu ownSubmenu;
        if (opensSubmenu && entry.kind != EntryKind::Top) {
            ownSubmenu.reset(::CreatePopupMenu());
            menus[entry.offset] = ownSubmenu.get();
        }

        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID;
        info.wID = model.firstId + entry.offset;
        if (entry.kind == EntryKind::Separator || entry.kind == EntryKind::BookmarkSeparator) {
            info.fMask |= MIIM_FTYPE;
            info.fType = MFT_SEPARATOR;
        } else {
            info.fMask |= MIIM_STRING;
            info.dwTypeData = const_cast<wchar_t*>(entry.caption.c_str());
        }
        if (!entry.enabled) {
            info.fMask |= MIIM_STATE;
            info.fState = MF_GRAYED;
        }
        if (opensSubmenu) {
            info.fMask |= MIIM_SUBMENU;
            info.hSubMenu = menus[entry.offset];
            if (!info.hSubMenu) continue;
        }
        switch (entry.imageUse) {
        case ImageUse::None: break;
        case ImageUse::ItemBitmap:
            info.fMask |= MIIM_BITMAP;
            info.hbmpItem = images ? images->Bitmap(entry.image, entry.colorIndex) : nullptr;
            break;
        case ImageUse::OwnerDrawn:
            info.fMask |= MIIM_BITMAP;
            info.hbmpItem = HBMMENU_CALLBACK;
            break;
        case ImageUse::CheckMark:
            info.fMask |= MIIM_CHECKMARKS;
            info.hbmpUnchecked = images ? images->Bitmap(entry.image, entry.colorIndex) : nullptr;
            break;
        }
        const UINT position = inHost ? hostPosition++ : static_cast<UINT>(::GetMenuItemCount(menu));
        if (!::InsertMenuItemW(menu, position, TRUE, &info)) {
            if (opensSubmenu) menus[entry.offset] = nullptr;  // its entries have no menu to go into
            continue;
        }
        // A submenu in a menu is that menu's now.
        if (entry.kind == EntryKind::Top) topMenu.release();
        ownSubmenu.release();
    }
}

bool MeasureMenuItem(const MenuModel& model, MEASUREITEMSTRUCT& measure) {
    const MenuEntry* entry = model.WithId(measure.itemID);
    if (!entry || !HasDrawnImage(*entry)) return false;
    measure.itemWidth += 2;
    if (measure.itemHeight < 16) measure.itemHeight = 16;
    return true;
}

bool DrawMenuItem(const MenuModel& model, const MenuImages* images, const DRAWITEMSTRUCT& draw) {
    const MenuEntry* entry = model.WithId(draw.itemID);
    if (!entry || !HasDrawnImage(*entry)) return false;
    const RECT& rc = draw.rcItem;
    const LONG height = rc.bottom - rc.top;
    if (entry->kind == EntryKind::Top || entry->kind == EntryKind::Update) {
        HICON icon = images ? images->Icon(entry->kind == EntryKind::Top ? ImageKind::Product : ImageKind::Update) : nullptr;
        if (icon) ::DrawIconEx(draw.hDC, rc.left - 16, rc.top + (height - 16) / 2, icon, 16, 16, 0, nullptr, DI_NORMAL);
        return true;
    }
    unique_hbrush brush(::CreateSolidBrush(ColorOfIndex(entry->colorIndex)));
    select_object brushSelected(draw.hDC, brush.get());
    const LONG top = rc.top + (height - kSwatchSize) / 2;
    ::Rectangle(draw.hDC, rc.left - 16, top, rc.left - 2, top + kSwatchSize);
    return true;
}

} // namespace dv::menu
