// The bookmark tree: one registry key per item under HKCU\Software\Ostrelan\Dirvane\Items, nested as
// the items are nested, and the in-memory tree that mirrors it. Every change goes through
// BookmarkTree, which writes through to the registry before it returns and reports whether it could.
// A loaded tree is a private snapshot owned by whoever loaded it; all calls on one tree run on the
// thread that owns it.
#pragma once
#include <windows.h>
#include <cstddef>
#include <experimental/propagate_const>
#include <memory>
#include <string>
#include <vector>

namespace dv::store {

// The tree's root key under HKEY_CURRENT_USER; it holds no values of its own.
constexpr wchar_t kItemsKeyPath[] = L"Software\\Ostrelan\\Dirvane\\Items";

// A caption of exactly this text (compared code unit by code unit) makes an item a menu separator.
constexpr wchar_t kSeparatorTitle[] = L"-";
bool IsSeparatorTitle(const wchar_t* title) noexcept;
inline bool IsSeparatorTitle(const std::wstring& title) noexcept { return title == kSeparatorTitle; }

// Colour indexes are 0 (none) and 1 to 10; anything larger is stored and loaded as 0.
constexpr UINT kColorCount = 11;

// One item of a tree. Whoever holds a loaded tree reads its items through const references only:
// const reaches through `parent` and `children`, so that only BookmarkTree, which keeps memory and
// registry in step, changes an item or rewires the tree. Items built outside a tree are plain data.
struct BookmarkItem {
    using Child = std::experimental::propagate_const<std::unique_ptr<BookmarkItem>>;

    DWORD order = 0;        // "Order": 1-based position among the siblings, as last written
    std::wstring keyName;   // the item's subkey name; empty for the root
    std::wstring address;   // "Address", one trailing backslash removed on load
    std::wstring title;     // "Title", the caption
    DWORD colorIndex = 0;   // "ColorIndex", 0 to 10
    std::experimental::propagate_const<BookmarkItem*> parent = nullptr;  // not owning; none for the root
    std::vector<Child> children;                                          // owned, in menu order

    BookmarkItem() = default;
    BookmarkItem(const BookmarkItem&) = delete;
    BookmarkItem& operator=(const BookmarkItem&) = delete;
    // Frees the subtree without recursion, so that no nesting depth can exhaust the stack.
    ~BookmarkItem();
};

// Anchors for BookmarkTree::Move: nullptr places the item first, &kMoveToEnd after the last child,
// any child of the new parent right after that child.
extern const BookmarkItem kMoveToEnd;

// The invisible root and, below it, the bookmarks. Every operation takes items of this tree, writes
// the registry before it returns and changes memory only as the registry changed; it tells whether
// the registry holds the change (false or null: the caller traces it). None throws or shows UI.
// The root itself is never edited, coloured, removed or moved: those operations on it are refused.
class BookmarkTree {
public:
    BookmarkTree() = default;
    BookmarkTree(const BookmarkTree&) = delete;
    BookmarkTree& operator=(const BookmarkTree&) = delete;

    // The root item, read-only.
    const BookmarkItem& root = root_;

    // Appends a new item as parent's last child and writes it into a key created new for it:
    // NextKeyName, or when another process took that name meanwhile (other processes add items while
    // a tree is loaded), the next number free in the registry at that moment; never a key that
    // exists. Its order is the child count, or when a sibling's stored order is that high already,
    // one more than the highest, so that a reload keeps it last; siblings are not renumbered. The
    // parent's key must exist (the root's is made). An empty caption gives DefaultCaption(address).
    // Texts are cut to 259 characters, the most a load reads back. Null, with nothing changed, when
    // no key could be made and filled or memory runs out.
    const BookmarkItem* Add(const BookmarkItem& parent, const wchar_t* address, const wchar_t* caption) noexcept;
    // Add under the root, then WriteChildOrder of the root: the new bookmark is the last top-level item.
    const BookmarkItem* AddBookmark(const wchar_t* address, const wchar_t* caption) noexcept;
    // Replaces both texts (cut to 259 characters; an empty caption stays empty until the next load)
    // and writes "Address" and "Title" into the item's key. False, with the item unchanged, when the
    // key no longer exists (another process may have removed it; it is not made again).
    bool Edit(const BookmarkItem& item, const wchar_t* address, const wchar_t* caption) noexcept;
    // Stores the colour index (kColorCount and above become 0) and writes "ColorIndex" (into an
    // existing key only, as above; false with the item unchanged otherwise).
    bool SetColor(const BookmarkItem& item, UINT index) noexcept;
    // Moves item (with its subtree) under newParent at the anchor's place, in memory and in the
    // registry; a new parent gives the item a key created new there (named as Add names one, never
    // merged into a key that exists) and the whole key moves with it. Then writes the order of
    // newParent's children. False, with nothing changed, when it cannot move: the root, an item into
    // its own subtree, or a new key that cannot be made or filled completely.
    bool Move(const BookmarkItem& item, const BookmarkItem& newParent, const BookmarkItem* anchor) noexcept;
    // Deletes the item's key with all its subkeys, then frees the item with its subtree. False when
    // the key could not be deleted (a key already gone counts as deleted); the item goes all the same.
    bool Remove(const BookmarkItem& item) noexcept;
    // Removes every item whose address equals folder, with only the letters A to Z folded (as the
    // menu decides that a folder is bookmarked), with all the items below it. False when a key could
    // not be deleted.
    bool RemoveBookmarksOf(const wchar_t* folder) noexcept;
    // Puts parent's children in the order listed (children not listed follow, in their old order),
    // then WriteChildOrder.
    bool Reorder(const BookmarkItem& parent, const std::vector<const BookmarkItem*>& order) noexcept;
    // Numbers parent's children 1..n in list order and writes each "Order"; stops at the first child
    // whose key cannot be opened (later children keep their old order) and gives false.
    bool WriteChildOrder(const BookmarkItem& parent) noexcept;

private:
    friend std::unique_ptr<BookmarkTree> LoadBookmarkTree() noexcept;
    BookmarkItem root_;
};
using BookmarkTreePtr = std::unique_ptr<BookmarkTree>;

// Reads the whole tree from the registry, every children list sorted by order. A missing root key
// gives an empty tree; no registry content makes it fail. Null only when memory runs out.
BookmarkTreePtr LoadBookmarkTree() noexcept;
// Frees the tree and all its items; no registry access.
void ReleaseBookmarkTree(BookmarkTreePtr& tree) noexcept;

// The item's key path under HKEY_CURRENT_USER; for the root, the root key.
std::wstring ItemKeyPath(const BookmarkItem& item);
// The decimal name a new child of parent gets: the smallest positive number that no child's name
// reads as.
std::wstring NextKeyName(const BookmarkItem& parent);
// The caption used when none is given: the address's last path component.
std::wstring DefaultCaption(const wchar_t* address);

// Sorts item's children by order (unsigned), then every child's, down the whole subtree. Items with
// equal orders keep their relative position. For items outside a tree; a load sorts its own.
void SortChildrenByOrder(BookmarkItem& item) noexcept;

// True when both items' subtrees hold the same items in the same order: key names, addresses,
// captions and colours (the item's own values are not compared, nor stored orders).
bool SameSubtrees(const BookmarkItem& a, const BookmarkItem& b) noexcept;

// The number of items below item, not counting itself.
size_t CountDescendants(const BookmarkItem& item) noexcept;
// The topmost ancestor: the tree's root item.
const BookmarkItem* RootOf(const BookmarkItem& item) noexcept;

} // namespace dv::store
