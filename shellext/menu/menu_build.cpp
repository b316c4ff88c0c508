// QueryContextMenu: the "Dir&vane" submenu with the bookmarks and the fixed commands, and the
// add-on items below it.
#include "context_menu.h"
#include "common/trace.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include "common/system.h"
#include <shlwapi.h>
#include <algorithm>
#include <unordered_set>

namespace dv {

namespace {

// InvokeCommand sees only the low 16 bits of an offset.
constexpr uint64_t kMaxOffsets = 0x10000;

std::wstring Folded(const std::wstring& text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) c = FoldAZ(c);
    return folded;
}

// Every address of the tree, with only A-Z folded: what counts as bookmarked.
std::unordered_set<std::wstring> FoldedAddresses(const BookmarkItem& root) {
    std::unordered_set<std::wstring> addresses;
    std::vector<const BookmarkItem*> pending{&root};
    while (!pending.empty()) {
        const BookmarkItem* item = pending.back();
        pending.pop_back();
        if (item != &root) addresses.insert(Folded(item->address));
        for (const auto& child : item->children) pending.push_back(child.get());
    }
    return addresses;
}

// "Bookmark "name" + n more items" and its kin, cut to the caption buffer by shortening the name
// rather than losing the end of the text.
void FormatCaption(wchar_t (&caption)[kMaxText], const std::wstring& format, const wchar_t* name, int more) {
    std::wstring text = FormatText(format.c_str(), name, more);
    if (text.size() >= kMaxText) {
        std::wstring shortName(name);
        size_t excess = text.size() - (kMaxText - 1) + 1;  // room for the ellipsis too
        if (excess < shortName.size()) {
            shortName.resize(shortName.size() - excess);
            if (!shortName.empty() && IS_HIGH_SURROGATE(shortName.back())) shortName.pop_back();
            shortName += L'\x2026';
            text = FormatText(format.c_str(), shortName.c_str(), more);
        }
    }
    CopyText(caption, kMaxText, text.c_str());
}

bool IsExistingFile(const wchar_t* path) { return ::PathFileExistsW(path) && !::PathIsDirectoryW(path); }

// Foreground windows whose own commands cover copying paths: the desktop and two file managers.
bool ForegroundOffersCopyPaths() {
    HWND foreground = ::GetForegroundWindow();
    if (foreground && foreground == ::GetShellWindow()) return false;
    wchar_t className[kMaxText] = {};
    if (foreground) ::GetClassNameW(foreground, className, kMaxText);
    return wcscmp(className, L"TWINDOWSCMD") != 0 && wcscmp(className, L"TTOTAL_CMD") != 0;
}

} // namespace

bool MenuHasItemText(HMENU menu, const wchar_t* text) {
    if (!menu || !text) return false;
    int count = ::GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        wchar_t caption[kMaxText] = {};
        if (::GetMenuStringW(menu, position, caption, kMaxText, MF_BYPOSITION) > 0 && wcsstr(caption, text))
            return true;
    }
    return false;
}

bool MenuHasItemText(HMENU menu, UINT stringId) {
    return MenuHasItemText(menu, LoadResString(stringId).c_str());
}

void CDirvaneContextMenu::SetItemImage(MENUITEMINFOW& info, HBITMAP bitmap) const {
    switch (imageStyle) {
    case ImageStyle::CheckMarkOnly:
        break;
    case ImageStyle::OwnBitmap:
        info.fMask |= MIIM_BITMAP;
        info.hbmpItem = bitmap;
        break;
    case ImageStyle::Callback:
        info.fMask |= MIIM_BITMAP;
        info.hbmpItem = HBMMENU_CALLBACK;
        break;
    }
}

void CDirvaneContextMenu::StoreJumpTarget(const std::wstring& address) {
    if (usedIds >= jumpTargets.size()) jumpTargets.resize(usedIds + 1);
    jumpTargets[usedIds] = address;
}

void CDirvaneContextMenu::AddBookmarkItem(HMENU menu, const BookmarkItem& item) {
    StoreJumpTarget(item.address);
    if (IsSeparatorTitle(item.title)) {
        ::AppendMenuW(menu, MF_SEPARATOR, nextId, nullptr);
    } else {
        const UINT color = item.colorIndex < kSwatchCount ? item.colorIndex : 0;
        bookmarkColors[nextId] = color;
        CopyText(captionBuffer, kMaxText, item.title.c_str());
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_STRING;
        info.wID = nextId;
        info.dwTypeData = captionBuffer;
        if (color != 0) SetItemImage(info, swatchBitmaps[color].get());
        ::InsertMenuItemW(menu, ::GetMenuItemCount(menu), TRUE, &info);
    }
    Advance();
}

// The bookmarks in tree order, without recursion. An item with children becomes a submenu that
// starts with the item's own folder and a separator; the children of a separator follow it in the
// same menu. No more than budget identifiers are given out: the rest of the tree is cut.
void CDirvaneContextMenu::AddBookmarkItems(HMENU submenu, const BookmarkItem& root, uint64_t budget) {
    struct Level {
        HMENU menu;
        const BookmarkItem* parent;
        size_t next;
    };
    std::vector<Level> pending{{submenu, &root, 0}};
    while (!pending.empty()) {
        if (pending.back().next >= pending.back().parent->children.size()) {
            pending.pop_back();
            continue;
        }
        HMENU menu = pending.back().menu;
        const BookmarkItem& item = *pending.back().parent->children[pending.back().next++];
        const uint64_t left = budget - usedIds;
        if (left == 0) return;

        if (item.children.empty() || IsSeparatorTitle(item.title)) {
            AddBookmarkItem(menu, item);
            if (!item.children.empty()) pending.push_back({menu, &item, 0});
            continue;
        }
        if (left < 2) return;  // a submenu needs its own item and at least one entry

        // The submenu item jumps to the item's folder too, should it be invoked by its offset.
        StoreJumpTarget(item.address);
        const UINT color = item.colorIndex < kSwatchCount ? item.colorIndex : 0;
        bookmarkColors[nextId] = color;
        unique_hmenu inner(::CreatePopupMenu());
        CopyText(captionBuffer, kMaxText, item.title.c_str());
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        info.wID = nextId;
        info.hSubMenu = inner.get();
        info.dwTypeData = captionBuffer;
        if (color != 0) SetItemImage(info, swatchBitmaps[color].get());
        bool inserted = inner && ::InsertMenuItemW(menu, ::GetMenuItemCount(menu), TRUE, &info);
        Advance();
        if (!inserted) continue;  // the children have no menu to go into
        HMENU innerMenu = inner.release();  // owned by the menu now

        if (!item.address.empty()) {
            AddBookmarkItem(innerMenu, item);
            if (budget - usedIds >= 2) {
                StoreJumpTarget(std::wstring());
                ::AppendMenuW(innerMenu, MF_SEPARATOR, nextId, nullptr);
                Advance();
            }
        }
        pending.push_back({innerMenu, &item, 0});
    }
}

STDMETHODIMP CDirvaneContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId, UINT flags) {
    bookmarkCmd = propertiesCmd = editorCmd = copyPathsCmd = updateCmd = commandPromptCmd = kNoCommand;
    topItemId = kNoCommand;
    usedIds = 0;
    nextId = firstId;
    allBookmarked = false;
    auto added = [this]() { return MAKE_HRESULT(SEVERITY_SUCCESS, 0, usedIds); };

    if (flags & (CMF_DEFAULTONLY | CMF_VERBSONLY)) return added();
    if ((flags & (CMF_DEFAULTONLY | CMF_VERBSONLY | CMF_EXPLORE | CMF_NOVERBS)) && !(flags & CMF_EXPLORE))
        return added();
    if (!menu) return added();

    try {
        const std::wstring productName = LoadResString(IDS_PRODUCT_NAME);
        // Registered for several classes, the handler may be asked twice for one menu: only the first adds.
        if (MenuHasItemText(menu, productName.c_str()) || MenuHasItemText(menu, IDS_COPY_PATHS)) return added();
        if (selectionCount == 0) return added();

        const DWORD addOns = ReadAddOnFlags();
        imageStyle = IsPreXpWindows() ? ImageStyle::CheckMarkOnly
                     : IsVistaOrLater() ? ImageStyle::OwnBitmap
                                        : ImageStyle::Callback;
        const bool update = UpdateIsAvailable();
        const bool offerEditor = (addOns & AddOnNotepadView) && selectionCount == 1 && IsExistingFile(firstPath);
        const bool offerCopyPaths = (addOns & AddOnCopyToClipboard) && ForegroundOffersCopyPaths();
        const bool offerCommandPrompt = (addOns & AddOnRunCmd) && !IsNamespacePath(firstPath);

        // The identifiers the fixed items need; the bookmarks get what is left of the shell's range.
        const uint64_t fixedIds = 1 /* separator */ + 1 /* bookmark command */ + 1 /* Properties... */ +
                                  (update ? 2 : 0) + 1 /* top-level item */ + offerEditor + offerCopyPaths +
                                  offerCommandPrompt;
        const uint64_t range = lastId >= firstId ? std::min<uint64_t>(uint64_t(lastId) - firstId + 1, kMaxOffsets) : 0;
        if (range < fixedIds + 1) return added();  // not even room for the list's first entry
        const uint64_t bookmarkBudget = range - fixedIds;

        unique_hmenu submenu(::CreatePopupMenu());
        jumpTargets.clear();
        bookmarkColors.clear();
        BookmarkTreePtr tree = LoadBookmarkTree();
        if (tree) {
            jumpTargets.resize(CountDescendants(tree->root));
            if (submenu) AddBookmarkItems(submenu.get(), tree->root, bookmarkBudget);
            // Paths that are bookmarks anywhere in the tree, offered in the menu or not, count as bookmarked.
            const auto bookmarked = FoldedAddresses(tree->root);
            // A menu built again starts from the whole selection.
            selection.insert(selection.end(), bookmarkedSelection.begin(), bookmarkedSelection.end());
            SortAndRemoveDuplicatePaths(selection);
            auto firstBookmarked = std::stable_partition(
                selection.begin(), selection.end(),
                [&](const std::wstring& path) { return bookmarked.count(Folded(path)) == 0; });
            bookmarkedSelection.assign(firstBookmarked, selection.end());
            selection.erase(firstBookmarked, selection.end());
            ReleaseBookmarkTree(tree);
        }
        allBookmarked = selection.empty();

        if (usedIds == 0) {
            ::AppendMenuW(submenu.get(), MF_GRAYED | MF_STRING, nextId, LoadResString(IDS_EMPTY_LIST).c_str());
            Advance();
        }
        ::AppendMenuW(submenu.get(), MF_SEPARATOR, nextId, nullptr);
        Advance();

        bookmarkCmd = usedIds;
        if (allBookmarked && bookmarkedSelection.size() > 1)
            FormatCaption(captionBuffer, LoadResString(IDS_UNBOOKMARK_MANY), displayName,
                          int(bookmarkedSelection.size() - 1));
        else if (allBookmarked) FormatCaption(captionBuffer, LoadResString(IDS_UNBOOKMARK), displayName, 0);
        else if (selection.size() == 1) FormatCaption(captionBuffer, LoadResString(IDS_BOOKMARK_ONE), displayName, 0);
        else FormatCaption(captionBuffer, LoadResString(IDS_BOOKMARK_MANY), displayName, int(selection.size() - 1));
        ::AppendMenuW(submenu.get(), MF_STRING, nextId, captionBuffer);
        Advance();

        propertiesCmd = usedIds;
        ::AppendMenuW(submenu.get(), MF_STRING, nextId, LoadResString(IDS_PROPERTIES).c_str());
        Advance();

        if (update) {
            ::AppendMenuW(submenu.get(), MF_SEPARATOR, nextId, nullptr);
            Advance();
            updateCmd = usedIds;
            CopyText(captionBuffer, kMaxText, LoadResString(IDS_UPDATE_AVAILABLE).c_str());
            MENUITEMINFOW info = {sizeof(info)};
            info.fMask = MIIM_ID | MIIM_STRING;
            info.wID = nextId;
            info.dwTypeData = captionBuffer;
            SetItemImage(info, updateBitmap.get());
            ::InsertMenuItemW(submenu.get(), ::GetMenuItemCount(submenu.get()), TRUE, &info);
            Advance();
        }

        topItemId = nextId;
        CopyText(captionBuffer, kMaxText, productName.c_str());
        MENUITEMINFOW top = {sizeof(top)};
        top.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        top.wID = nextId;
        top.hSubMenu = submenu.get();
        top.dwTypeData = captionBuffer;
        SetItemImage(top, menuBitmap.get());
        if (submenu && ::InsertMenuItemW(menu, index, TRUE, &top)) submenu.release();  // the host menu owns it now
        Advance();
        if (imageStyle == ImageStyle::CheckMarkOnly)
            ::SetMenuItemBitmaps(menu, index, MF_BYPOSITION, classicMenuBitmap.get(), nullptr);

        // The add-on items follow one another right below the top-level item.
        UINT position = index;
        auto addOnItem = [&](UINT& command, UINT captionId, HBITMAP mark) {
            command = usedIds;
            ++position;
            ::InsertMenuW(menu, position, MF_BYPOSITION | MF_STRING, nextId, LoadResString(captionId).c_str());
            ::SetMenuItemBitmaps(menu, position, MF_BYPOSITION, mark, nullptr);
            Advance();
        };
        if (offerEditor) addOnItem(editorCmd, IDS_OPEN_IN_EDITOR, editorBitmap.get());
        if (offerCopyPaths) {
            // A background menu copies the folder's own path rather than the view's selection.
            const bool upperBits = (flags & 0xFFFF0000) != 0;
            if ((upperBits && (flags & CMF_NODEFAULT)) || (!upperBits && (flags & CMF_CANRENAME))) ownPathOnly = true;
            addOnItem(copyPathsCmd, IDS_COPY_PATHS, copyPathsBitmap.get());
        }
        if (offerCommandPrompt) addOnItem(commandPromptCmd, IDS_COMMAND_PROMPT, commandPromptBitmap.get());
    } catch (...) {
        DV_TRACE_EXCEPTION();
        // Out of memory: what was added stays, with its identifiers counted.
    }
    return added();
}

} // namespace dv
