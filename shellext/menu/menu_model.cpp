// Building the menu model: the bookmarks in tree order, the fixed commands and the add-on items,
// each with the next identifier of the shell's range.
#include "menu_model.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include "ui/images.h"
#include <shlobj.h>
#include <algorithm>
#include <cstdint>
#include <unordered_set>

namespace dv::menu {

using dv::store::AddOnFlags;
using dv::store::BookmarkItem;
using dv::store::CountDescendants;
using dv::store::IsSeparatorTitle;
using dv::ui::kSwatchCount;

namespace {

// InvokeCommand sees only the low 16 bits of an offset.
constexpr uint64_t kMaxOffsets = 0x10000;

// The parent of the entries of "Dir&vane" until its own entry, which follows them, is added.
constexpr UINT kTopPending = kHostMenu - 1;

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

// A caption as a 260-character buffer holds it.
std::wstring Caption(const std::wstring& text) {
    if (text.size() < kMaxText) return text;
    wchar_t cut[kMaxText];
    CopyText(cut, kMaxText, text.c_str());
    return cut;
}

// "Bookmark "name" + n more items" and its kin, cut to a caption by shortening the name rather
// than losing the end of the text.
std::wstring FormatCaption(UINT formatId, const wchar_t* folderName, int more) {
    // A folder's name is shown as it is: an "&" in it ("R&D") is no accelerator.
    std::wstring escaped;
    for (const wchar_t* c = folderName; *c; ++c) escaped.append(*c == L'&' ? 2 : 1, *c);
    const wchar_t* name = escaped.c_str();
    const std::wstring format = LoadResString(formatId);
    std::wstring text = FormatText(format.c_str(), name, more);
    if (text.size() >= kMaxText) {
        std::wstring shortName(name);
        size_t excess = text.size() - (kMaxText - 1) + 1;  // room for the ellipsis too
        if (excess < shortName.size()) {
            shortName.resize(shortName.size() - excess);
            if (!shortName.empty() && IS_HIGH_SURROGATE(shortName.back())) shortName.pop_back();
            size_t ampersands = 0;  // a cut "&&" would leave an accelerator on the ellipsis
            while (ampersands < shortName.size() && shortName[shortName.size() - 1 - ampersands] == L'&') ++ampersands;
            if (ampersands % 2) shortName.pop_back();
            shortName += L'\x2026';
            text = FormatText(format.c_str(), shortName.c_str(), more);
        }
    }
    return Caption(text);
}

class ModelBuilder {
public:
    ModelBuilder(MenuModel& model, ImageStyle style) : model_(model), style_(style) {}

    MenuEntry& Add(EntryKind kind, UINT parent, UINT helpId, std::wstring caption = std::wstring()) {
        MenuEntry entry;
        entry.offset = model_.UsedIds();
        entry.parent = parent;
        entry.depth = parent == kHostMenu ? 0 : parent == kTopPending ? 1 : model_.entries[parent].depth + 1;
        entry.kind = kind;
        entry.helpId = helpId;
        entry.caption = std::move(caption);
        model_.entries.push_back(std::move(entry));
        return model_.entries.back();
    }

    // An image of the item itself: a bitmap from Windows XP on, drawn by the handler on XP and
    // Server 2003, none before.
    void SetItemImage(MenuEntry& entry, ImageKind image) const {
        entry.image = image;
        entry.imageUse = style_ == ImageStyle::OwnBitmap ? ImageUse::ItemBitmap
                         : style_ == ImageStyle::Callback ? ImageUse::OwnerDrawn
                                                          : ImageUse::None;
    }

    MenuEntry& AddBookmark(EntryKind kind, UINT parent, const BookmarkItem& item) {
        MenuEntry& entry = Add(kind, parent, IDS_HELP_JUMP, kind == EntryKind::BookmarkSeparator ? L"" : Caption(item.title));
        entry.target = item.address;
        if (kind != EntryKind::BookmarkSeparator) {
            entry.colorIndex = item.colorIndex < kSwatchCount ? item.colorIndex : 0;
            if (entry.colorIndex != 0) SetItemImage(entry, ImageKind::Swatch);
        }
        return entry;
    }

    void AddLeaf(UINT parent, const BookmarkItem& item) {
        AddBookmark(IsSeparatorTitle(item.title) ? EntryKind::BookmarkSeparator : EntryKind::Bookmark, parent, item);
    }

    // The bookmarks in tree order, without recursion. An item with children becomes a submenu that
    // starts with the item's own folder and a separator; the children of a separator follow it in
    // the same menu. No more than budget identifiers are given out: the rest of the tree is cut.
    void AddBookmarks(UINT menu, const BookmarkItem& root, uint64_t budget) {
        struct Level {
            UINT menu;
            const BookmarkItem* parent;
            size_t next;
        };
        std::vector<Level> pending{{menu, &root, 0}};
        while (!pending.empty()) {
            if (pending.back().next >= pending.back().parent->children.size()) {
                pending.pop_back();
                continue;
            }
            const UINT parent = pending.back().menu;
            const BookmarkItem& item = *pending.back().parent->children[pending.back().next++];
            const uint64_t left = budget - model_.UsedIds();
            if (left == 0) return;

            if (item.children.empty() || IsSeparatorTitle(item.title)) {
                AddLeaf(parent, item);
                if (!item.children.empty()) pending.push_back({parent, &item, 0});
                continue;
            }
            if (left < 2) return;  // a submenu needs its own item and at least one entry

            // The submenu item jumps to the item's folder too, should it be invoked by its offset.
            const UINT inner = AddBookmark(EntryKind::BookmarkFolder, parent, item).offset;
            if (!item.address.empty()) {
                AddLeaf(inner, item);
                if (budget - model_.UsedIds() >= 2) Add(EntryKind::BookmarkSeparator, inner, IDS_HELP_JUMP);
            }
            pending.push_back({inner, &item, 0});
        }
    }

private:
    MenuModel& model_;
    ImageStyle style_;
};

} // namespace

const MenuEntry* MenuModel::Find(EntryKind kind) const {
    for (const MenuEntry& entry : entries)
        if (entry.kind == kind) return &entry;
    return nullptr;
}

const std::wstring& MenuModel::TargetAt(UINT_PTR offset) const {
    static const std::wstring kNone;
    const MenuEntry* entry = At(offset);
    return entry ? entry->target : kNone;
}

std::wstring MenuModel::HelpText(UINT_PTR offset) const {
    const MenuEntry* entry = At(offset);
    switch (entry ? entry->kind : EntryKind::Separator) {
    case EntryKind::BookmarkCommand:
    case EntryKind::Properties:
    case EntryKind::Editor:
    case EntryKind::CopyPaths:
    case EntryKind::CommandPrompt:
        return LoadResString(entry->helpId);
    default:
        if (offset < jumpRange) return FormatText(LoadResString(IDS_HELP_JUMP).c_str(), TargetAt(offset).c_str());
        return LoadResString(IDS_HELP_DEFAULT);
    }
}

bool MenuWanted(UINT flags) {
    if (flags & (CMF_DEFAULTONLY | CMF_VERBSONLY)) return false;
    return !(flags & CMF_NOVERBS) || (flags & CMF_EXPLORE);
}

MenuModel BuildMenuModel(const BookmarkItem* root, const MenuSelection& selection, const MenuRequest& request) {
    MenuModel model;
    model.firstId = request.firstId;
    const UINT flags = request.flags;
    if (!MenuWanted(flags) || selection.count == 0) return model;

    const bool offerEditor =
        HasAddOn(request.addOns, AddOnFlags::NotepadView) && selection.count == 1 && request.firstPathIsFile;
    const bool offerCopyPaths = HasAddOn(request.addOns, AddOnFlags::CopyToClipboard) && request.foregroundOffersCopyPaths;
    const bool offerCommandPrompt = HasAddOn(request.addOns, AddOnFlags::RunCmd) && !IsNamespacePath(selection.firstPath);
    const bool update = request.updateAvailable;

    // The identifiers the fixed items need; the bookmarks get what is left of the shell's range.
    const uint64_t fixedIds = 1 /* separator */ + 1 /* bookmark command */ + 1 /* Properties... */ +
                              (update ? 2 : 0) + 1 /* top-level item */ + offerEditor + offerCopyPaths +
                              offerCommandPrompt;
    const UINT firstId = request.firstId, lastId = request.lastId;
    const uint64_t range = lastId >= firstId ? std::min<uint64_t>(uint64_t(lastId) - firstId + 1, kMaxOffsets) : 0;
    if (range < fixedIds + 1) return model;  // not even room for the list's first entry

    ModelBuilder builder(model, request.imageStyle);
    model.toBookmark = selection.paths;
    model.ownPathOnly = selection.ownPathOnly;
    if (root) {
        builder.AddBookmarks(kTopPending, *root, range - fixedIds);
        model.jumpRange = std::max<size_t>(CountDescendants(*root), model.UsedIds());
        // Paths that are bookmarks anywhere in the tree, offered in the menu or not, count as bookmarked.
        const auto bookmarked = FoldedAddresses(*root);
        auto firstBookmarked = std::stable_partition(
            model.toBookmark.begin(), model.toBookmark.end(),
            [&](const std::wstring& path) { return bookmarked.count(Folded(path)) == 0; });
        model.toUnbookmark.assign(firstBookmarked, model.toBookmark.end());
        model.toBookmark.erase(firstBookmarked, model.toBookmark.end());
    }

    if (model.UsedIds() == 0) builder.Add(EntryKind::EmptyList, kTopPending, IDS_HELP_DEFAULT, Caption(LoadResString(IDS_EMPTY_LIST))).enabled = false;
    builder.Add(EntryKind::Separator, kTopPending, IDS_HELP_DEFAULT);
    const wchar_t* name = selection.displayName;
    const size_t bookmarkedCount = model.toUnbookmark.size(), unbookmarkedCount = model.toBookmark.size();
    builder.Add(EntryKind::BookmarkCommand, kTopPending, IDS_HELP_BOOKMARK,
                model.AllBookmarked() && bookmarkedCount > 1 ? FormatCaption(IDS_UNBOOKMARK_MANY, name, int(bookmarkedCount - 1))
                : model.AllBookmarked()                      ? FormatCaption(IDS_UNBOOKMARK, name, 0)
                : unbookmarkedCount == 1                     ? FormatCaption(IDS_BOOKMARK_ONE, name, 0)
                                                             : FormatCaption(IDS_BOOKMARK_MANY, name, int(unbookmarkedCount - 1)));
    builder.Add(EntryKind::Properties, kTopPending, IDS_HELP_PROPERTIES, Caption(LoadResString(IDS_PROPERTIES)));
    if (update) {
        builder.Add(EntryKind::Separator, kTopPending, IDS_HELP_DEFAULT);
        builder.SetItemImage(builder.Add(EntryKind::Update, kTopPending, IDS_HELP_DEFAULT, Caption(LoadResString(IDS_UPDATE_AVAILABLE))),
                             ImageKind::Update);
    }

    // The top-level item follows everything it holds.
    MenuEntry& topEntry = builder.Add(EntryKind::Top, kHostMenu, IDS_HELP_DEFAULT, Caption(LoadResString(IDS_PRODUCT_NAME)));
    builder.SetItemImage(topEntry, ImageKind::Product);
    if (request.imageStyle == ImageStyle::CheckMarkOnly) {
        topEntry.image = ImageKind::ClassicMark;
        topEntry.imageUse = ImageUse::CheckMark;
    }
    const UINT topOffset = topEntry.offset;
    for (MenuEntry& entry : model.entries) {
        if (entry.parent == kTopPending) entry.parent = topOffset;
    }

    // The add-on items follow one another right below the top-level item.
    auto addOn = [&](EntryKind kind, UINT captionId, UINT helpId, ImageKind mark) {
        MenuEntry& entry = builder.Add(kind, kHostMenu, helpId, Caption(LoadResString(captionId)));
        entry.image = mark;
        entry.imageUse = ImageUse::CheckMark;
    };
    if (offerEditor) addOn(EntryKind::Editor, IDS_OPEN_IN_EDITOR, IDS_HELP_EDITOR, ImageKind::EditorMark);
    if (offerCopyPaths) {
        // A background menu copies the folder's own path rather than the view's selection.
        const bool upperBits = (flags & 0xFFFF0000) != 0;
        if ((upperBits && (flags & CMF_NODEFAULT)) || (!upperBits && (flags & CMF_CANRENAME))) model.ownPathOnly = true;
        addOn(EntryKind::CopyPaths, IDS_COPY_PATHS, IDS_HELP_COPY_PATHS, ImageKind::CopyPathsMark);
    }
    if (offerCommandPrompt)
        addOn(EntryKind::CommandPrompt, IDS_COMMAND_PROMPT, IDS_HELP_COMMAND_PROMPT, ImageKind::CommandPromptMark);
    return model;
}

} // namespace dv::menu
