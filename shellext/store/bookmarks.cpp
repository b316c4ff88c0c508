#include "bookmarks.h"
#include "common/registry.h"
#include "common/text.h"
#include <shlwapi.h>
#include <algorithm>
#include <cwchar>

namespace dv {

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

// Creates or opens the item's own key for writing; never the root key, which holds no values.
unique_hkey CreateItemKey(const BookmarkItem& item) {
    if (!item.parent) return unique_hkey();
    return CreateRegKey(HKEY_CURRENT_USER, ItemKeyPath(item).c_str(), KEY_READ | KEY_WRITE);
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
        if (rc != ERROR_SUCCESS) return false;
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
        std::vector<std::unique_ptr<BookmarkItem>> pending = std::move(children);
        while (!pending.empty()) {
            std::unique_ptr<BookmarkItem> item = std::move(pending.back());
            pending.pop_back();
            for (auto& child : item->children) pending.push_back(std::move(child));
            item->children.clear();
        }
    } catch (...) {
        // Out of memory for the work list: what is left is freed by ordinary recursion.
    }
}

bool IsSeparatorTitle(const wchar_t* title) noexcept {
    return title && title[0] == SeparatorTitle[0] && title[1] == 0;
}

BookmarkTreePtr LoadBookmarkTree() noexcept {
    BookmarkTreePtr tree;
    try {
        tree = std::make_unique<BookmarkTree>();
    } catch (...) {
        return nullptr;
    }
    try {
        LoadItems(tree->root);
    } catch (...) {
        // Out of memory: keep what was read.
    }
    SortChildrenByOrder(tree->root);
    return tree;
}

void ReleaseBookmarkTree(BookmarkTreePtr& tree) noexcept { tree.reset(); }

std::wstring ItemKeyPath(const BookmarkItem& item) {
    size_t length = kItemsKeyLength;
    for (const BookmarkItem* p = &item; p->parent; p = p->parent) length += 1 + p->keyName.size();
    std::wstring path(length, L'\\');
    wmemcpy(path.data(), kItemsKeyPath, kItemsKeyLength);
    // Fill from the end, walking up from the item.
    size_t end = length;
    for (const BookmarkItem* p = &item; p->parent; p = p->parent) {
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

BookmarkItem* AddItem(BookmarkItem& parent, const wchar_t* address, const wchar_t* caption) noexcept {
    BookmarkItem* item = nullptr;
    try {
        auto owned = std::make_unique<BookmarkItem>();
        owned->parent = &parent;
        parent.children.push_back(std::move(owned));
        item = parent.children.back().get();
        item->keyName = NextKeyName(parent);
        item->order = static_cast<DWORD>(parent.children.size());
        item->address = Bounded(address);
        item->title = (caption && caption[0]) ? Bounded(caption) : DefaultCaption(item->address.c_str());
        unique_hkey key = CreateItemKey(*item);
        if (!key) return item;  // in memory only
        WriteRegString(key.get(), L"Address", item->address.c_str());
        WriteRegString(key.get(), L"Title", item->title.c_str());
        WriteRegDword(key.get(), L"Order", item->order);
        return item;
    } catch (...) {
        if (item) DestroyItem(item);  // no half-made item stays behind
        return nullptr;
    }
}

BookmarkItem* AddBookmark(BookmarkTree& tree, const wchar_t* address, const wchar_t* caption) noexcept {
    BookmarkItem* item = AddItem(tree.root, address, caption);
    WriteChildOrder(tree.root);
    return item;
}

void SetItemAddressAndTitle(BookmarkItem& item, const wchar_t* address, const wchar_t* caption) noexcept {
    try {
        item.address = Bounded(address);
        item.title = Bounded(caption);
        unique_hkey key = CreateItemKey(item);
        if (!key) return;
        WriteRegString(key.get(), L"Address", item.address.c_str());
        WriteRegString(key.get(), L"Title", item.title.c_str());
    } catch (...) {
    }
}

void SetColorIndex(BookmarkItem& item, UINT index) noexcept {
    item.colorIndex = index < kColorCount ? index : 0;
    try {
        unique_hkey key = CreateItemKey(item);
        if (key) WriteRegDword(key.get(), L"ColorIndex", item.colorIndex);
    } catch (...) {
    }
}

void WriteChildOrder(BookmarkItem& parent) noexcept {
    try {
        // The children are opened relative to their parent's key: one open per child.
        unique_hkey parentKey = OpenRegKey(HKEY_CURRENT_USER, ItemKeyPath(parent).c_str(), KEY_READ);
        DWORD index = 0;
        for (auto& child : parent.children) {
            child->order = ++index;
            unique_hkey key;
            if (parentKey && !child->keyName.empty()) key = OpenRegKey(parentKey.get(), child->keyName.c_str(), KEY_WRITE);
            if (!key) return;  // later children keep their old order, in memory and stored
            WriteRegDword(key.get(), L"Order", index);
        }
    } catch (...) {
    }
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
    }
}

void MoveItem(BookmarkItem& item, BookmarkItem& newParent, const BookmarkItem* anchor) noexcept {
    if (!item.parent) return;
    for (const BookmarkItem* p = &newParent; p; p = p->parent)
        if (p == &item) return;  // into its own subtree
    try {
        BookmarkItem* oldParent = item.parent;
        const bool parentChanged = oldParent != &newParent;
        // Everything that can fail is prepared before the tree changes.
        const std::wstring oldPath = ItemKeyPath(item);
        std::wstring newName, newPath;
        if (parentChanged) {
            newName = NextKeyName(newParent);
            newPath = ItemKeyPath(newParent);
            newPath += L'\\';
            newPath += newName;
        }
        newParent.children.reserve(newParent.children.size() + 1);

        auto& oldList = oldParent->children;
        size_t oldIndex = 0;
        while (oldIndex < oldList.size() && oldList[oldIndex].get() != &item) ++oldIndex;
        std::unique_ptr<BookmarkItem> owned = DetachFromParent(item);
        if (!owned) return;  // its parent did not list it

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
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(owned));

        if (parentChanged) {
            item.keyName = std::move(newName);
            DWORD disposition = 0;
            unique_hkey newKey = CreateRegKey(HKEY_CURRENT_USER, newPath.c_str(), KEY_WRITE, nullptr, &disposition);
            if (newKey) {
                bool copied = ::SHCopyKeyW(HKEY_CURRENT_USER, oldPath.c_str(), newKey.get(), 0) == ERROR_SUCCESS;
                newKey.reset();
                if (copied) {
                    ::SHDeleteKeyW(HKEY_CURRENT_USER, oldPath.c_str());
                } else if (disposition == REG_CREATED_NEW_KEY) {
                    // A partial copy would load as a duplicate beside the intact old key.
                    ::SHDeleteKeyW(HKEY_CURRENT_USER, newPath.c_str());
                }
            }
        }
    } catch (...) {
        return;
    }
    WriteChildOrder(newParent);
}

void DeleteItemKey(const BookmarkItem& item) noexcept {
    if (!item.parent) return;  // never the whole tree
    try {
        ::SHDeleteKeyW(HKEY_CURRENT_USER, ItemKeyPath(item).c_str());
    } catch (...) {
    }
}

void DestroyItem(BookmarkItem* item) noexcept {
    if (!item) return;
    std::unique_ptr<BookmarkItem> owned = DetachFromParent(*item);
    if (!owned) item->children.clear();  // the root, owned by its tree: only the children go
}

std::unique_ptr<BookmarkItem> DetachFromParent(BookmarkItem& item) noexcept {
    std::unique_ptr<BookmarkItem> owned;
    if (BookmarkItem* parent = item.parent) {
        auto& list = parent->children;
        auto it = std::find_if(list.begin(), list.end(), [&](const auto& child) { return child.get() == &item; });
        if (it != list.end()) {
            owned = std::move(*it);
            list.erase(it);
        }
    }
    item.parent = nullptr;
    return owned;
}

void RemoveBookmarksOf(const BookmarkTree& tree, const wchar_t* folder) noexcept {
    if (!folder) return;
    try {
        VisitBelowChildrenFirst(tree.root, [folder](const BookmarkItem& item) {
            if (item.children.empty() && EqualsFoldAZ(item.address.c_str(), folder)) DeleteItemKey(item);
        });
    } catch (...) {
    }
}

size_t CountDescendants(const BookmarkItem& item) noexcept {
    size_t count = 0;
    try {
        VisitBelowChildrenFirst(item, [&count](const BookmarkItem&) { ++count; });
    } catch (...) {
    }
    return count;
}

BookmarkItem* RootOf(BookmarkItem& item) noexcept {
    BookmarkItem* p = &item;
    while (p->parent) p = p->parent;
    return p;
}

const BookmarkItem* RootOf(const BookmarkItem& item) noexcept {
    const BookmarkItem* p = &item;
    while (p->parent) p = p->parent;
    return p;
}

} // namespace dv
