#include "bookmarks.h"
#include "common/trace.h"
#include "common/registry.h"
#include "common/text.h"
#include <shlwapi.h>
#include <algorithm>
#include <cwchar>
#include <unordered_set>

namespace dv::store {

const BookmarkItem kMoveToEnd{};

namespace {

constexpr size_t kItemsKeyLength = sizeof(kItemsKeyPath) / sizeof(wchar_t) - 1;

// Visits every item below top, children before their parent, without recursion.
template <class Item, class Visit>
void VisitBelowChildrenFirst(Item& top, Visit visit) {
    struct Frame {
        Item* item;
        size_t next;
    };
    std::vector<Frame> stack;
    stack.push_back({&top, 0});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.item->children.size()) {
            Item* child = frame.item->children[frame.next++].get();
            stack.push_back({child, 0});
            continue;
        }
        Item* done = frame.item;
        stack.pop_back();
        if (done != &top) visit(*done);
    }
}

// A text as a load reads it back: at most 259 characters.
std::wstring Bounded(const wchar_t* text) {
    wchar_t buffer[kMaxText];
    CopyText(buffer, kMaxText, text);
    return buffer;
}

// An address as a load reads it back: at most 259 characters, one trailing backslash removed (a
// drive root keeps its own). The registry gets the address as given.
std::wstring LoadedAddress(const wchar_t* address) {
    wchar_t buffer[kMaxText];
    CopyText(buffer, kMaxText, address);
    ::PathRemoveBackslashW(buffer);
    return buffer;
}

// A key name read as a decimal number the way _wtoi reads it: leading white space, an optional
// sign, then digits up to the first non-digit; no digits read as 0. Large numbers saturate, since
// only numbers up to the sibling count can matter.
long long KeyNumber(const std::wstring& name) noexcept {
    size_t i = 0;
    while (i < name.size() && (name[i] == L' ' || (name[i] >= L'\t' && name[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == L'+' || name[i] == L'-')) negative = name[i++] == L'-';
    long long value = 0;
    for (; i < name.size() && name[i] >= L'0' && name[i] <= L'9'; ++i) {
        if (value < (1LL << 40)) value = value * 10 + (name[i] - L'0');
    }
    return negative ? -value : value;
}

// Opens the item's own existing key for writing; never the root key, which holds no values. A key
// that another process deleted meanwhile is not made again.
unique_hkey OpenItemKey(const BookmarkItem& item) {
    if (!item.parent) return unique_hkey();
    return OpenRegKey(HKEY_CURRENT_USER, ItemKeyPath(item).c_str(), KEY_READ | KEY_WRITE);
}

// Creates a key for a new child of parent that did not exist a moment before, and gives its name:
// the smallest positive number that no loaded sibling holds, or when another process took that one
// meanwhile (the menu in Explorer, another manager), the next number free in the registry. A key
// that exists is never opened and written into. The parent's key must exist, except the root's,
// which is made when missing. Empty when no key could be created.
unique_hkey CreateNewChildKey(const BookmarkItem& parent, std::wstring& name) {
    unique_hkey parentKey = parent.parent
                                ? OpenRegKey(HKEY_CURRENT_USER, ItemKeyPath(parent).c_str(), KEY_READ | KEY_CREATE_SUB_KEY)
                                : CreateRegKey(HKEY_CURRENT_USER, kItemsKeyPath, KEY_READ | KEY_CREATE_SUB_KEY);
    if (!parentKey) return unique_hkey();
    std::unordered_set<long long> taken;
    for (const auto& child : parent.children) taken.insert(KeyNumber(child->keyName));
    bool collided = false;
    // Every round tries a higher number, and the registry holds finitely many keys.
    for (long long number = 1; number < (1LL << 31); ++number) {
        if (taken.count(number)) continue;
        name = std::to_wstring(number);
        DWORD disposition = 0;
        unique_hkey key = CreateRegKey(parentKey.get(), name.c_str(), KEY_READ | KEY_WRITE, nullptr, &disposition);
        if (!key) return unique_hkey();
        if (disposition == REG_CREATED_NEW_KEY) return key;
        if (!collided) {
            // Another writer was here: its names are mostly 1 to n, so the search goes on after the
            // registry's count of keys rather than through them one by one.
            collided = true;
            DWORD subkeys = 0;
            if (::RegQueryInfoKeyW(parentKey.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                number = std::max<long long>(number, subkeys);
        }
    }
    return unique_hkey();
}

// Reads one item's values from its open key. Whatever is missing, mistyped or too long falls back
// to the defaults: empty address, the address as caption, order 0, no colour.
void ReadItemValues(HKEY key, BookmarkItem& item) {
    wchar_t text[kMaxText];
    ReadRegStringIfFits(key, L"Address", text, kMaxText);
    ::PathRemoveBackslashW(text);
    item.address = text;
    if (ReadRegStringIfFits(key, L"Title", text, kMaxText))
        item.title = text;
    else
        item.title = item.address;
    if (item.title.empty()) item.title = DefaultCaption(item.address.c_str());
    DWORD value = 0;
    if (ReadRegDword(key, L"Order", value)) item.order = value;
    if (ReadRegDword(key, L"ColorIndex", value) && value < kColorCount) item.colorIndex = value;
}

// Appends an item for every subkey of key, in enumeration order; false when the enumeration broke off.
bool ReadChildNames(HKEY key, BookmarkItem& parent) {
    wchar_t name[kMaxText];
    for (DWORD index = 0;; ++index) {
        DWORD length = kMaxText;
        LONG rc = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return true;
        if (rc != ERROR_SUCCESS) {
            DV_TRACE_WIN32(rc, L"RegEnumKeyExW of bookmarks");  // the items below stay unlisted
            return false;
        }
        auto child = std::make_unique<BookmarkItem>();
        child->keyName.assign(name, std::min<size_t>(length, kMaxText - 1));
        child->parent = &parent;
        parent.children.push_back(std::move(child));
    }
}

// Reads the items below root. Each item key is opened once, relative to its parent's open key: its
// values are read and its subkeys listed in that one visit. The walk keeps one open key per level
// instead of recursing. Symbolic links are opened as themselves, never followed, so that no link can
// lead the walk in a circle.
void LoadItems(BookmarkItem& root) {
    unique_hkey rootKey = OpenRegKey(HKEY_CURRENT_USER, kItemsKeyPath, KEY_READ);
    if (!rootKey) return;
    struct Level {
        BookmarkItem* item;
        unique_hkey key;
        size_t next;
        bool descend;  // false when listing the item's subkeys broke off: its children stay leaves
    };
    std::vector<Level> levels;
    bool complete = ReadChildNames(rootKey.get(), root);
    levels.push_back({&root, std::move(rootKey), 0, complete});
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next >= level.item->children.size()) {
            levels.pop_back();
            continue;
        }
        BookmarkItem& child = *level.item->children[level.next++];
        if (child.keyName.empty()) continue;  // an empty name would reopen the parent itself
        unique_hkey key = OpenRegKey(level.key.get(), child.keyName.c_str(), KEY_READ, REG_OPTION_OPEN_LINK);
        if (!key) continue;  // vanished meanwhile: an empty item
        ReadItemValues(key.get(), child);
        if (!level.descend) continue;
        complete = ReadChildNames(key.get(), child);
        if (!child.children.empty()) levels.push_back({&child, std::move(key), 0, complete});
    }
}

} // namespace

BookmarkItem::~BookmarkItem() {
    if (children.empty()) return;
    try {
        std::vector<Child> pending = std::move(children);
        while (!pending.empty()) {
            Child item = std::move(pending.back());
            pending.pop_back();
            for (auto& child : item->children) pending.push_back(std::move(child));
            item->children.clear();
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
        // Out of memory for the work list: what is left is freed by ordinary recursion.
    }
}

bool IsSeparatorTitle(const wchar_t* title) noexcept {
    return title && title[0] == kSeparatorTitle[0] && title[1] == 0;
}

BookmarkTreePtr LoadBookmarkTree() noexcept {
    BookmarkTreePtr tree;
    try {
        tree = std::make_unique<BookmarkTree>();
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return nullptr;
    }
    try {
        LoadItems(tree->root_);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        // Out of memory: keep what was read.
    }
    SortChildrenByOrder(tree->root_);
    return tree;
}

void ReleaseBookmarkTree(BookmarkTreePtr& tree) noexcept { tree.reset(); }

std::wstring ItemKeyPath(const BookmarkItem& item) {
    size_t length = kItemsKeyLength;
    for (const BookmarkItem* p = &item; p->parent; p = p->parent.get()) length += 1 + p->keyName.size();
    std::wstring path(length, L'\\');
    wmemcpy(path.data(), kItemsKeyPath, kItemsKeyLength);
    // Fill from the end, walking up from the item.
    size_t end = length;
    for (const BookmarkItem* p = &item; p->parent; p = p->parent.get()) {
        end -= p->keyName.size();
        wmemcpy(path.data() + end, p->keyName.data(), p->keyName.size());
        --end;  // the backslash before it is already there
    }
    return path;
}

std::wstring NextKeyName(const BookmarkItem& parent) {
    // n children block at most n numbers, so the answer is at most n + 1.
    const size_t limit = parent.children.size() + 1;
    std::vector<bool> taken(limit + 1, false);
    for (const auto& child : parent.children) {
        long long number = KeyNumber(child->keyName);
        if (number >= 1 && static_cast<unsigned long long>(number) <= limit) taken[static_cast<size_t>(number)] = true;
    }
    size_t next = 1;
    while (taken[next]) ++next;
    return std::to_wstring(next);
}

std::wstring DefaultCaption(const wchar_t* address) {
    wchar_t caption[kMaxText];
    CopyText(caption, kMaxText, address);
    ::PathRemoveBackslashW(caption);
    ::PathStripPathW(caption);
    return caption;
}

namespace {

// The tree's own items are made mutable by the tree, so that its operations may change what
// callers see as const; an item of another tree (or none) is refused.
BookmarkItem* ItemOfTree(BookmarkItem& root, const BookmarkItem& item) noexcept {
    return RootOf(item) == &root ? const_cast<BookmarkItem*>(&item) : nullptr;
}

// Removes the item from its parent's children and clears its parent link; the caller receives the
// ownership (empty when the parent did not list the item).
std::unique_ptr<BookmarkItem> DetachFromParent(BookmarkItem& item) noexcept {
    std::unique_ptr<BookmarkItem> owned;
    if (BookmarkItem* parent = get_underlying(item.parent)) {
        auto& list = parent->children;
        auto it = std::find_if(list.begin(), list.end(), [&](const auto& child) { return child.get() == &item; });
        if (it != list.end()) {
            owned = std::move(get_underlying(*it));
            list.erase(it);
        }
    }
    item.parent = nullptr;
    return owned;
}

// Deletes the item's key with all its subkeys; a key already gone counts as deleted.
bool DeleteItemKey(const BookmarkItem& item) {
    const LSTATUS rc = ::SHDeleteKeyW(HKEY_CURRENT_USER, ItemKeyPath(item).c_str());
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) return true;
    DV_TRACE_WIN32(rc, L"SHDeleteKeyW of a bookmark");
    return false;
}

// The order a new last child of parent gets: the child count, or above every sibling's order when
// one is that high already, so that a load sorts the new item last as well.
DWORD NewChildOrder(const BookmarkItem& parent) noexcept {
    DWORD order = static_cast<DWORD>(parent.children.size() + 1);
    DWORD highest = 0;
    for (const auto& child : parent.children) highest = std::max(highest, child->order);
    if (highest >= order && highest < MAXDWORD) order = highest + 1;
    return order;
}

} // namespace

const BookmarkItem* BookmarkTree::Add(const BookmarkItem& parentItem, const wchar_t* address,
                                      const wchar_t* caption) noexcept {
    BookmarkItem* parent = ItemOfTree(root_, parentItem);
    if (!parent) return nullptr;
    try {
        auto owned = std::make_unique<BookmarkItem>();
        owned->parent = parent;
        const std::wstring stored = Bounded(address);
        owned->address = LoadedAddress(address);
        owned->title = (caption && caption[0]) ? Bounded(caption) : DefaultCaption(stored.c_str());
        owned->order = NewChildOrder(*parent);
        parent->children.reserve(parent->children.size() + 1);  // nothing fails once the key is filled
        unique_hkey key = CreateNewChildKey(*parent, owned->keyName);
        if (!key) return nullptr;
        LSTATUS rc = WriteRegString(key.get(), L"Address", stored.c_str());
        if (rc == ERROR_SUCCESS) rc = WriteRegString(key.get(), L"Title", owned->title.c_str());
        if (rc == ERROR_SUCCESS) rc = WriteRegDword(key.get(), L"Order", owned->order);
        if (rc != ERROR_SUCCESS) {
            DV_TRACE_WIN32(rc, L"writing a new bookmark");
            key.reset();
            DeleteItemKey(*owned);  // a key without its values would load as an empty item
            return nullptr;
        }
        parent->children.push_back(std::move(owned));
        return parent->children.back().get();
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return nullptr;
    }
}

const BookmarkItem* BookmarkTree::AddBookmark(const wchar_t* address, const wchar_t* caption) noexcept {
    const BookmarkItem* item = Add(root_, address, caption);
    // Should renumbering stop at a key that another process removed, the rest keep their order.
    if (item) WriteChildOrder(root_);
    return item;
}

bool BookmarkTree::Edit(const BookmarkItem& target, const wchar_t* address, const wchar_t* caption) noexcept {
    BookmarkItem* item = ItemOfTree(root_, target);
    if (!item || !item->parent) return false;
    try {
        std::wstring boundedTitle = Bounded(caption);
        unique_hkey key = OpenItemKey(*item);
        if (!key) return false;
        // Each text changes in memory as it changes in the registry.
        if (WriteRegString(key.get(), L"Address", Bounded(address).c_str()) != ERROR_SUCCESS) return false;
        item->address = LoadedAddress(address);
        if (WriteRegString(key.get(), L"Title", boundedTitle.c_str()) != ERROR_SUCCESS) return false;
        item->title = std::move(boundedTitle);
        return true;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

bool BookmarkTree::SetColor(const BookmarkItem& target, UINT index) noexcept {
    BookmarkItem* item = ItemOfTree(root_, target);
    if (!item || !item->parent) return false;
    const DWORD colorIndex = index < kColorCount ? index : 0;
    try {
        unique_hkey key = OpenItemKey(*item);
        if (!key || WriteRegDword(key.get(), L"ColorIndex", colorIndex) != ERROR_SUCCESS) return false;
        item->colorIndex = colorIndex;
        return true;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

bool BookmarkTree::WriteChildOrder(const BookmarkItem& target) noexcept {
    BookmarkItem* parent = ItemOfTree(root_, target);
    if (!parent) return false;
    try {
        // The children are opened relative to their parent's key: one open per child.
        unique_hkey parentKey = OpenRegKey(HKEY_CURRENT_USER, ItemKeyPath(*parent).c_str(), KEY_READ);
        DWORD index = 0;
        for (auto& child : parent->children) {
            unique_hkey key;
            if (parentKey && !child->keyName.empty()) key = OpenRegKey(parentKey.get(), child->keyName.c_str(), KEY_WRITE);
            if (!key || WriteRegDword(key.get(), L"Order", index + 1) != ERROR_SUCCESS)
                return false;  // later children keep their old order, in memory and stored
            child->order = ++index;
        }
        return true;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

bool BookmarkTree::Reorder(const BookmarkItem& target, const std::vector<const BookmarkItem*>& order) noexcept {
    BookmarkItem* parent = ItemOfTree(root_, target);
    if (!parent) return false;
    try {
        std::vector<BookmarkItem::Child> unordered = std::move(parent->children);
        parent->children.clear();
        parent->children.reserve(unordered.size());
        for (const BookmarkItem* wanted : order) {
            for (auto& slot : unordered) {
                if (slot && slot.get() == wanted) {
                    parent->children.push_back(std::move(slot));
                    break;
                }
            }
        }
        for (auto& slot : unordered)
            if (slot) parent->children.push_back(std::move(slot));
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
    return WriteChildOrder(*parent);
}

bool BookmarkTree::Move(const BookmarkItem& target, const BookmarkItem& newParentItem, const BookmarkItem* anchor) noexcept {
    BookmarkItem* itemPointer = ItemOfTree(root_, target);
    BookmarkItem* newParentPointer = ItemOfTree(root_, newParentItem);
    if (!itemPointer || !newParentPointer || !itemPointer->parent) return false;
    BookmarkItem& item = *itemPointer;
    BookmarkItem& newParent = *newParentPointer;
    for (const BookmarkItem* p = &newParent; p; p = p->parent.get())
        if (p == &item) return false;  // into its own subtree
    try {
        BookmarkItem* oldParent = get_underlying(item.parent);
        const bool parentChanged = oldParent != &newParent;
        auto& oldList = oldParent->children;
        size_t oldIndex = 0;
        while (oldIndex < oldList.size() && oldList[oldIndex].get() != &item) ++oldIndex;
        if (oldIndex == oldList.size()) return false;  // its parent does not list it
        newParent.children.reserve(newParent.children.size() + 1);

        // A new parent: the whole key is copied into a key made new for it, never merged into one
        // that exists; only a complete copy replaces the old key. Until then nothing has changed.
        std::wstring newName;
        if (parentChanged) {
            const std::wstring oldPath = ItemKeyPath(item);
            unique_hkey newKey = CreateNewChildKey(newParent, newName);
            if (!newKey) return false;
            const LSTATUS copied = ::SHCopyKeyW(HKEY_CURRENT_USER, oldPath.c_str(), newKey.get(), 0);
            newKey.reset();
            if (copied != ERROR_SUCCESS) {
                DV_TRACE_WIN32(copied, L"SHCopyKeyW of a bookmark being moved");
                // A partial copy would load as a duplicate beside the intact old key.
                std::wstring newPath = ItemKeyPath(newParent) + L'\\' + newName;
                ::SHDeleteKeyW(HKEY_CURRENT_USER, newPath.c_str());
                return false;
            }
            // Should the old key stay, a reload shows the item twice; the tree shows the move.
            DeleteItemKey(item);
        }

        std::unique_ptr<BookmarkItem> owned = DetachFromParent(item);

        auto& list = newParent.children;
        size_t at = list.size();
        if (!anchor) {
            at = 0;
        } else if (anchor == &item) {
            at = parentChanged ? list.size() : oldIndex;  // after itself: where it was
        } else if (anchor != &kMoveToEnd) {
            for (size_t i = 0; i < list.size(); ++i)
                if (list[i].get() == anchor) {
                    at = i + 1;
                    break;
                }
        }
        owned->parent = &newParent;
        if (parentChanged) owned->keyName = std::move(newName);
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(owned));
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
    return WriteChildOrder(newParent);
}

bool BookmarkTree::Remove(const BookmarkItem& target) noexcept {
    BookmarkItem* item = ItemOfTree(root_, target);
    if (!item || !item->parent) return false;  // never the whole tree
    bool deleted = false;
    try {
        deleted = DeleteItemKey(*item);
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    DetachFromParent(*item);  // the subtree goes with the returned owner
    return deleted;
}

bool BookmarkTree::RemoveBookmarksOf(const wchar_t* folder) noexcept {
    if (!folder) return false;
    bool deletedAll = true;
    try {
        // Top down: a match goes with its whole subtree, so nothing below it needs a visit.
        std::vector<const BookmarkItem*> matches;
        std::vector<const BookmarkItem*> pending{&root_};
        while (!pending.empty()) {
            const BookmarkItem* item = pending.back();
            pending.pop_back();
            if (item->parent && EqualsFoldAZ(item->address.c_str(), folder)) {
                matches.push_back(item);
                continue;
            }
            for (const auto& child : item->children) pending.push_back(child.get());
        }
        for (const BookmarkItem* match : matches)
            if (!Remove(*match)) deletedAll = false;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
    return deletedAll;
}

void SortChildrenByOrder(BookmarkItem& item) noexcept {
    try {
        std::vector<BookmarkItem*> pending{&item};
        while (!pending.empty()) {
            BookmarkItem* current = pending.back();
            pending.pop_back();
            std::stable_sort(current->children.begin(), current->children.end(),
                             [](const auto& a, const auto& b) { return a->order < b->order; });
            for (auto& child : current->children)
                if (!child->children.empty()) pending.push_back(child.get());
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
}

bool SameSubtrees(const BookmarkItem& a, const BookmarkItem& b) noexcept {
    try {
        std::vector<std::pair<const BookmarkItem*, const BookmarkItem*>> pending{{&a, &b}};
        while (!pending.empty()) {
            auto [left, right] = pending.back();
            pending.pop_back();
            if (left->children.size() != right->children.size()) return false;
            for (size_t i = 0; i < left->children.size(); ++i) {
                const BookmarkItem& l = *left->children[i];
                const BookmarkItem& r = *right->children[i];
                if (l.keyName != r.keyName || l.address != r.address || l.title != r.title ||
                    l.colorIndex != r.colorIndex)
                    return false;
                pending.push_back({&l, &r});
            }
        }
        return true;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

size_t CountDescendants(const BookmarkItem& item) noexcept {
    size_t count = 0;
    try {
        VisitBelowChildrenFirst(item, [&count](const BookmarkItem&) { ++count; });
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    return count;
}

const BookmarkItem* RootOf(const BookmarkItem& item) noexcept {
    const BookmarkItem* p = &item;
    while (p->parent) p = p->parent.get();
    return p;
}

} // namespace dv::store
