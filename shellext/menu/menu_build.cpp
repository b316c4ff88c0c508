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

// One look at the disk: an existing file, not a folder.
bool IsExistingFile(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Foreground windows whose own commands cover copying paths: the desktop and the file managers
// with a command line.
bool ForegroundOffersCopyPaths() {
    HWND foreground = ::GetForegroundWindow();
    if (foreground && foreground == ::GetShellWindow()) return false;
    return nav::ClassifyTargetWindow(foreground) != nav::TargetWindowKind::CommanderWindow;
}

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
    request.firstPathIsFile = IsExistingFile(selection.firstPath);
    request.foregroundOffersCopyPaths = ForegroundOffersCopyPaths();
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

        StartDailyUpdateCheck();
        model_ = BuildCurrentMenuModel(selection_, firstId, lastId, flags, UpdateIsAvailable());
        RenderMenu(model_, SharedMenuImages(), menu, index);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        // Out of memory: what was added stays, with its identifiers counted.
    }
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, model_.UsedIds());
}

} // namespace dv::menu
