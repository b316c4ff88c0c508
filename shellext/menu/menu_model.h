// The context menu as plain data: what a right-click offers, built from the bookmark tree, the
// selection and the shell's request, with no menu handle, no drawing and no COM. Renderers turn it
// into the host's menu; command dispatch, help texts and owner draw look its entries up by offset.
#pragma once
#include "common/text.h"
#include "store/settings.h"
#include <windows.h>
#include <string>
#include <vector>

namespace dv::store {
struct BookmarkItem;
}

namespace dv::menu {

constexpr UINT kNoCommand = 0xFFFFFFFF;

enum class EntryKind : unsigned char {
    Bookmark,           // jumps to its folder
    BookmarkFolder,     // a bookmark with children: a submenu
    BookmarkSeparator,  // a "-" of the tree, or the line under a submenu's own folder
    EmptyList,          // "(Empty List)", greyed
    Separator,          // a line between the fixed parts
    BookmarkCommand,    // bookmarks or unbookmarks the selection
    Properties,         // opens the manager
    Update,             // opens the manager with its update offer
    Top,                // "Dir&vane", the submenu of everything above
    Editor,             // add-on items of the host menu
    CopyPaths,
    CommandPrompt,
};

// Which image an entry shows, and how the running Windows generation shows it.
enum class ImageKind : unsigned char { None, Product, Update, Swatch, ClassicMark, EditorMark, CopyPathsMark, CommandPromptMark };
enum class ImageUse : unsigned char { None, ItemBitmap, OwnerDrawn, CheckMark };
enum class ImageStyle : unsigned char { CheckMarkOnly, OwnBitmap, Callback };  // 2000 and older, Vista on, XP

// The menu of the entry that holds the host menu's own entries.
constexpr UINT kHostMenu = kNoCommand;

struct MenuEntry {
    UINT offset = 0;            // command identifier minus the shell's first identifier
    UINT parent = kHostMenu;    // offset of the submenu entry that holds this one
    UINT depth = 0;             // 0 in the host menu, 1 in "Dir&vane", 2 in a bookmark's submenu...
    EntryKind kind = EntryKind::Separator;
    ImageKind image = ImageKind::None;
    ImageUse imageUse = ImageUse::None;
    bool enabled = true;
    UINT colorIndex = 0;        // 0 (none) to 10
    UINT helpId = 0;            // string of its help text (IDS_HELP_JUMP is formatted with target)
    std::wstring caption;       // at most kMaxText - 1 characters
    std::wstring target;        // the folder a bookmark entry jumps to
};

// What Initialize made of the shell's input.
struct MenuSelection {
    std::vector<std::wstring> paths;     // sorted descending, only A-Z folded, no duplicates
    wchar_t firstPath[kMaxText] = {};
    wchar_t displayName[kMaxText] = {};  // short name of firstPath
    UINT count = 0;
    bool ownPathOnly = false;            // a folder's background: copy paths copies firstPath
};

// The shell's request and the facts of the system that the menu depends on.
struct MenuRequest {
    UINT firstId = 0;
    UINT lastId = 0;
    UINT flags = 0;  // CMF_*
    ImageStyle imageStyle = ImageStyle::OwnBitmap;
    store::AddOnFlags addOns = store::AddOnFlags::None;
    bool updateAvailable = false;
    bool firstPathIsFile = false;             // an existing file, not a folder
    bool foregroundOffersCopyPaths = false;   // the foreground window has no copy-paths command of its own
};

struct MenuModel {
    UINT firstId = 0;
    std::vector<MenuEntry> entries;          // one per identifier, by offset
    size_t jumpRange = 0;                    // offsets below it that are no command jump (the tree's item count at least)
    std::vector<std::wstring> toBookmark;    // the selected paths that are no bookmark yet
    std::vector<std::wstring> toUnbookmark;  // ... and those that are
    bool ownPathOnly = false;                // copy paths copies the first path rather than the view's selection

    UINT UsedIds() const { return static_cast<UINT>(entries.size()); }
    bool AllBookmarked() const { return toBookmark.empty(); }
    const MenuEntry* At(UINT_PTR offset) const { return offset < entries.size() ? &entries[offset] : nullptr; }
    const MenuEntry* WithId(UINT id) const { return At(UINT(id - firstId)); }
    const MenuEntry* Find(EntryKind kind) const;
    // The folder a jump by offset goes to: a bookmark entry's target, empty elsewhere.
    const std::wstring& TargetAt(UINT_PTR offset) const;
    // The help text the shell shows for the entry at offset.
    std::wstring HelpText(UINT_PTR offset) const;
};

// False when the shell's flags (CMF_*) ask for no items: the default verb only, verbs only, or
// no verbs outside the Explorer tree.
bool MenuWanted(UINT flags);

// The menu for one right-click. root may be null (the store could not be read); an empty model
// when the flags ask for no items, the selection is empty or the shell's range is too small.
MenuModel BuildMenuModel(const store::BookmarkItem* root, const MenuSelection& selection, const MenuRequest& request);

// True for the entries the host draws through the handler when their image is owner drawn.
inline bool HasDrawnImage(const MenuEntry& entry) {
    return entry.kind == EntryKind::Top || entry.kind == EntryKind::Update || entry.image == ImageKind::Swatch;
}

} // namespace dv::menu
