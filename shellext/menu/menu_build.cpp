// QueryContextMenu: the "Dir&vane" submenu with the bookmarks and the fixed commands, and the
// add-on items below it.
#include "context_menu.h"
#include "common/trace.h"
#include "navigate/navigate.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include "common/system.h"
#include <shlwapi.h>

namespace dv::menu {

using dv::store::BookmarkTreePtr;
using dv::store::LoadBookmarkTree;
using dv::store::ReadAddOnFlags;
using dv::store::ReleaseBookmarkTree;

namespace {

// Foreground windows whose own commands cover copying paths: the desktop and the file managers
// with a command line.
bool WindowOffersCopyPaths(HWND window) {
    if (window && window == ::GetShellWindow()) return false;
    return nav::ClassifyTargetWindow(window) != nav::TargetWindowKind::CommanderWindow;
}

// The answer for the last foreground window: its class, and being the shell's window, do not
// change while it lives, and each look at another process's window is a round trip to the system.
class ForegroundMemo {
public:
    bool OffersCopyPaths() {
        HWND foreground = ::GetForegroundWindow();
        {
            srw_exclusive hold(lock_);
            if (foreground && foreground == window_) return offers_;
        }
        const bool offers = WindowOffersCopyPaths(foreground);
        srw_exclusive hold(lock_);
        window_ = foreground;
        offers_ = offers;
        return offers;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    HWND window_ = nullptr;
    bool offers_ = true;
};

ForegroundMemo g_foreground;

} // namespace

bool MenuHasItemText(HMENU menu, std::initializer_list<const wchar_t*> texts) {
    if (!menu) return false;
    const int count = ::GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        wchar_t caption[kMaxText] = {};
        if (::GetMenuStringW(menu, position, caption, kMaxText, MF_BYPOSITION) <= 0) continue;
        for (const wchar_t* text : texts) {
            if (text && wcsstr(caption, text)) return true;
        }
    }
    return false;
}

bool MenuHasItemText(HMENU menu, const wchar_t* text) { return MenuHasItemText(menu, {text}); }

bool MenuHasItemText(HMENU menu, UINT stringId) {
    return MenuHasItemText(menu, LoadResString(stringId).c_str());
}

MenuModel BuildCurrentMenuModel(const MenuSelection& selection, UINT firstId, UINT lastId, UINT flags,
                                bool updateAvailable) {
    MenuRequest request;
    request.firstId = firstId;
    request.lastId = lastId;
    request.flags = flags;
    request.imageStyle = IsPreXpWindows() ? ImageStyle::CheckMarkOnly
                         : IsVistaOrLater() ? ImageStyle::OwnBitmap
                                            : ImageStyle::Callback;
    request.addOns = ReadAddOnFlags();
    request.updateAvailable = updateAvailable;
    // A background's path is the view's own folder: no look at the disk for it.
    request.firstPathIsFile = !selection.ownPathOnly && IsExistingFile(selection.firstPath);
    // Looks at other processes' windows, only for the add-on that needs them.
    request.foregroundOffersCopyPaths =
        HasAddOn(request.addOns, store::AddOnFlags::CopyToClipboard) && g_foreground.OffersCopyPaths();
    BookmarkTreePtr tree = LoadBookmarkTree();
    MenuModel model = BuildMenuModel(tree ? &tree->root : nullptr, selection, request);
    ReleaseBookmarkTree(tree);
    return model;
}

STDMETHODIMP CDirvaneContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId, UINT flags) {
    try {
        model_ = MenuModel();
        model_.firstId = firstId;
        if (!MenuWanted(flags) || !menu || selection_.count == 0) return S_OK;
        // Registered for several classes, the handler may be asked twice for one menu: only the first adds.
        if (MenuHasItemText(menu, {LoadResString(IDS_PRODUCT_NAME).c_str(), LoadResString(IDS_COPY_PATHS).c_str()}))
            return S_OK;

        model_ = BuildCurrentMenuModel(selection_, firstId, lastId, flags, UpdateIsAvailable());
        RenderMenu(model_, SharedMenuImages(), menu, index);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        // Out of memory: what was added stays, with its identifiers counted.
    }
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, model_.UsedIds());
}

} // namespace dv::menu
