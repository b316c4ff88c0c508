// The bookmark tree: one registry key per item under HKCU\Software\Ostrelan\Dirvane\Items, nested as
// the items are nested, and the in-memory tree that mirrors it. Every changing operation writes
// through to the registry before it returns; none reports a registry failure, throws or shows UI.
// A loaded tree is a private snapshot owned by whoever loaded it; all calls on one tree run on the
// thread that owns it.
#pragma once
#include <windows.h>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace dv {

// The tree's root key under HKEY_CURRENT_USER; it holds no values of its own.
constexpr wchar_t kItemsKeyPath[] = L"Software\\Ostrelan\\Dirvane\\Items";

// A caption of exactly this text (compared code unit by code unit) makes an item a menu separator.
constexpr wchar_t SeparatorTitle[] = L"-";
bool IsSeparatorTitle(const wchar_t* title) noexcept;
inline bool IsSeparatorTitle(const std::wstring& title) noexcept { return title == SeparatorTitle; }

// Colour indexes are 0 (none) and 1 to 10; anything larger is stored and loaded as 0.
constexpr UINT kColorCount = 11;

struct BookmarkItem {
    DWORD order = 0;        // "Order": 1-based position among the siblings, as last written
    std::wstring keyName;   // the item's subkey name; empty for the root
    std::wstring address;   // "Address", one trailing backslash removed on load
    std::wstring title;     // "Title", the caption
    DWORD colorIndex = 0;   // "ColorIndex", 0 to 10
    BookmarkItem* parent = nullptr;                      // not owning; none for the root
    std::vector<std::unique_ptr<BookmarkItem>> children; // owned, in menu order

    BookmarkItem() = default;
    BookmarkItem(const BookmarkItem&) = delete;
    BookmarkItem& operator=(const BookmarkItem&) = delete;
    // Frees the subtree without recursion, so that no nesting depth can exhaust the stack.
    ~BookmarkItem();
};

// The invisible root and, below it, the top-level bookmarks.
struct BookmarkTree {
    BookmarkItem root;
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

// Appends a new item as parent's last child (order = the new child count, siblings not renumbered)
// and writes it into a key created new for it: NextKeyName, or when another process took that name
// meanwhile (other processes add items while a tree is loaded), the next number free in the
// registry at that moment; never a key that exists. The parent's key must exist (the root's is made). Without a
// key the item lives in memory only. An empty caption gives DefaultCaption(address). Texts are cut to 259
// characters, the most a load reads back. Null only when memory runs out.
BookmarkItem* AddItem(BookmarkItem& parent, const wchar_t* address, const wchar_t* caption) noexcept;
// AddItem under the root, then WriteChildOrder of the root: the new bookmark is the last top-level item.
BookmarkItem* AddBookmark(BookmarkTree& tree, const wchar_t* address, const wchar_t* caption) noexcept;
// Replaces both texts (cut to 259 characters; an empty caption stays empty until the next load)
// and writes "Address" and "Title" into the item's key if it still exists (another process may have
// removed it; it is not made again).
void SetItemAddressAndTitle(BookmarkItem& item, const wchar_t* address, const wchar_t* caption) noexcept;
// Stores the colour index (kColorCount and above become 0) and writes "ColorIndex" (into an
// existing key only, as above).
void SetColorIndex(BookmarkItem& item, UINT index) noexcept;
// Numbers parent's children 1..n in list order and writes each "Order"; stops at the first child
// whose key cannot be opened.
void WriteChildOrder(BookmarkItem& parent) noexcept;
// Sorts item's children by order (unsigned), then every child's, down the whole subtree. Items with
// equal orders keep their relative position.
void SortChildrenByOrder(BookmarkItem& item) noexcept;

// Anchors for MoveItem: nullptr places the item first, &kMoveToEnd after the last child, any child
// of the new parent right after that child.
extern const BookmarkItem kMoveToEnd;
// Moves item (with its subtree) under newParent at the anchor's place, in memory and in the
// registry; a new parent gives the item a key created new there (named as AddItem names one, never
// merged into a key that exists) and the whole key moves with it. Then writes the order of
// newParent's children. False, with nothing changed, when it cannot move: the root, an item into
// its own subtree, or a new key that cannot be made or filled completely.
bool MoveItem(BookmarkItem& item, BookmarkItem& newParent, const BookmarkItem* anchor) noexcept;

// Deletes the item's key with all its subkeys; the in-memory item is untouched. Never the root key.
void DeleteItemKey(const BookmarkItem& item) noexcept;
// Frees the item with its subtree and removes it from its parent's children; no registry access.
// For the root (owned by its tree) only the children go.
void DestroyItem(BookmarkItem* item) noexcept;
// Removes the item from its parent's children and clears its parent link; the caller receives the
// ownership (empty when the parent did not list the item).
std::unique_ptr<BookmarkItem> DetachFromParent(BookmarkItem& item) noexcept;

// Deletes the key of every item whose address equals folder, with only the letters A to Z folded
// (as the menu decides that a folder is bookmarked), with all the items below it. The in-memory
// tree is not changed.
void RemoveBookmarksOf(const BookmarkTree& tree, const wchar_t* folder) noexcept;

// True when both items' subtrees hold the same items in the same order: key names, addresses,
// captions and colours (the item's own values are not compared, nor stored orders).
bool SameSubtrees(const BookmarkItem& a, const BookmarkItem& b) noexcept;

// The number of items below item, not counting itself.
size_t CountDescendants(const BookmarkItem& item) noexcept;
// The topmost ancestor: the tree's root item.
BookmarkItem* RootOf(BookmarkItem& item) noexcept;
const BookmarkItem* RootOf(const BookmarkItem& item) noexcept;

} // namespace dv
