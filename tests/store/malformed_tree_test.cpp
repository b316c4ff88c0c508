// Loading must survive whatever the registry holds: seeded random trees of malformed keys and
// values, very deep and very wide trees, and symbolic links that point nowhere or in a circle.
#include "store_registry.h"
#include <shlwapi.h>
#include <map>
#include <optional>
#include <random>

using dv::store::BookmarkItem;
using dv::store::BookmarkTreePtr;
using dv::store::CountDescendants;
using dv::store::LoadBookmarkTree;

using namespace dv;
using namespace storetest;

namespace {

class MalformedTreeTest : public StoreTest {};

struct Raw {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

struct Expected {
    std::wstring address, title;
    DWORD order = 0, color = 0;
    size_t children = 0;
};

// What a string value reads as: readable only as REG_SZ/REG_EXPAND_SZ of at most 520 bytes whose
// text before the first null has at most 259 characters.
std::optional<std::wstring> ReadsAs(const Raw& raw) {
    if (!raw.exists || (raw.type != REG_SZ && raw.type != REG_EXPAND_SZ) || raw.bytes.size() > 520) return {};
    std::wstring text(raw.bytes.size() / 2, L'\0');
    memcpy(text.data(), raw.bytes.data(), text.size() * 2);
    text.resize(wcsnlen(text.c_str(), text.size()));
    if (text.size() > 259) return {};
    return text;
}

DWORD DwordOf(const Raw& raw, DWORD otherwise) {
    if (!raw.exists || raw.type != REG_DWORD || raw.bytes.size() != 4) return otherwise;
    DWORD value;
    memcpy(&value, raw.bytes.data(), 4);
    return value;
}

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    // Writes a random subtree below path; records what each key must load as, by relative path.
    void Fill(const std::wstring& relative, int depth, std::map<std::wstring, Expected>& expected) {
        size_t count = Pick(depth == 0 ? 16 : 6);
        for (size_t i = 0; i < count; ++i) {
            std::wstring name = Name();
            std::wstring child = relative.empty() ? name : relative + L"\\" + name;
            HKEY key = nullptr;
            DWORD disposition = 0;
            if (::RegCreateKeyExW(HKEY_CURRENT_USER, ItemsPath(child).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, &disposition) != ERROR_SUCCESS)
                continue;
            if (disposition != REG_CREATED_NEW_KEY) {  // names differing in case only are one key
                ::RegCloseKey(key);
                continue;
            }
            Raw address = Value(true), title = Value(true), order = Value(false), color = Value(false);
            Store(key, L"Address", address);
            Store(key, L"Title", title);
            Store(key, L"Order", order);
            Store(key, L"ColorIndex", color);
            ::RegCloseKey(key);

            Expected e;
            wchar_t text[MAX_PATH] = {};
            wcscpy(text, ReadsAs(address).value_or(L"").c_str());
            ::PathRemoveBackslashW(text);
            e.address = text;
            e.title = ReadsAs(title).value_or(e.address);
            if (e.title.empty()) {  // the default caption
                ::PathRemoveBackslashW(text);
                ::PathStripPathW(text);
                e.title = text;
            }
            e.order = DwordOf(order, 0);
            e.color = DwordOf(color, 0) <= 10 ? DwordOf(color, 0) : 0;
            expected[child] = e;
            if (!relative.empty()) ++expected[relative].children;
            if (depth < 5 && Pick(2) == 0) Fill(child, depth + 1, expected);
        }
    }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

    std::wstring Name() {
        static const wchar_t* const fixed[] = {L"x", L" 3", L"-2", L"0", L"007", L"+4", L"9abc", L"\x00E9t\x00E9", L"X"};
        switch (Pick(4)) {
        case 0: return fixed[Pick(std::size(fixed))];
        case 1: return std::wstring(1 + Pick(200), L"abcdefgh"[Pick(8)]);
        default: return std::to_wstring(1 + Pick(20));
        }
    }

    Raw Value(bool text) {
        Raw raw;
        if (Pick(5) == 0) return raw;  // absent
        raw.exists = true;
        static const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_QWORD, REG_NONE};
        raw.type = (Pick(3) != 0) ? (text ? REG_SZ : REG_DWORD) : types[Pick(std::size(types))];
        if (raw.type == REG_DWORD && Pick(4) != 0) {
            DWORD value = Pick(3) == 0 ? static_cast<DWORD>(random_()) : static_cast<DWORD>(Pick(14));
            raw.bytes.assign(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 4);
            return raw;
        }
        static const wchar_t* const texts[] = {L"C:\\Data", L"C:\\Data\\", L"C:\\", L"-", L"", L"\\\\server\\share\\",
                                               L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", L"D:\\\x00E4\\\xD83D\xDE00\\"};
        std::wstring s = Pick(4) == 0 ? std::wstring(Pick(300), L'q') : texts[Pick(std::size(texts))];
        switch (Pick(5)) {
        case 0: break;                               // no terminator
        case 1: s += L'\0'; s += L"tail"; break;     // embedded null
        default: s += L'\0'; break;
        }
        raw.bytes.assign(reinterpret_cast<const BYTE*>(s.data()), reinterpret_cast<const BYTE*>(s.data() + s.size()));
        if (Pick(5) == 0) raw.bytes.push_back(0x41);  // odd byte count
        if (Pick(8) == 0) raw.bytes.clear();          // 0 bytes
        return raw;
    }

    void Store(HKEY key, const wchar_t* name, const Raw& raw) {
        if (raw.exists) StoreRaw(key, name, raw.type, raw.bytes.data(), static_cast<DWORD>(raw.bytes.size()));
    }

    std::mt19937 random_;
};

// Compares a loaded subtree with what was written; returns the number of items checked.
size_t Check(const BookmarkItem& parent, const std::wstring& relative, const std::map<std::wstring, Expected>& expected) {
    size_t count = 0;
    for (size_t i = 0; i < parent.children.size(); ++i) {
        const BookmarkItem& item = *parent.children[i];
        EXPECT_EQ(&parent, item.parent);
        if (i > 0) {
            EXPECT_LE(parent.children[i - 1]->order, item.order);  // sorted as unsigned
        }
        std::wstring path = relative.empty() ? item.keyName : relative + L"\\" + item.keyName;
        auto found = expected.find(path);
        if (found == expected.end()) {
            ADD_FAILURE() << "unexpected item";
            continue;
        }
        const Expected& e = found->second;
        EXPECT_EQ(e.address, item.address);
        EXPECT_EQ(e.title, item.title);
        EXPECT_EQ(e.order, item.order);
        EXPECT_EQ(e.color, item.colorIndex);
        EXPECT_EQ(e.children, item.children.size());
        count += 1 + Check(item, path, expected);
    }
    return count;
}

TEST_F(MalformedTreeTest, SeededRandomTreesLoadAsWrittenAndStayUsable) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        ::SHDeleteKeyW(HKEY_CURRENT_USER, dvtest::kProductKey);
        std::map<std::wstring, Expected> expected;
        Generator generator(seed);
        generator.Fill(L"", 0, expected);

        BookmarkTreePtr tree = LoadBookmarkTree();
        ASSERT_TRUE(tree);
        EXPECT_EQ(expected.size(), Check(tree->root, L"", expected));
        EXPECT_EQ(expected.size(), CountDescendants(tree->root));
        if (tree->root.children.empty()) continue;

        // Every operation keeps working on such a tree: later loads see a consistent tree.
        const BookmarkItem& first = *tree->root.children.front();
        const BookmarkItem& last = *tree->root.children.back();
        tree->Add(first, L"C:\\Added", L"");
        tree->AddBookmark(L"C:\\Added\\", L"Added");
        if (&first != &last) tree->Move(last, first, nullptr);
        tree->SetColor(first, 3);
        BookmarkTreePtr reloaded = LoadBookmarkTree();
        EXPECT_EQ(expected.size() + 2, CountDescendants(reloaded->root));
        EXPECT_EQ(3u, Child(reloaded->root, first.keyName)->colorIndex);
        reloaded->RemoveBookmarksOf(L"c:\\added");  // both load as C:\Added
        EXPECT_EQ(expected.size(), CountDescendants(LoadBookmarkTree()->root));
    }
}

TEST_F(MalformedTreeTest, DeepAndWideTrees) {
    // 400 levels: each key opened relative to its parent's open key.
    std::wstring path = ItemsPath();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               &key, nullptr));
    for (int level = 1; level <= 400; ++level) {
        HKEY child = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(key, L"1", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
        std::wstring address = L"C:\\level" + std::to_wstring(level);
        ::RegSetValueExW(child, L"Address", 0, REG_SZ, reinterpret_cast<const BYTE*>(address.c_str()),
                         static_cast<DWORD>((address.size() + 1) * 2));
        ::RegCloseKey(key);
        key = child;
    }
    ::RegCloseKey(key);
    // 3000 siblings beside it, in reverse order.
    for (DWORD i = 2; i <= 3001; ++i) MakeItem(std::to_wstring(i), L"C:\\w", nullptr, 5000 - i);

    BookmarkTreePtr tree = LoadBookmarkTree();
    EXPECT_EQ(3400u, CountDescendants(tree->root));
    EXPECT_EQ(L"1", tree->root.children[0]->keyName);  // no "Order": 0
    EXPECT_EQ(L"3001", tree->root.children[1]->keyName);
    const BookmarkItem* deepest = tree->root.children[0].get();
    while (!deepest->children.empty()) deepest = deepest->children[0].get();
    EXPECT_EQ(L"C:\\level400", deepest->title);

    const BookmarkItem* added = tree->AddBookmark(L"C:\\x", L"x");
    EXPECT_EQ(L"3002", added->keyName);
    ExpectStoredDword(ItemsPath(L"3001"), L"Order", 2);
    ExpectStoredDword(ItemsPath(L"2"), L"Order", 3001);
    ExpectStoredDword(ItemsPath(L"3002"), L"Order", 3002);
    // The deepest item moves to the top level in one piece.
    tree->Move(*deepest, tree->root, nullptr);
    tree = LoadBookmarkTree();
    EXPECT_EQ(L"C:\\level400", tree->root.children.front()->address);
    EXPECT_EQ(3401u, CountDescendants(tree->root));
}

// HKEY_CURRENT_USER's own name in the NT namespace, the form symbolic links point to.
std::wstring CurrentUserNtPath() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto ntQueryKey = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    alignas(8) BYTE buffer[2048] = {};
    ULONG length = 0;
    std::wstring name;
    if (ntQueryKey && ntQueryKey(key, 3 /* KeyNameInformation */, buffer, sizeof(buffer), &length) == 0) {
        ULONG bytes = *reinterpret_cast<ULONG*>(buffer);
        name.assign(reinterpret_cast<wchar_t*>(buffer + sizeof(ULONG)), bytes / sizeof(wchar_t));
    }
    ::RegCloseKey(key);
    const std::wstring suffix = L"\\Software";
    return name.size() > suffix.size() ? name.substr(0, name.size() - suffix.size()) : L"";
}

TEST_F(MalformedTreeTest, SymbolicLinksAreNeverFollowed) {
    std::wstring user = CurrentUserNtPath();
    ASSERT_FALSE(user.empty());
    MakeItem(L"1", L"C:\\Loop", L"Loop", 1);
    RegistryLink loop(ItemsPath(L"1\\1"), user + L"\\" + ItemsPath(L"1"));  // back to its parent
    RegistryLink dangling(ItemsPath(L"2"), user + L"\\Software\\Ostrelan\\NoSuchKey");

    BookmarkTreePtr tree = LoadBookmarkTree();
    ASSERT_TRUE(tree);
    EXPECT_EQ(3u, CountDescendants(tree->root));
    const BookmarkItem* link = Child(*Child(tree->root, L"1"), L"1");
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->children.empty());
    EXPECT_EQ(L"", link->title);
}

} // namespace
