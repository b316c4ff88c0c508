// The bookmark tree against Wine's real registry: layout, loading rules and every changing operation.
#include "store_registry.h"
#include <functional>
#include <set>

using dv::store::BookmarkItem;
using dv::store::BookmarkTree;
using dv::store::BookmarkTreePtr;
using dv::store::CountDescendants;
using dv::store::DefaultCaption;
using dv::store::IsSeparatorTitle;
using dv::store::ItemKeyPath;
using dv::store::LoadBookmarkTree;
using dv::store::NextKeyName;
using dv::store::RootOf;
using dv::store::SameSubtrees;
using dv::store::SortChildrenByOrder;
using dv::store::kMoveToEnd;

using namespace dv;
using namespace storetest;

namespace {

class BookmarksTest : public StoreTest {};

TEST_F(BookmarksTest, MissingItemsKeyGivesEmptyTreeAndAddBookmarkCreatesTheChain) {
    BookmarkTreePtr tree = LoadBookmarkTree();
    ASSERT_TRUE(tree);
    EXPECT_EQ(0u, CountDescendants(tree->root));
    EXPECT_FALSE(KeyExists(dvtest::kProductKey));  // loading never creates keys

    const BookmarkItem* item = tree->AddBookmark(L"C:\\Data\\", L"");
    ASSERT_TRUE(item);
    EXPECT_EQ(L"1", item->keyName);
    EXPECT_EQ(L"Data", item->title);
    ExpectStoredSz(ItemsPath(L"1"), L"Address", L"C:\\Data\\");  // written unchanged
    ExpectStoredSz(ItemsPath(L"1"), L"Title", L"Data");
    ExpectStoredDword(ItemsPath(L"1"), L"Order", 1);
    EXPECT_FALSE(GetValue(ItemsPath(L"1"), L"ColorIndex").exists);  // only SetColor writes it
    EXPECT_FALSE(GetValue(ItemsPath(), L"Address").exists);          // the root key holds no values
}

TEST_F(BookmarksTest, AddBookmarkFillsTheFirstFreeNameAndRenumbersInListOrder) {
    MakeItem(L"1", L"C:\\a", L"a", 10);
    MakeItem(L"2", L"C:\\b", L"b", 20);
    MakeItem(L"5", L"C:\\e", L"e", 5);
    BookmarkTreePtr tree = LoadBookmarkTree();
    EXPECT_EQ(L"5,1,2", ChildNames(tree->root));

    const BookmarkItem* item = tree->AddBookmark(L"C:\\new", L"New");
    EXPECT_EQ(L"3", item->keyName);
    EXPECT_EQ(L"5,1,2,3", ChildNames(tree->root));
    ExpectStoredDword(ItemsPath(L"5"), L"Order", 1);
    ExpectStoredDword(ItemsPath(L"1"), L"Order", 2);
    ExpectStoredDword(ItemsPath(L"2"), L"Order", 3);
    ExpectStoredDword(ItemsPath(L"3"), L"Order", 4);
}

TEST_F(BookmarksTest, NextKeyNameReadsNamesLikeDecimalNumbers) {
    struct Case {
        std::vector<std::wstring> names;
        const wchar_t* next;
    } cases[] = {
        {{}, L"1"},
        {{L"1", L"2", L"4"}, L"3"},
        {{L"x", L"0", L"-1", L"-2"}, L"1"},    // no digits, zero and negatives block nothing
        {{L" 1", L"+2", L"3abc", L"007"}, L"4"},  // white space, sign, digits up to a non-digit
        {{L"2", L"99999999999999999999"}, L"1"},
    };
    for (const Case& c : cases) {
        BookmarkItem parent;
        for (const auto& name : c.names) {
            parent.children.push_back(std::make_unique<BookmarkItem>());
            parent.children.back()->keyName = name;
        }
        EXPECT_EQ(c.next, NextKeyName(parent));
    }
    // A thousand children named 1..1000 (in any order) make the next name 1001.
    BookmarkItem parent;
    for (int i = 1000; i >= 1; --i) {
        parent.children.push_back(std::make_unique<BookmarkItem>());
        parent.children.back()->keyName = std::to_wstring(i);
    }
    EXPECT_EQ(L"1001", NextKeyName(parent));
}

TEST_F(BookmarksTest, LoadAppliesTheValueRules) {
    const std::wstring long300(300, L'a'), long259(259, L'b');
    MakeItem(L"x", L"C:\\Data\\", nullptr, 1);   // non-numeric name; no "Title": the address as read
    MakeItem(L"1", L"C:\\", L"", 2);             // empty "Title": the default caption; a root keeps "\"
    MakeItem(L"2", long300.c_str(), L"T", 3);    // 300 characters count as absent
    MakeItem(L"3", long259.c_str(), nullptr, 3); // 259 fit; equal orders both load
    MakeItem(L"4", L"%TEMP%\\x\\\\", L"-", 4);   // one backslash goes
    SetSz(ItemsPath(L"4"), L"Address", L"%TEMP%\\x\\\\", REG_EXPAND_SZ);  // read unexpanded
    SetDword(ItemsPath(L"x"), L"ColorIndex", 10);
    SetDword(ItemsPath(L"1"), L"ColorIndex", 12);
    SetSz(ItemsPath(L"2"), L"ColorIndex", L"3");
    SetRaw(ItemsPath(L"3"), L"Title", REG_SZ, L"no terminator", 13 * sizeof(wchar_t));
    SetRaw(ItemsPath(L"3"), L"ColorIndex", REG_BINARY, "\x03\0\0\0", 4);

    BookmarkTreePtr tree = LoadBookmarkTree();
    ASSERT_EQ(5u, tree->root.children.size());
    const BookmarkItem* x = Child(tree->root, L"x");
    EXPECT_EQ(L"C:\\Data", x->address);
    EXPECT_EQ(L"C:\\Data", x->title);
    EXPECT_EQ(10u, x->colorIndex);
    const BookmarkItem* one = Child(tree->root, L"1");
    EXPECT_EQ(L"C:\\", one->address);
    EXPECT_EQ(L"C:\\", one->title);
    EXPECT_EQ(0u, one->colorIndex);
    const BookmarkItem* two = Child(tree->root, L"2");
    EXPECT_EQ(L"", two->address);
    EXPECT_EQ(L"T", two->title);
    EXPECT_EQ(0u, two->colorIndex);
    const BookmarkItem* three = Child(tree->root, L"3");
    EXPECT_EQ(long259, three->address);
    EXPECT_EQ(L"no terminator", three->title);
    EXPECT_EQ(0u, three->colorIndex);
    const BookmarkItem* four = Child(tree->root, L"4");
    EXPECT_EQ(L"%TEMP%\\x\\", four->address);
    EXPECT_TRUE(IsSeparatorTitle(four->title));
    // Sorted by order: x(1), 1(2), then 2 and 3 (both 3) in either order, then 4.
    EXPECT_EQ(L"x", tree->root.children[0]->keyName);
    EXPECT_EQ(L"1", tree->root.children[1]->keyName);
    EXPECT_EQ(L"4", tree->root.children[4]->keyName);
}

TEST_F(BookmarksTest, CaptionsAndSeparators) {
    EXPECT_EQ(L"Reports", DefaultCaption(L"C:\\Data\\Reports\\"));
    EXPECT_EQ(L"Reports", DefaultCaption(L"C:\\Data\\Reports"));
    EXPECT_EQ(L"", DefaultCaption(L""));
    EXPECT_TRUE(IsSeparatorTitle(L"-"));
    for (const wchar_t* caption : {L" -", L"--", L"- ", L"", L"\x2014"}) EXPECT_FALSE(IsSeparatorTitle(caption));
    EXPECT_FALSE(IsSeparatorTitle(static_cast<const wchar_t*>(nullptr)));
}

TEST_F(BookmarksTest, EditsWriteThroughAndReadBack) {
    MakeItem(L"1", L"C:\\Group", L"Group", 1);
    MakeItem(L"1\\1", L"C:\\Group\\a", L"a", 1);
    BookmarkTreePtr tree = LoadBookmarkTree();
    const BookmarkItem& group = *tree->root.children[0];

    const BookmarkItem* added = tree->Add(group, L"D:\\Work\\", L"");  // order = child count, siblings untouched
    EXPECT_EQ(ItemsPath(L"1\\2"), ItemKeyPath(*added));
    EXPECT_EQ(2u, added->order);
    ExpectStoredSz(ItemsPath(L"1\\2"), L"Title", L"Work");
    ExpectStoredDword(ItemsPath(L"1\\1"), L"Order", 1);

    EXPECT_TRUE(tree->Edit(*added, L"E:\\Other", L""));  // empty caption stays empty in memory
    EXPECT_EQ(L"", added->title);
    ExpectStoredSz(ItemsPath(L"1\\2"), L"Address", L"E:\\Other");
    ExpectStoredSz(ItemsPath(L"1\\2"), L"Title", L"");
    EXPECT_TRUE(tree->SetColor(*added, 7));
    ExpectStoredDword(ItemsPath(L"1\\2"), L"ColorIndex", 7);
    tree->SetColor(*added, 11);
    EXPECT_EQ(0u, added->colorIndex);
    ExpectStoredDword(ItemsPath(L"1\\2"), L"ColorIndex", 0);

    // Texts are cut to what a load reads back.
    const BookmarkItem* longItem = tree->Add(tree->root, std::wstring(300, L'p').c_str(), L"Long");
    EXPECT_EQ(259u, longItem->address.size());

    tree = LoadBookmarkTree();
    const BookmarkItem* reloaded = Child(*Child(tree->root, L"1"), L"2");
    EXPECT_EQ(L"Other", reloaded->title);  // the default caption after the reload
    EXPECT_EQ(std::wstring(259, L'p'), Child(tree->root, L"2")->address);

    // Changes to the root never put values on the root key.
    EXPECT_FALSE(tree->SetColor(tree->root, 3));
    EXPECT_FALSE(tree->Edit(tree->root, L"C:\\", L"root"));
    EXPECT_FALSE(tree->Remove(tree->root));
    EXPECT_FALSE(GetValue(ItemsPath(), L"ColorIndex").exists);
    EXPECT_FALSE(GetValue(ItemsPath(), L"Address").exists);
    EXPECT_TRUE(KeyExists(ItemsPath(L"1")));
}

TEST_F(BookmarksTest, WriteChildOrderStopsAtAMissingKey) {
    for (const wchar_t* name : {L"1", L"2", L"3"}) MakeItem(name, L"C:\\", name, 9);
    BookmarkTreePtr tree = LoadBookmarkTree();
    ::SHDeleteKeyW(HKEY_CURRENT_USER, ItemsPath(L"2").c_str());  // another process removed it
    EXPECT_FALSE(tree->WriteChildOrder(tree->root));
    ExpectStoredDword(ItemsPath(L"1"), L"Order", 1);
    ExpectStoredDword(ItemsPath(L"3"), L"Order", 9);
    EXPECT_EQ(9u, tree->root.children[2]->order);
    EXPECT_FALSE(KeyExists(ItemsPath(L"2")));  // not created again
}

TEST_F(BookmarksTest, MoveAcrossParentsTakesTheSubtree) {
    MakeItem(L"1", L"C:\\A", L"A", 1);
    MakeItem(L"1\\1", L"C:\\A\\1", L"A1", 1);
    MakeItem(L"1\\1\\1", L"C:\\A\\1\\x", L"A1x", 1);
    MakeItem(L"2", L"C:\\B", L"B", 2);
    MakeItem(L"2\\1", L"C:\\B\\1", L"B1", 1);
    SetDword(ItemsPath(L"1\\1"), L"ColorIndex", 4);
    BookmarkTreePtr tree = LoadBookmarkTree();
    const BookmarkItem& a1 = *tree->root.children[0]->children[0];
    const BookmarkItem& b = *tree->root.children[1];

    EXPECT_TRUE(tree->Move(a1, b, nullptr));  // first place under B, key name 2 there
    EXPECT_EQ(L"2,1", ChildNames(b));
    EXPECT_EQ(&b, a1.parent);
    EXPECT_TRUE(tree->root.children[0]->children.empty());
    EXPECT_FALSE(KeyExists(ItemsPath(L"1\\1")));
    ExpectStoredSz(ItemsPath(L"2\\2"), L"Title", L"A1");
    ExpectStoredDword(ItemsPath(L"2\\2"), L"ColorIndex", 4);
    ExpectStoredDword(ItemsPath(L"2\\2"), L"Order", 1);
    ExpectStoredDword(ItemsPath(L"2\\1"), L"Order", 2);
    ExpectStoredSz(ItemsPath(L"2\\2\\1"), L"Title", L"A1x");

    // Into its own subtree: refused, nothing changes.
    const BookmarkItem& bItem = b;
    EXPECT_FALSE(tree->Move(bItem, *bItem.children[0], &kMoveToEnd));
    EXPECT_EQ(&tree->root, bItem.parent);

    tree = LoadBookmarkTree();
    const BookmarkItem* moved = tree->root.children[1]->children[0].get();
    EXPECT_EQ(L"A1", moved->title);
    EXPECT_EQ(L"A1x", moved->children[0]->title);
    EXPECT_EQ(5u, CountDescendants(tree->root));
}

TEST_F(BookmarksTest, MoveWithinAParentKeepsKeyNamesAndRenumbers) {
    for (const wchar_t* name : {L"1", L"2", L"3", L"4"}) MakeItem(name, L"C:\\", name, _wtoi(name));
    BookmarkTreePtr tree = LoadBookmarkTree();
    const BookmarkItem& root = tree->root;
    const BookmarkItem* one = root.children[0].get();
    const BookmarkItem* three = root.children[2].get();

    tree->Move(*three, root, nullptr);  // Move Up to the top
    EXPECT_EQ(L"3,1,2,4", ChildNames(root));
    tree->Move(*three, root, &kMoveToEnd);
    EXPECT_EQ(L"1,2,4,3", ChildNames(root));
    tree->Move(*one, root, root.children[2].get());  // right after "4"
    EXPECT_EQ(L"2,4,1,3", ChildNames(root));
    tree->Move(*one, root, one);  // after itself: stays
    EXPECT_EQ(L"2,4,1,3", ChildNames(root));
    EXPECT_EQ(L"3", three->keyName);
    DWORD expected = 0;
    for (const wchar_t* name : {L"2", L"4", L"1", L"3"}) ExpectStoredDword(ItemsPath(name), L"Order", ++expected);
    EXPECT_EQ(L"2,4,1,3", ChildNames(LoadBookmarkTree()->root));
}

// The old key is copied with SHCopyKeyW semantics; a subkey that cannot be opened (a dangling
// symbolic link) makes the copy fail halfway.
TEST_F(BookmarksTest, FailedMoveLeavesNoPartialCopy) {
    MakeItem(L"1", L"C:\\A", L"A", 1);
    MakeItem(L"1\\1", L"C:\\A\\1", L"A1", 1);
    MakeItem(L"2", L"C:\\B", L"B", 2);
    RegistryLink link(ItemsPath(L"1\\2"), L"\\Registry\\Machine\\Software\\Ostrelan\\NoSuchKey");

    BookmarkTreePtr tree = LoadBookmarkTree();
    ASSERT_EQ(2u, tree->root.children[0]->children.size());  // the link loads as an empty item
    EXPECT_FALSE(tree->Move(*tree->root.children[0], *tree->root.children[1], &kMoveToEnd));

    EXPECT_FALSE(KeyExists(ItemsPath(L"2\\1")));  // the partial copy is gone
    ExpectStoredSz(ItemsPath(L"1"), L"Title", L"A");
    ExpectStoredSz(ItemsPath(L"1\\1"), L"Title", L"A1");
    tree = LoadBookmarkTree();
    EXPECT_EQ(L"1,2", ChildNames(tree->root));
    EXPECT_TRUE(tree->root.children[1]->children.empty());
}

TEST_F(BookmarksTest, RemoveBookmarksOfDeletesMatchesWithTheirSubItemsIgnoringAToZCase) {
    MakeItem(L"1", L"c:\\data", L"top", 1);             // differs only in letter case
    MakeItem(L"2", L"C:\\Data", L"group", 2);           // goes with all its sub-items
    MakeItem(L"2\\1", L"C:\\DATA", L"nested", 1);
    MakeItem(L"2\\2", L"C:\\Other", L"other", 2);
    MakeItem(L"3", L"C:\\Group", L"only child goes", 3);
    MakeItem(L"3\\1", L"C:\\data", L"child", 1);
    MakeItem(L"4", L"C:\\D\x00C4TA", L"not A-Z", 4);    // only A to Z fold
    MakeItem(L"5", L"C:\\Data\\", L"sub", 5);           // loads as C:\Data
    BookmarkTreePtr tree = LoadBookmarkTree();

    EXPECT_TRUE(tree->RemoveBookmarksOf(L"C:\\Data"));
    EXPECT_EQ(L"3,4", ChildNames(LoadBookmarkTree()->root));
    EXPECT_TRUE(KeyExists(ItemsPath(L"3")));
    EXPECT_FALSE(KeyExists(ItemsPath(L"3\\1")));
    tree->RemoveBookmarksOf(L"C:\\D\x00E4TA");
    EXPECT_TRUE(KeyExists(ItemsPath(L"4")));
    EXPECT_EQ(L"3,4", ChildNames(tree->root));  // the loaded tree lost the same items
    EXPECT_TRUE(SameSubtrees(tree->root, LoadBookmarkTree()->root));
}

// Other processes (the menu in Explorer, another manager) write while a tree is loaded: a key name
// that exists in the registry is never written into, whatever the loaded tree says.
TEST_F(BookmarksTest, NewKeysNeverReuseANameAnotherWriterTook) {
    struct Case {
        const char* what;
        std::vector<const wchar_t*> takenMeanwhile;  // keys another writer made after the load
        bool move;                                   // move "1" under "2" rather than add under "2"
        const wchar_t* expectedKey;
    } cases[] = {
        {"add beside one", {L"2\\1"}, false, L"2\\2"},
        {"add beside several", {L"2\\1", L"2\\2", L"2\\4"}, false, L"2\\5"},  // on after their count
        {"move onto one", {L"2\\1"}, true, L"2\\2"},
        {"move onto several", {L"2\\1", L"2\\2", L"2\\3"}, true, L"2\\4"},
    };
    for (const Case& c : cases) {
        dvtest::CleanProductKey clean;
        MakeItem(L"1", L"C:\\A", L"A", 1);
        MakeItem(L"1\\1", L"C:\\A\\x", L"Ax", 1);
        MakeItem(L"2", L"C:\\B", L"B", 2);
        BookmarkTreePtr tree = LoadBookmarkTree();
        for (const wchar_t* key : c.takenMeanwhile) MakeItem(key, L"C:\\Other", L"theirs", 9);
        const BookmarkItem& b = *tree->root.children[1];
        if (c.move) {
            EXPECT_TRUE(tree->Move(*tree->root.children[0], b, &kMoveToEnd)) << c.what;
            ExpectStoredSz(ItemsPath(std::wstring(c.expectedKey) + L"\\1"), L"Title", L"Ax");
        } else {
            ASSERT_TRUE(tree->Add(b, L"C:\\Mine", L"mine")) << c.what;
        }
        EXPECT_EQ(std::wstring(c.expectedKey).substr(2), b.children.back()->keyName) << c.what;
        ExpectStoredSz(ItemsPath(c.expectedKey), L"Title", c.move ? L"A" : L"mine");
        for (const wchar_t* key : c.takenMeanwhile) {
            ExpectStoredSz(ItemsPath(key), L"Title", L"theirs");
            EXPECT_FALSE(KeyExists(ItemsPath(std::wstring(key) + L"\\1"))) << c.what << ": merged into";
        }
    }
    // A parent deleted meanwhile is not made again by an add or a move into it.
    MakeItem(L"1", L"C:\\A", L"A", 1);
    MakeItem(L"2", L"C:\\B", L"B", 2);
    BookmarkTreePtr tree = LoadBookmarkTree();
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CURRENT_USER, ItemsPath(L"2").c_str()));
    EXPECT_FALSE(tree->Add(*tree->root.children[1], L"C:\\Mine", L"mine"));
    EXPECT_FALSE(tree->Move(*tree->root.children[0], *tree->root.children[1], &kMoveToEnd));
    EXPECT_FALSE(KeyExists(ItemsPath(L"2")));
    ExpectStoredSz(ItemsPath(L"1"), L"Title", L"A");
}

// Two processes, started together, each add 200 bookmarks through trees they loaded once.
TEST_F(BookmarksTest, TwoProcessesAddingAtOnceKeepEveryBookmark) {
    dv::unique_handle go(::CreateEventW(nullptr, TRUE, FALSE, L"DirvaneStoreWriterGo"));
    ASSERT_TRUE(go);
    std::vector<dv::unique_handle> writers;
    for (const wchar_t* prefix : {L"C:\\first\\", L"C:\\second\\"})
        writers.push_back(dvtest::StartProcess(L"\"" + dvtest::ProgramFolder() + L"\\store_writer.exe\" 200 " + prefix +
                                               L" DirvaneStoreWriterGo"));
    for (const auto& writer : writers) ASSERT_TRUE(writer);
    ::SetEvent(go.get());
    for (const auto& writer : writers) {
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(writer.get(), 120000));
        DWORD code = 1;
        ::GetExitCodeProcess(writer.get(), &code);
        EXPECT_EQ(0u, code);
    }
    BookmarkTreePtr tree = LoadBookmarkTree();
    std::set<std::wstring> addresses;
    for (const auto& item : tree->root.children) addresses.insert(item->address);
    EXPECT_EQ(400u, tree->root.children.size());
    EXPECT_EQ(400u, addresses.size());
    EXPECT_TRUE(addresses.count(L"C:\\first\\199") && addresses.count(L"C:\\second\\0"));
}

TEST_F(BookmarksTest, InMemoryStructure) {
    BookmarkItem root;
    for (int i = 0; i < 3; ++i) {
        root.children.push_back(std::make_unique<BookmarkItem>());
        root.children.back()->parent = &root;
    }
    BookmarkItem* middle = root.children[1].get();
    middle->children.push_back(std::make_unique<BookmarkItem>());
    middle->children.back()->parent = middle;
    const BookmarkItem* grandchild = middle->children[0].get();
    EXPECT_EQ(4u, CountDescendants(root));
    EXPECT_EQ(&root, RootOf(*grandchild));

    // A chain far deeper than any registry holds is walked and freed without recursion.
    auto chain = std::make_unique<BookmarkItem>();
    BookmarkItem* tip = chain.get();
    for (int i = 0; i < 200000; ++i) {
        tip->children.push_back(std::make_unique<BookmarkItem>());
        tip->children.back()->parent = tip;
        tip->children.back()->order = 200000 - i;
        tip = tip->children.back().get();
    }
    SortChildrenByOrder(*chain);
    EXPECT_EQ(200000u, CountDescendants(*chain));
    EXPECT_EQ(chain.get(), RootOf(*tip));
    chain.reset();
}

// After every operation the tree in memory is the tree a reload reads; an operation the registry
// refuses (its key removed by another process, an item of another tree) changes neither.
TEST_F(BookmarksTest, MemoryAndRegistryStayInStep) {
    using Op = std::function<bool(BookmarkTree&)>;
    auto at = [](const BookmarkTree& tree, const wchar_t* path) -> const BookmarkItem& { return ItemAt(tree, path); };
    struct Case {
        const char* what;
        const wchar_t* removedMeanwhile;  // a key another process deletes after the load
        bool succeeds;
        Op op;
    } cases[] = {
        {"add", nullptr, true, [&](BookmarkTree& t) { return t.Add(at(t, L"1"), L"C:\\New", L"") != nullptr; }},
        {"add bookmark", nullptr, true, [](BookmarkTree& t) { return t.AddBookmark(L"C:\\New\\", L"New") != nullptr; }},
        {"edit", nullptr, true, [&](BookmarkTree& t) { return t.Edit(at(t, L"2"), L"D:\\x", L"X"); }},
        {"colour", nullptr, true, [&](BookmarkTree& t) { return t.SetColor(at(t, L"3"), 5); }},
        {"move up", nullptr, true, [&](BookmarkTree& t) { return t.Move(at(t, L"3"), t.root, nullptr); }},
        {"move across", nullptr, true, [&](BookmarkTree& t) { return t.Move(at(t, L"1\\1"), at(t, L"2"), &kMoveToEnd); }},
        {"indent a group", nullptr, true, [&](BookmarkTree& t) { return t.Move(at(t, L"1"), at(t, L"3"), &kMoveToEnd); }},
        {"remove a group", nullptr, true, [&](BookmarkTree& t) { return t.Remove(at(t, L"1")); }},
        {"remove by folder", nullptr, true, [](BookmarkTree& t) { return t.RemoveBookmarksOf(L"c:\\a\\2"); }},
        {"reorder", nullptr, true, [&](BookmarkTree& t) { return t.Reorder(t.root, {&at(t, L"3"), &at(t, L"1")}); }},
        {"edit removed", L"2", false, [&](BookmarkTree& t) { return t.Edit(at(t, L"2"), L"D:\\x", L"X"); }},
        {"colour removed", L"2", false, [&](BookmarkTree& t) { return t.SetColor(at(t, L"2"), 5); }},
        {"add under removed", L"2", false, [&](BookmarkTree& t) { return t.Add(at(t, L"2"), L"C:\\x", L"x") != nullptr; }},
        {"move under removed", L"2", false, [&](BookmarkTree& t) { return t.Move(at(t, L"3"), at(t, L"2"), nullptr); }},
        {"move into itself", nullptr, false, [&](BookmarkTree& t) { return t.Move(at(t, L"1"), at(t, L"1\\2"), nullptr); }},
        {"another tree's item", nullptr, false, [](BookmarkTree& t) { return t.Remove(ItemAt(*LoadBookmarkTree(), L"1")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dvtest::CleanProductKey clean;
        SeedGroupTree();
        BookmarkTreePtr tree = LoadBookmarkTree(), before = LoadBookmarkTree();
        if (c.removedMeanwhile) {
            ASSERT_EQ(ERROR_SUCCESS, ::SHDeleteKeyW(HKEY_CURRENT_USER, ItemsPath(c.removedMeanwhile).c_str()));
        }
        BookmarkTreePtr storedBefore = LoadBookmarkTree();
        EXPECT_EQ(c.succeeds, c.op(*tree));
        BookmarkTreePtr stored = LoadBookmarkTree();
        if (c.succeeds) {
            EXPECT_TRUE(SameSubtrees(tree->root, stored->root));
            EXPECT_FALSE(SameSubtrees(tree->root, before->root));
        } else {
            EXPECT_TRUE(SameSubtrees(tree->root, before->root));
            EXPECT_TRUE(SameSubtrees(stored->root, storedBefore->root));
        }
    }
}

} // namespace
