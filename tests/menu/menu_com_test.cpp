// The handler as the shell sees it: registered with regsvr32, created through COM, asked for its
// menu and invoked. The store's API only seeds and reads the registry.
#include "menu_com.h"
#include "menu_support.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include "common/registry.h"
#include "common/text.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <shlobj.h>
#include <shlwapi.h>

using dv::store::BookmarkItem;
using dv::store::BookmarkTreePtr;
using dv::store::CountDescendants;
using dv::store::LoadBookmarkTree;
using dv::store::ReleaseBookmarkTree;
using dv::store::ResetTextEditor;
using dv::store::WriteTextEditor;
using dv::store::kAddOnsKeyPath;

using namespace dv;
using namespace menutest;

namespace {

std::vector<std::wstring> TopLevelAddresses() {
    BookmarkTreePtr tree = LoadBookmarkTree();
    std::vector<std::wstring> addresses;
    for (const auto& child : tree->root.children) addresses.push_back(child->address + L"|" + child->title);
    ReleaseBookmarkTree(tree);
    return addresses;
}

TEST_F(MenuCom, FlagsDecideWhetherItemsAreAdded) {
    std::wstring work = scratch_.MakeFolder(L"Work");
    struct Case { UINT flags; bool adds; } cases[] = {
        {CMF_NORMAL, true},          {CMF_DEFAULTONLY, false}, {CMF_VERBSONLY, false},
        {CMF_NOVERBS, false},        {CMF_NOVERBS | CMF_EXPLORE, true}, {CMF_EXPLORE, true},
        {CMF_DEFAULTONLY | CMF_EXPLORE, false},
    };
    for (const Case& c : cases) {
        Menu m;
        ASSERT_EQ(m.Background(work), S_OK);
        UINT used = m.Query(c.flags);
        EXPECT_EQ(used, c.adds ? 5u : 0u) << "flags " << c.flags;
        EXPECT_EQ(::GetMenuItemCount(m.host.get()), c.adds ? 1 : 0) << "flags " << c.flags;
        EXPECT_EQ(m.Help(0), c.adds ? L"Instantly opens the selected folder inplace" : Str(101));
    }
}

TEST_F(MenuCom, AddsNothingToAMenuThatAlreadyHasIt) {
    std::wstring work = scratch_.MakeFolder(L"Work");
    for (const wchar_t* existing : {L"Dir&vane", L"More Dir&vane items", L"Copy paths to Clipboard"}) {
        Menu m;
        ASSERT_EQ(m.Background(work), S_OK);
        ::AppendMenuW(m.host.get(), MF_STRING, 1, existing);
        EXPECT_EQ(m.Query(), 0u) << existing;
        EXPECT_EQ(::GetMenuItemCount(m.host.get()), 1);
    }
    // Without the ampersand it is another text; and a second handler on one menu adds nothing.
    Menu first, second;
    ASSERT_EQ(first.Background(work), S_OK);
    ASSERT_EQ(second.Background(work), S_OK);
    ::AppendMenuW(first.host.get(), MF_STRING, 1, L"Dirvane");
    EXPECT_EQ(first.Query(), 5u);
    EXPECT_EQ(second.menu->QueryContextMenu(first.host.get(), 0, 200, 0x7FFF, CMF_NORMAL), MAKE_HRESULT(0, 0, 0));
}

TEST_F(MenuCom, EmptyTreeGivesEmptyListEntry) {
    std::wstring work = scratch_.MakeFolder(L"Work");
    Menu m;
    ASSERT_EQ(m.Background(work), S_OK);
    EXPECT_EQ(m.Query(CMF_NORMAL, 7), 5u);
    auto rows = m.Rows();
    ASSERT_EQ(rows.size(), 5u) << Describe(rows);
    EXPECT_EQ(rows[0].text, L"Dir&vane");
    EXPECT_EQ(rows[0].id, 11u);
    EXPECT_TRUE(rows[1].grayed);
    EXPECT_EQ(rows[1].text, L"(Empty List)");
    EXPECT_TRUE(rows[2].separator);
    EXPECT_EQ(rows[3].text, L"Bookmark \"Work\"");
    EXPECT_EQ(rows[4].text, L"Properties...");
    EXPECT_EQ(rows[4].id, 10u);
    EXPECT_EQ(m.Invoke(0), E_INVALIDARG);  // the greyed entry is no command
}

TEST_F(MenuCom, WorkedExample) {
    std::wstring work = scratch_.MakeFolder(L"Work");
    {
        Seed seed;
        seed.Add(scratch_ / L"Docs", L"Docs", 2);
        seed.Add(L"", L"-");
        seed.Add(scratch_ / L"Tools", L"Tools", 0);
    }
    SetAddOns(1, 1, 1);
    BrowserWindow explorer;
    Menu m;
    ASSERT_EQ(m.Background(work), S_OK);
    EXPECT_EQ(m.QueryWhileForeground(explorer.window(), CMF_NORMAL, 100), 9u);
    auto rows = m.Rows();
    ASSERT_EQ(rows.size(), 9u) << Describe(rows);
    const std::pair<const wchar_t*, UINT> expected[] = {
        {L"Dir&vane", 106}, {L"Docs", 100}, {L"", 101}, {L"Tools", 102}, {L"", 103}, {L"Bookmark \"Work\"", 104},
        {L"Properties...", 105}, {L"Copy paths to Clipboard", 107}, {L"Command prompt from this folder", 108}};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].text, expected[i].first) << i;
        EXPECT_EQ(rows[i].id, expected[i].second) << i;
    }
    EXPECT_TRUE(rows[0].image) << "product image";
    EXPECT_TRUE(rows[1].image) << "colour 2";
    EXPECT_FALSE(rows[3].image) << "colour 0 has no image";
    EXPECT_TRUE(rows[7].checkMark && rows[8].checkMark);
    EXPECT_EQ(m.Help(0), L"Jump to \"" + (scratch_ / L"Docs") + L"\"");
    EXPECT_EQ(m.Help(1), L"Jump to \"\"");   // the separator's entry, empty
    EXPECT_EQ(m.Help(3), Str(101));         // beyond the three entries of the tree
    EXPECT_EQ(m.Help(4), Str(105));
    EXPECT_EQ(m.Help(5), Str(104));
    EXPECT_EQ(m.Help(7), Str(117));
    EXPECT_EQ(m.Help(8), Str(107));
}

TEST_F(MenuCom, BookmarkCommandCaptions) {
    std::wstring reports = scratch_.MakeFolder(L"Reports");
    std::wstring a = scratch_.MakeFolder(L"A"), b = scratch_.MakeFolder(L"B"), c = scratch_.MakeFolder(L"C");
    std::wstring upper = reports;
    for (wchar_t& ch : upper) ch = static_cast<wchar_t>(::towupper(ch));
    {
        Seed seed;
        seed.Add(upper, L"Upper");
        seed.Add(c, L"C");
    }
    {   // Bookmarked apart from letter case.
        Menu m;
        ASSERT_EQ(m.Background(reports), S_OK);
        m.Query();
        EXPECT_NE(m.Offset(L"Unbookmark \"Reports\""), kNone) << Describe(m.Rows());
    }
    {   // Three folders, the first of them (C, by the descending order) bookmarked.
        Menu m;
        ASSERT_EQ(m.Items(scratch_.path(), {L"A", L"B", L"C"}), S_OK);
        m.Query();
        EXPECT_NE(m.Offset(L"Bookmark \"C\" + 1 more items"), kNone) << Describe(m.Rows());
    }
    {   // A caption too long for its buffer loses the end of the name, not the rest of the text.
        std::wstring folder = L"C:\\" + std::wstring(250, L'n');
        Menu m;
        ASSERT_EQ(m.Drop({folder + L"\\x"}), S_OK);  // a missing file names its folder in full
        m.Query();
        auto rows = m.Rows();
        ASSERT_GE(rows.size(), 4u) << Describe(rows);
        const std::wstring& caption = rows[rows.size() - 2].text;  // above "Properties..."
        EXPECT_EQ(caption.size(), 259u);
        EXPECT_EQ(caption.substr(0, 20), L"Bookmark \"C:\\nnnnnnn");
        EXPECT_EQ(caption.substr(caption.size() - 3), L"n\x2026\"");
    }
}

TEST_F(MenuCom, NestedItemsBecomeSubmenus) {
    std::wstring grand = scratch_.MakeFolder(L"Group\\Two\\Grand");
    {
        Seed seed;
        const BookmarkItem* group = seed.Add(scratch_ / L"Group", L"Group", 3);
        seed.Add(scratch_ / L"Group\\One", L"One", 0, group);
        seed.Add(L"", L"-", 0, group);
        const BookmarkItem* two = seed.Add(scratch_ / L"Group\\Two", L"Two", 5, group);
        seed.Add(grand, L"Grand", 0, two);
        seed.Add(scratch_ / L"Top", L"Top");
    }
    Menu m;
    ASSERT_EQ(m.Background(scratch_.MakeFolder(L"Here")), S_OK);
    EXPECT_EQ(m.Query(CMF_NORMAL, 100), 14u);
    auto rows = m.Rows();
    const std::tuple<int, const wchar_t*, UINT, bool> expected[] = {
        {0, L"Dir&vane", 113, true}, {1, L"Group", 100, true}, {2, L"Group", 101, false}, {2, L"", 102, false},
        {2, L"One", 103, false},     {2, L"", 104, false},     {2, L"Two", 105, true},    {3, L"Two", 106, false},
        {3, L"", 107, false},        {3, L"Grand", 108, false}, {1, L"Top", 109, false},  {1, L"", 110, false},
    };
    ASSERT_GE(rows.size(), std::size(expected)) << Describe(rows);
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(rows[i].depth, std::get<0>(expected[i])) << i << "\n" << Describe(rows);
        EXPECT_EQ(rows[i].text, std::get<1>(expected[i])) << i;
        EXPECT_EQ(rows[i].id, std::get<2>(expected[i])) << i;
        EXPECT_EQ(rows[i].submenu, std::get<3>(expected[i])) << i;
    }
    EXPECT_TRUE(rows[1].image && rows[2].image && rows[6].image);  // colours 3 and 5
    EXPECT_FALSE(rows[4].image);
    EXPECT_EQ(m.Help(3), L"Jump to \"" + (scratch_ / L"Group\\One") + L"\"");

    BrowserWindow explorer;
    EXPECT_EQ(m.Invoke(8, explorer.window()), S_OK);
    ASSERT_EQ(explorer.Browsed().size(), 1u);
    EXPECT_TRUE(SamePath(explorer.Browsed()[0], grand)) << explorer.Browsed()[0];
}

TEST_F(MenuCom, IdentifiersStayInTheShellsRange) {
    {
        Seed seed;
        for (int i = 0; i < 10; ++i) seed.Add(L"C:\\Flat" + std::to_wstring(i), L"Flat" + std::to_wstring(i));
        const BookmarkItem* group = seed.Add(L"C:\\Group", L"Group");
        for (int i = 0; i < 5; ++i) seed.Add(L"C:\\Group\\" + std::to_wstring(i), L"Child" + std::to_wstring(i), 0, group);
    }
    SetAddOns(0, 1, 0);
    auto maxId = [](const std::vector<Row>& rows) {
        UINT most = 0;
        for (const Row& row : rows) most = std::max(most, row.id);
        return most;
    };
    {   // Seven identifiers: two bookmarks and the five fixed items.
        Menu m;
        ASSERT_EQ(m.Background(scratch_.path()), S_OK);
        EXPECT_EQ(m.Query(CMF_NORMAL, 100, 106), 7u);
        auto rows = m.Rows();
        EXPECT_EQ(maxId(rows), 106u) << Describe(rows);
        EXPECT_TRUE(Find(rows, L"Flat1") && !Find(rows, L"Flat2")) << Describe(rows);
        EXPECT_TRUE(Find(rows, L"Properties...") && Find(rows, L"Command prompt from this folder"));
        EXPECT_EQ(m.Invoke(m.Offset(L"Flat1"), nullptr), S_OK);
    }
    {   // The cut falls inside the submenu: its item and its own folder fit, no child.
        Menu m;
        ASSERT_EQ(m.Background(scratch_.path()), S_OK);
        EXPECT_EQ(m.Query(CMF_NORMAL, 100, 116), 17u);
        auto rows = m.Rows();
        EXPECT_EQ(maxId(rows), 116u) << Describe(rows);
        EXPECT_TRUE(Find(rows, L"Group") && !Find(rows, L"Child0")) << Describe(rows);
    }
    {   // No room for the fixed items: nothing at all.
        Menu m;
        ASSERT_EQ(m.Background(scratch_.path()), S_OK);
        EXPECT_EQ(m.Query(CMF_NORMAL, 100, 104), 0u);
        EXPECT_EQ(m.Query(CMF_NORMAL, 100, 50), 0u);
        EXPECT_EQ(::GetMenuItemCount(m.host.get()), 0);
    }
}

TEST_F(MenuCom, AddOnItemsFollowSelectionAndForeground) {
    SetAddOns(1, 1, 1);
    std::wstring data = scratch_.MakeFolder(L"Data");
    scratch_.MakeFile(L"Data\\a.txt");
    scratch_.MakeFile(L"Data\\b.txt");
    BrowserWindow explorer;
    {   // One existing file: the editor right below the top-level item.
        Menu m;
        ASSERT_EQ(m.Items(data, {L"a.txt"}), S_OK);
        m.QueryWhileForeground(explorer.window());
        EXPECT_EQ(m.Rows().back().text, L"Command prompt from this folder");
        wchar_t text[64] = {};
        ::GetMenuStringW(m.host.get(), 1, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, L"Open in Editor");
    }
    {   // Two files stand for their folder: no editor.
        Menu m;
        ASSERT_EQ(m.Items(data, {L"a.txt", L"b.txt"}), S_OK);
        m.Query();
        EXPECT_EQ(m.Offset(L"Open in Editor"), kNone);
    }
    {   // The Computer folder: no command prompt.
        Menu m;
        ASSERT_EQ(m.Background(kComputer), S_OK);
        m.QueryWhileForeground(explorer.window());
        EXPECT_EQ(m.Offset(L"Command prompt from this folder"), kNone) << Describe(m.Rows());
        EXPECT_NE(m.Offset(L"Copy paths to Clipboard"), kNone);
    }
    {   // The desktop in the foreground: no copy paths.
        using SetShellWindowFn = BOOL(WINAPI*)(HWND);
        auto setShellWindow =
            reinterpret_cast<SetShellWindowFn>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetShellWindow"));
        BrowserWindow desktop;
        ASSERT_TRUE(setShellWindow && (::GetShellWindow() || setShellWindow(desktop.window())));
        Menu m;
        ASSERT_EQ(m.Background(data), S_OK);
        m.QueryWhileForeground(::GetShellWindow());
        EXPECT_EQ(m.Offset(L"Copy paths to Clipboard"), kNone) << Describe(m.Rows());
        EXPECT_NE(m.Offset(L"Command prompt from this folder"), kNone);
    }
}

TEST_F(MenuCom, ImagesPerWindowsGeneration) {
    {
        Seed seed;
        seed.Add(L"C:\\Red", L"Red", 2);
        seed.Add(L"C:\\Plain", L"Plain", 0);
    }
    SetAddOns(0, 1, 0);
    struct Generation { const wchar_t* name; const wchar_t* version; };
    for (Generation g : {Generation{L"probe7", nullptr}, Generation{L"probexp", L"winxp"}, Generation{L"probe2k", L"win2k"}}) {
        std::wstring exe = scratch_ / (std::wstring(g.name) + L".exe").c_str();
        ASSERT_TRUE(::CopyFileW((dvtest::ProgramFolder() + L"\\menu_probe.exe").c_str(), exe.c_str(), FALSE));
        std::wstring appKey = std::wstring(L"Software\\Wine\\AppDefaults\\") + g.name + L".exe";
        if (g.version) WriteRegString(CreateRegKey(HKEY_CURRENT_USER, appKey.c_str()).get(), L"Version", g.version);
        std::wstring report = scratch_ / (std::wstring(g.name) + L".txt").c_str();
        DWORD code = dvtest::RunProcess(L"\"" + exe + L"\" \"" + report + L"\" \"" + scratch_.path() + L"\"");
        ::SHDeleteKeyW(HKEY_CURRENT_USER, appKey.c_str());
        ASSERT_EQ(code, 0u) << g.name;
        std::wstring text = ReadTextFile(report);
        auto has = [&](const wchar_t* line) { return text.find(line) != std::wstring::npos; };
        SCOPED_TRACE(text);
        if (!g.version) {
            EXPECT_TRUE(has(L"version vista=1 prexp=0"));
            EXPECT_TRUE(has(L"item 0 Dir&vane image=own mark=0"));
            EXPECT_TRUE(has(L"item 1 Red image=own mark=0"));
        } else if (wcscmp(g.version, L"winxp") == 0) {
            EXPECT_TRUE(has(L"version vista=0 prexp=0"));
            EXPECT_TRUE(has(L"item 0 Dir&vane image=callback mark=0"));
            EXPECT_TRUE(has(L"item 1 Red image=callback mark=0"));
            // The shell asks the handler to measure and draw: the icon within rows 2 to 17 of a
            // 20-pixel row, the colour mark on rows 3 to 16.
            EXPECT_TRUE(has(L"measure Dir&vane handled=1 width=2 height=16"));
            EXPECT_TRUE(has(L"measure Red handled=1 width=2 height=16"));
            EXPECT_TRUE(has(L"measure Plain handled=0"));
            EXPECT_TRUE(has(L"draw Red handled=1 rows=3-16"));
            EXPECT_TRUE(has(L"draw Plain handled=0"));
            const wchar_t* drawn = L"draw Dir&vane handled=1 rows=";
            size_t at = text.find(drawn);
            ASSERT_NE(at, std::wstring::npos);
            int top = -1, bottom = -1;
            swscanf(text.c_str() + at + wcslen(drawn), L"%d-%d", &top, &bottom);
            EXPECT_GE(top, 2);
            EXPECT_LE(bottom, 17);
            EXPECT_GE(bottom - top, 10);
        } else {
            EXPECT_TRUE(has(L"version vista=0 prexp=1"));
            EXPECT_TRUE(has(L"item 0 Dir&vane image=none mark=1"));
            EXPECT_TRUE(has(L"item 1 Red image=none mark=0"));
        }
        EXPECT_TRUE(has(L"item 1 Plain image=none mark=0"));
        EXPECT_TRUE(has(L"item 0 Command prompt from this folder image=none mark=1"));
    }
}

TEST_F(MenuCom, PickingABookmarkSteersTheWindow) {
    std::wstring target = scratch_.MakeFolder(L"Target");
    {
        Seed seed;
        seed.Add(target, L"Target");
        seed.Add(kComputer, L"Computer");
    }
    BrowserWindow explorer;
    Menu m;
    ASSERT_EQ(m.Background(scratch_.MakeFolder(L"Here")), S_OK);
    m.Query();
    EXPECT_EQ(m.Invoke(0, explorer.window()), S_OK);
    EXPECT_EQ(m.Invoke(1, explorer.window()), S_OK);
    auto browsed = explorer.Browsed();
    ASSERT_EQ(browsed.size(), 2u);
    EXPECT_TRUE(SamePath(browsed[0], target)) << browsed[0];
    EXPECT_TRUE(SamePath(browsed[1], kComputer)) << browsed[1];
}

TEST_F(MenuCom, CtrlCopiesAndCtrlShiftMovesAfterTheQuestion) {
    std::wstring source = scratch_.MakeFolder(L"Source"), destination = scratch_.MakeFolder(L"Destination");
    std::wstring a = scratch_.MakeFile(L"Source\\a.txt"), b = scratch_.MakeFile(L"Source\\b.txt");
    { Seed seed; seed.Add(destination, L"Destination"); }
    BrowserWindow explorer;
    auto pick = [&](const wchar_t* name, bool shift, int answer, std::wstring& question) {
        Menu m;
        EXPECT_EQ(m.Items(source, {name}), S_OK);
        m.Query();
        HeldKeys keys(true, shift);
        Answerer answerer(L"Dirvane", answer);
        EXPECT_EQ(m.Invoke(0, explorer.window()), S_OK);
        question = answerer.Text();
        return answerer.Answered();
    };
    std::wstring question;
    // No: nothing is copied, the window jumps instead.
    ASSERT_TRUE(pick(L"a.txt", false, IDNO, question));
    EXPECT_EQ(question, L"Copy \"" + a + L"\"\nto \"" + destination + L"\"?");
    EXPECT_FALSE(::PathFileExistsW((destination + L"\\a.txt").c_str()));
    EXPECT_EQ(explorer.Browsed().size(), 1u);
    // Yes: copied, no jump.
    ASSERT_TRUE(pick(L"a.txt", false, IDYES, question));
    EXPECT_TRUE(::PathFileExistsW((destination + L"\\a.txt").c_str()));
    EXPECT_TRUE(::PathFileExistsW(a.c_str()));
    EXPECT_EQ(explorer.Browsed().size(), 1u);
    // Ctrl+Shift: moved.
    ASSERT_TRUE(pick(L"b.txt", true, IDYES, question));
    EXPECT_EQ(question, L"Move \"" + b + L"\"\nto \"" + destination + L"\"?");
    EXPECT_TRUE(::PathFileExistsW((destination + L"\\b.txt").c_str()));
    EXPECT_FALSE(::PathFileExistsW(b.c_str()));
    EXPECT_EQ(explorer.Browsed().size(), 1u);
}

// Copying asks only where it makes sense: never into the folder itself or one inside it, judged by
// whole path components (C:\Data into C:\Database is a copy like any other).
TEST_F(MenuCom, CopyIsRefusedOnlyForTheSameOrANestedFolder) {
    std::wstring data = scratch_.MakeFolder(L"Data");
    std::wstring upper = data;
    for (wchar_t& ch : upper) ch = static_cast<wchar_t>(::towupper(ch));
    const struct {
        std::wstring bookmark;
        bool asks;
    } cases[] = {
        {scratch_.MakeFolder(L"Data\\Reports"), false},
        {upper, false},
        {scratch_.MakeFolder(L"Database"), true},
        {scratch_.MakeFolder(L"Dat"), true},
        {kComputer, false},
        {L"", false},          // an item without a folder (written by another program)
        {L"Relative", false},  // would be taken from the host's current folder
    };
    {
        Seed seed;
        for (const auto& c : cases) seed.Add(c.bookmark, L"x");
    }
    BrowserWindow explorer;
    Menu m;
    ASSERT_EQ(m.Background(data), S_OK);
    m.Query();
    HeldKeys keys(true, true);
    for (UINT offset = 0; offset < ARRAYSIZE(cases); ++offset) {
        Answerer answerer(L"Dirvane", IDNO);
        EXPECT_EQ(m.Invoke(offset, explorer.window()), cases[offset].bookmark.empty() ? E_INVALIDARG : S_OK);
        EXPECT_EQ(answerer.Answered(), cases[offset].asks) << offset << ": " << answerer.Text();
    }
    // No, or no question: the window jumps, except to the last two, which name no folder.
    ASSERT_EQ(explorer.Browsed().size(), ARRAYSIZE(cases) - 2);
    EXPECT_TRUE(::PathIsDirectoryW(cases[0].bookmark.c_str()));
}

TEST_F(MenuCom, BookmarkAndUnbookmark) {
    std::wstring alpha = scratch_.MakeFolder(L"Alpha"), beta = scratch_.MakeFolder(L"Beta");
    std::wstring other = scratch_.MakeFolder(L"Other");
    {
        Menu m;
        ASSERT_EQ(m.Items(scratch_.path(), {L"Alpha", L"Beta"}), S_OK);
        m.Query();
        UINT offset = m.Offset(L"Bookmark \"Beta\" + 1 more items");
        ASSERT_NE(offset, kNone) << Describe(m.Rows());
        EXPECT_EQ(m.Invoke(offset), S_OK);
    }
    EXPECT_EQ(TopLevelAddresses(), (std::vector<std::wstring>{beta + L"|Beta", alpha + L"|Alpha"}));

    // The question comes first; Yes removes what it names.
    auto unbookmark = [&](const std::vector<std::wstring>& names, const std::wstring& caption, int answer) {
        Menu m;
        EXPECT_EQ(m.Items(scratch_.path(), names), S_OK);
        m.Query();
        UINT offset = m.Offset(caption);
        EXPECT_NE(offset, kNone) << Describe(m.Rows());
        Answerer answerer(L"Remove Item - Dirvane", answer);
        EXPECT_EQ(m.Invoke(offset), S_OK);
        return answerer.Text();
    };
    const std::wstring warning = L" from Dirvane Bookmarks?\n\nWARNING:\nAll the subitems (if any) will be deleted as well!";
    for (int answer : {IDNO, IDYES})
        EXPECT_EQ(unbookmark({L"Beta"}, L"Unbookmark \"Beta\"", answer), L"Remove \"Beta\"" + warning);
    EXPECT_EQ(TopLevelAddresses(), (std::vector<std::wstring>{alpha + L"|Alpha"}));

    // Several folders, one of them with a sub-item: every one goes, the sub-item with it.
    {
        Seed seed;
        seed.Add(other, L"Nested", 0, seed.tree->root.children[0].get());
        seed.Add(beta, L"Beta");
        seed.Add(other, L"Other");
    }
    EXPECT_EQ(unbookmark({L"Alpha", L"Beta"}, L"Unbookmark \"Beta\" + 1 more items", IDYES),
              L"Remove \"Beta\" + 1 more items" + warning);
    EXPECT_EQ(TopLevelAddresses(), (std::vector<std::wstring>{other + L"|Other"}));
    EXPECT_EQ(CountDescendants(LoadBookmarkTree()->root), 1u);
}

// Names that cmd would read as commands, variables or groups, and a blank.
const wchar_t* const kAwkwardNames[] = {L"My Data", L"%CMDCMDLINE%&calc&", L"a%PATH%b%", L"x^y!PATH!z", L"(p) & q"};

std::wstring SystemProgram(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

TEST_F(MenuCom, EditorGetsThePathAsExactlyOneArgument) {
    SetAddOns(1, 0, 0);
    std::wstring editor = scratch_ / L"editor.exe", record = scratch_ / L"record.txt";
    ASSERT_TRUE(::CopyFileW((dvtest::ProgramFolder() + L"\\arg_recorder.exe").c_str(), editor.c_str(), FALSE));
    ::SetEnvironmentVariableW(L"DIRVANE_RECORD", record.c_str());
    auto open = [&](const std::wstring& folder, const std::wstring& name, bool ctrl) {
        Menu m;
        EXPECT_EQ(m.Items(folder, {name}), S_OK);
        m.Query();
        UINT offset = m.Offset(L"Open in Editor");
        EXPECT_NE(offset, kNone) << Describe(m.Rows());
        HeldKeys keys(ctrl, false);
        EXPECT_EQ(m.Invoke(offset), S_OK);
    };
    auto arguments = [](const std::wstring& line) {
        int count = 0;
        LPWSTR* args = ::CommandLineToArgvW(line.c_str(), &count);
        std::vector<std::wstring> list(args, args + (args ? count : 0));
        ::LocalFree(args);
        return list;
    };
    for (const wchar_t* name : kAwkwardNames) {
        std::wstring folder = scratch_.MakeFolder(name);
        std::wstring file = scratch_.MakeFile((std::wstring(name) + L"\\" + name + L".txt").c_str());
        WriteTextEditor(editor.c_str());
        ::DeleteFileW(record.c_str());
        open(folder, file.substr(folder.size() + 1), false);
        std::wstring recorded;
        ASSERT_TRUE(dvtest::WaitFor([&] { return !(recorded = ReadTextFile(record)).empty(); })) << file;
        EXPECT_EQ(arguments(recorded.substr(0, recorded.find_first_of(L"\r\n"))),
                  (std::vector<std::wstring>{editor, file}));

        // Without an editor of one's own: the system folder's notepad, elevated with Ctrl.
        ResetTextEditor();
        open(folder, file.substr(folder.size() + 1), true);
        StartedProgram notepad = NewChild(L"notepad.exe");
        EXPECT_TRUE(SamePath(notepad.image, SystemProgram(L"notepad.exe"))) << notepad.image;
        auto args = arguments(notepad.commandLine);
        EXPECT_EQ(std::vector<std::wstring>(args.begin() + (args.empty() ? 0 : 1), args.end()),
                  std::vector<std::wstring>{file}) << notepad.commandLine;
    }
}

TEST_F(MenuCom, CommandPromptOpensInExactlyTheFolderWhateverItsName) {
    SetAddOns(0, 1, 0);
    for (const wchar_t* name : kAwkwardNames) {
        const std::wstring folder = scratch_.MakeFolder(name);
        // Elevated, cmd gets the folder quoted, each % written as one that cmd keeps a %.
        std::wstring quoted;
        for (wchar_t c : folder) quoted += c == L'%' ? std::wstring(L"%%cd:~,%") : std::wstring(1, c);
        for (bool ctrl : {false, true}) {
            SCOPED_TRACE(testing::Message() << "ctrl " << ctrl << " folder " << testing::PrintToString(folder));
            Menu m;
            ASSERT_EQ(m.Background(folder), S_OK);
            m.Query();
            UINT offset = m.Offset(L"Command prompt from this folder");
            ASSERT_NE(offset, kNone) << Describe(m.Rows());
            {
                HeldKeys keys(ctrl, false);
                EXPECT_EQ(m.Invoke(offset), S_OK);
            }
            StartedProgram cmd =
                NewChild(L"cmd.exe", [&](const StartedProgram& p) { return SamePath(p.currentDirectory, folder + L"\\"); });
            EXPECT_TRUE(SamePath(cmd.image, SystemProgram(L"cmd.exe"))) << cmd.image;
            EXPECT_EQ(cmd.Parameters(), ctrl ? L"/v:off /k pushd \"" + quoted + L"\"" : L"");
            EXPECT_TRUE(SamePath(cmd.currentDirectory, folder + L"\\")) << cmd.currentDirectory;
        }
    }
    // A UNC folder, which cmd cannot start in: the same quoted parameters, started in the system folder.
    Menu m;
    ASSERT_EQ(m.Drop({L"\\\\server\\share\\a%OS%&b\\x.txt"}), S_OK);
    m.Query();
    EXPECT_EQ(m.Invoke(m.Offset(L"Command prompt from this folder")), S_OK);
    StartedProgram cmd = NewChild(L"cmd.exe");
    EXPECT_EQ(cmd.Parameters(), L"/v:off /k pushd \"\\\\server\\share\\a%%cd:~,%OS%%cd:~,%&b\"");
}

TEST_F(MenuCom, ANameTooLongForTheHandlerNeverActsOnItsFolder) {
    std::wstring destination = scratch_.MakeFolder(L"Destination");
    { Seed seed; seed.Add(destination, L"Destination"); }
    BrowserWindow explorer;
    // A selected file inside a folder of the given length; its path fits the handler's 259
    // characters or does not.
    for (size_t folderLength : {253u, 259u}) {
        const std::wstring name(folderLength - scratch_.path().size() - 1, L'd');
        const std::wstring folder = scratch_ / name.c_str(), file = folder + L"\\f.txt";
        const std::wstring longFolder = L"\\\\?\\" + folder, sibling = longFolder + L"\\sibling.txt";
        // Removed before and after: the scratch folder's own clean-up cannot reach so long a path.
        auto remove = [&] {
            ::DeleteFileW((L"\\\\?\\" + file).c_str());
            ::DeleteFileW(sibling.c_str());
            ::RemoveDirectoryW(longFolder.c_str());
        };
        remove();
        std::shared_ptr<void> removeLater(nullptr, [&](void*) { remove(); });
        ASSERT_TRUE(::CreateDirectoryW(longFolder.c_str(), nullptr));
        for (const std::wstring& path : {L"\\\\?\\" + file, sibling})
            dv::unique_hfile(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));

        // As a file list, and as the item list array alone that virtual folders' data objects offer.
        for (bool itemLists : {false, true}) {
            SCOPED_TRACE(testing::Message() << "folder length " << folderLength << " item lists " << itemLists);
            if (itemLists && file.size() >= 260) continue;  // Wine's shell cannot parse such a path at all
            Menu m;
            auto data = itemLists ? dvtest::WithoutDropList(dvtest::ShellDataObject(folder, {L"f.txt"}))
                                  : dvtest::DropDataObject({file});
            ASSERT_TRUE(data);
            const HRESULT hr = m.init->Initialize(nullptr, data.get(), nullptr);
            m.Query();
            HeldKeys keys(true, true);
            Answerer answerer(L"Dirvane", IDNO);
            m.Invoke(0, explorer.window());
            if (file.size() < 260) {
                EXPECT_EQ(hr, S_OK);
                EXPECT_EQ(answerer.Text(), L"Move \"" + file + L"\"\nto \"" + destination + L"\"?");
            } else {
                EXPECT_TRUE(FAILED(hr));
                EXPECT_FALSE(answerer.Answered()) << answerer.Text();
            }
        }
        EXPECT_NE(::GetFileAttributesW(sibling.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(::GetFileAttributesW((L"\\\\?\\" + destination + L"\\" + name).c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(MenuCom, CopyPathsPutsTheSelectionOnTheClipboard) {
    SetAddOns(0, 0, 1);
    std::wstring folder = scratch_.MakeFolder(L"Pick");
    std::wstring x = scratch_.MakeFile(L"Pick\\x.txt"), y = scratch_.MakeFile(L"Pick\\y.txt"),
                 z = scratch_.MakeFile(L"Pick\\z.txt");
    BrowserWindow explorer;
    ASSERT_TRUE(explorer.MakeForeground());
    auto copy = [&](bool background, UINT flags) {
        SetClipboardText(L"before");
        Menu m;
        EXPECT_EQ(background ? m.Background(folder) : m.Items(folder, {L"x.txt", L"y.txt", L"z.txt"}), S_OK);
        std::wstring text;
        for (int attempt = 0; attempt < 5; ++attempt) {  // as QueryWhileForeground
            m.QueryWhileForeground(explorer.window(), flags);
            EXPECT_EQ(m.Invoke(m.Offset(L"Copy paths to Clipboard"), explorer.window()), S_OK);
            text = ClipboardText();
            if (::GetForegroundWindow() == explorer.window()) break;
        }
        return text;
    };
    // The view's order, not the selection's.
    explorer.ShowSelection(folder, {L"z.txt", L"x.txt", L"y.txt"});
    EXPECT_EQ(copy(false, CMF_NORMAL), z + L"\r\n" + x + L"\r\n" + y);
    // A click on the folder's empty area, or the flags of a background menu: the folder itself.
    EXPECT_EQ(copy(true, CMF_NORMAL), folder);
    EXPECT_EQ(copy(false, CMF_CANRENAME), folder);
    EXPECT_EQ(copy(false, CMF_NODEFAULT | 0x00020000), folder);
    // A virtual item contributes its display name.
    explorer.ShowSelection(L"", {kComputer});
    std::wstring computer = copy(false, CMF_NORMAL);
    EXPECT_FALSE(computer.empty());
    EXPECT_NE(computer.substr(0, 2), L"::") << computer;
}

TEST_F(MenuCom, HelpTextsAndInvalidRequests) {
    { Seed seed; seed.Add(L"C:\\Data", L"Data"); }
    Menu m;
    ASSERT_EQ(m.Background(scratch_.path()), S_OK);
    m.Query();
    EXPECT_EQ(m.Help(0), L"Jump to \"C:\\Data\"");
    EXPECT_EQ(m.Help(0, 5), L"Jump");
    EXPECT_EQ(m.Help(0, 1), L"");
    EXPECT_EQ(m.Help(2), L"Add, or Remove current folder from favorites list");
    EXPECT_EQ(m.Help(3), L"Configure folder list");
    EXPECT_EQ(m.Help(60000), L"Instantly opens the selected folder inplace");
    char buffer[64];
    for (UINT kind : {GCS_VERBW, GCS_VERBA, GCS_HELPTEXTA, GCS_VALIDATEW})
        EXPECT_EQ(m.menu->GetCommandString(0, kind, nullptr, buffer, 32), E_FAIL) << kind;

    CMINVOKECOMMANDINFO info = {sizeof(info)};
    info.lpVerb = "open";
    EXPECT_EQ(m.menu->InvokeCommand(&info), E_INVALIDARG);
    EXPECT_EQ(m.Invoke(60000), E_INVALIDARG);
    // Properties... opens the manager modally on this thread; close it once it shows.
    std::atomic<bool> managerShown{false};
    std::thread closer([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            HWND manager = ::FindWindowW(L"#32770", L"Properties - Dirvane");
            if (manager && ::IsWindowVisible(manager)) {
                managerShown = true;
                ::PostMessageW(manager, WM_CLOSE, 0, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    EXPECT_EQ(m.Invoke(3), S_OK);
    closer.join();
    EXPECT_TRUE(managerShown);
}

TEST_F(MenuCom, AThousandMenusLeaveNoObjectsBehind) {
    SeedLeakCheckTree();
    SetAddOns(1, 1, 1);
    std::wstring folder = scratch_.MakeFolder(L"Leak");
    ExpectNoGrowthOverAThousand([&] {
        Menu m;
        m.Background(folder);
        m.Query();
    });
}

} // namespace
