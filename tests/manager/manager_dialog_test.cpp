// The manager dialog driven as a user drives it: shortcuts through the thread's hook, buttons,
// menu commands and nested dialogs, checked against the tree view and the registry.
#include "manager_driver.h"
#include "ui/manager_shortcuts.h"
#include "common/registry.h"
#include "common/system.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include "common/text.h"
#include "manager/manager.h"
#include "manager/icon_lookup.h"
#include "manager/manager_dlg.h"
#include "ui/images.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include <gtest/gtest.h>
#include <ole2.h>
#include <shlobj.h>
#include <atomic>
#include <chrono>
#include <memory>

// The tests name what they use from the subsystems as dv::Name.
namespace dv {
namespace manager_testing = manager::testing;
using manager::IconNeedsShell;
using manager::OpenManager;
using store::BookmarkItem;
using store::BookmarkTreePtr;
using store::LoadBookmarkTree;
using store::kItemsKeyPath;
using ui::GetShellIconIndex;
using ui::ManagerAcceleratorsSuspended;
} // namespace dv

using namespace mgrtest;

namespace {

const struct OleForTheTestThread {
    OleForTheTestThread() { ::OleInitialize(nullptr); }
} g_ole;

std::atomic<int> g_beeps{0};
std::atomic<int> g_storeChanges{0};

const wchar_t kSeparatorLine[] = L"\x2014\x2014\x2014\x2014\x2014\x2014\x2014\x2014\x2014";

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_beeps = 0;
        dv::manager_testing::WarningBeep = [] { ++g_beeps; };
        dv::manager_testing::StoreChangeSeen = [] { ++g_storeChanges; };
    }

    std::unique_ptr<ManagerSession> Open() {
        auto session = std::make_unique<ManagerSession>([] { dv::OpenManager(nullptr, false); });
        EXPECT_NE(session->window(), nullptr) << "the manager did not open";
        return session;
    }
    static HWND Tree(const ManagerSession& s) { return s.control(IDC_BOOKMARK_TREE); }
    static HWND ColorCombo(const ManagerSession& s) {
        return reinterpret_cast<HWND>(::SendMessageW(s.control(IDC_COLOR_BOX), CBEM_GETCOMBOCONTROL, 0, 0));
    }
    static UINT MenuState(const ManagerSession& s, UINT id) {
        return ::GetMenuState(::GetMenu(s.window()), id, MF_BYCOMMAND);
    }
    // What the manager does when one of its menus is about to open.
    static void OpenMenu(const ManagerSession& s, int index) {
        HMENU menu = ::GetSubMenu(::GetMenu(s.window()), index);
        ::SendMessageW(s.window(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(index, FALSE));
    }
    static void Command(const ManagerSession& s, UINT id) { ::PostMessageW(s.window(), WM_COMMAND, id, 0); }
    static bool Select(const ManagerSession& s, const std::wstring& text) {
        HTREEITEM node = FindNode(Tree(s), text);
        if (node) SelectNode(Tree(s), node);
        return node != nullptr && TreeView_GetSelection(Tree(s)) == node;
    }
    static std::wstring Selected(const ManagerSession& s) {
        HTREEITEM node = TreeView_GetSelection(Tree(s));
        for (const Node& n : ReadTree(Tree(s)))
            if (n.handle == node) return n.text;
        return L"<none>";
    }
    // The tree as "caption(children) caption ..." from the tree view and from the registry.
    static std::wstring ViewOutline(const ManagerSession& s) {
        std::wstring out;
        int depth = 0;
        for (const Node& n : ReadTree(Tree(s))) {
            for (; depth < n.depth; ++depth) out += L"(";
            for (; depth > n.depth; --depth) out += L")";
            if (!out.empty() && out.back() != L'(') out += L" ";
            out += n.text;
        }
        for (; depth > 0; --depth) out += L")";
        return out;
    }
    static std::wstring StoreOutline() {
        dv::BookmarkTreePtr tree = dv::LoadBookmarkTree();
        std::wstring out;
        std::function<void(const dv::BookmarkItem&)> walk = [&](const dv::BookmarkItem& parent) {
            bool first = true;
            for (const auto& child : parent.children) {
                if (!first) out += L" ";
                first = false;
                out += child->title;
                if (!child->children.empty()) {
                    out += L"(";
                    walk(*child);
                    out += L")";
                }
            }
        };
        walk(tree->root);
        return out;
    }
    // Both outlines match the expectation.
    static void ExpectOutline(const ManagerSession& s, const std::wstring& expected) {
        EXPECT_TRUE(dvtest::WaitFor([&] { return ViewOutline(s) == expected; }, std::chrono::seconds(5)))
            << "tree view: " << testing::PrintToString(ViewOutline(s));
        EXPECT_EQ(StoreOutline(), expected);
    }

    dvtest::CleanProductKey clean_;
};

// ---- The tree and the command states ------------------------------------------------------

TEST_F(ManagerTest, TreeMirrorsTheRegistryWithIconsSwatchesAndSeparators) {
    SeedItem(L"1", L"C:\\windows", L"Windows", 1, 4);
    SeedItem(L"1\\1", L"C:\\windows\\system32", nullptr, 1);         // no Title: the address shows
    SeedItem(L"1\\2", L"C:\\windows\\system32\\drivers\\", L"", 2);  // empty Title: the last component
    SeedItem(L"2", nullptr, L"-", 2);
    SeedItem(L"3", L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", L"My Computer", 3, 7);
    SeedItem(L"3\\1", L"C:\\", L"Drive", 1);
    SeedItem(L"3\\1\\1", L"C:\\users", L"Users", 1, 10);
    SeedItem(L"4", L"::{21EC2020-3AEA-1069-A2DD-08002B30309D}", L"Control Panel", 4);
    auto s = Open();
    ASSERT_TRUE(s->window());

    const std::vector<Node> nodes = ReadTree(Tree(*s));
    struct Expected {
        const wchar_t* text;
        const wchar_t* address;  // null for the separator
        int depth, state;
        bool hasChildren;
    };
    const Expected expected[] = {
        {L"Windows", L"C:\\windows", 0, 4, true},
        {L"C:\\windows\\system32", L"C:\\windows\\system32", 1, 0, false},
        {L"drivers", L"C:\\windows\\system32\\drivers", 1, 0, false},
        {kSeparatorLine, nullptr, 0, 0, false},
        {L"My Computer", L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", 0, 7, true},
        {L"Drive", L"C:\\", 1, 0, true},
        {L"Users", L"C:\\users", 2, 10, false},
        {L"Control Panel", L"::{21EC2020-3AEA-1069-A2DD-08002B30309D}", 0, 0, false},
    };
    ASSERT_EQ(nodes.size(), std::size(expected));
    for (size_t i = 0; i < nodes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(nodes[i].text, expected[i].text);
        EXPECT_EQ(nodes[i].depth, expected[i].depth);
        EXPECT_EQ(nodes[i].stateImage, expected[i].state);
        EXPECT_NE(nodes[i].data, 0);
        if (expected[i].hasChildren) {
            EXPECT_TRUE(nodes[i].expanded);
        }
    }
    // The shell's icons come from a worker, for the nodes that are drawn (here all of them).
    std::vector<int> icons;
    for (const Expected& e : expected) icons.push_back(e.address ? dv::GetShellIconIndex(e.address) : 0);
    auto shownIcons = [&] {
        std::vector<int> shown;
        for (const Node& node : ReadTree(Tree(*s))) shown.push_back(node.image == node.selectedImage ? node.image : -2);
        return shown;
    };
    EXPECT_TRUE(dvtest::WaitFor([&] { return shownIcons() == icons; })) << testing::PrintToString(shownIcons());
    EXPECT_NE(icons[0], 0) << "a folder gets its shell icon";

    // The move buttons carry Wingdings arrows; the sort items their en dash.
    EXPECT_EQ(dv::WindowText(s->control(IDC_MOVE_UP)), L"\x00E1");
    EXPECT_EQ(dv::WindowText(s->control(IDC_UNINDENT)), L"\x00DF");
    wchar_t text[64] = {};
    ::GetMenuStringW(::GetMenu(s->window()), ID_FOLDER_SORT_AZ, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(text, L"A \x2013> Z");
    Screenshot("manager");
}

TEST(ManagerIcons, OnlyFoldersBelowAShareAreNeverAskedAbout) {
    const struct {
        const wchar_t* address;
        bool asksShell;
    } cases[] = {
        {L"C:\\windows", true},  {L"C:\\", true}, {L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", true},
        {L"", true},            {L"\\\\server", true}, {L"\\\\server\\share", true}, {L"\\\\server\\share\\", true},
        {L"\\\\server\\share\\folder", false}, {L"//server/share/a/b", false},
        {L"\\\\?\\UNC\\server\\share\\folder", false}, {L"\\\\?\\UNC\\server\\share", true},
        {L"\\\\?\\C:\\folder", true}, {L"\\\\.\\pipe\\x", true},
    };
    for (const auto& c : cases) EXPECT_EQ(dv::IconNeedsShell(c.address), c.asksShell) << testing::PrintToString(c.address);
}

TEST_F(ManagerTest, OpensAtOnceWhenEveryBookmarkIsOnAnUnreachableServer) {
    // TEST-NET-1 is routed nowhere and a .invalid name never resolves: any access waits for a time-out.
    const std::wstring servers[] = {L"\\\\192.0.2.1\\share", L"\\\\dirvane-no-such-host.invalid\\share"};
    constexpr DWORD kFolders = 300;
    for (DWORD i = 1; i <= kFolders; ++i)
        SeedItem(std::to_wstring(i), (servers[i % 2] + L"\\folder" + std::to_wstring(i)).c_str(), nullptr, i);
    SeedItem(std::to_wstring(kFolders + 1), servers[0].c_str(), L"Share", kFolders + 1);  // asked on the worker
    const auto start = std::chrono::steady_clock::now();
    auto s = Open();
    ASSERT_TRUE(s->window());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));

    SHFILEINFOW folder = {};
    ::SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &folder, sizeof(folder),
                     SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    const std::vector<Node> nodes = ReadTree(Tree(*s));
    ASSERT_EQ(nodes.size(), kFolders + 1);
    for (DWORD i = 0; i < kFolders; ++i) ASSERT_EQ(nodes[i].image, folder.iIcon) << i;

    // Closing waits for no lookup, even one still waiting on the share.
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_TRUE(s->CloseAll());
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(8));
}

TEST_F(ManagerTest, CommandStatesFollowTheSelection) {
    SeedItem(L"1", L"C:\\a", L"A", 1, 4);
    SeedItem(L"1\\1", L"C:\\a\\x", L"X", 1);
    SeedItem(L"1\\2", L"C:\\a\\y", L"Y", 2);
    SeedItem(L"1\\2\\1", L"C:\\a\\y\\z", L"Z", 1);
    SeedItem(L"2", L"C:\\b", L"B", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    auto enabled = [&](int id) { return ::IsWindowEnabled(s->control(id)) != FALSE; };
    auto grayed = [&](UINT id) { return (MenuState(*s, id) & MF_GRAYED) != 0; };

    ASSERT_TRUE(Select(*s, L"A"));  // first top-level item with a next sibling
    EXPECT_TRUE(enabled(IDC_EDIT) && enabled(IDC_REMOVE) && enabled(IDC_COLOR_BOX));
    EXPECT_FALSE(enabled(IDC_MOVE_UP));
    EXPECT_FALSE(enabled(IDC_INDENT));
    EXPECT_TRUE(enabled(IDC_MOVE_DOWN));
    EXPECT_FALSE(enabled(IDC_UNINDENT));
    EXPECT_TRUE(grayed(ID_FOLDER_MOVE_UP) && !grayed(ID_FOLDER_MOVE_DOWN) && grayed(ID_FOLDER_UNINDENT));
    EXPECT_EQ(::SendMessageW(s->control(IDC_COLOR_BOX), CB_GETCURSEL, 0, 0), 4);
    EXPECT_FALSE(grayed(ID_FOLDER_SORT_AZ));

    ASSERT_TRUE(Select(*s, L"Y"));  // a previous sibling, no next one, a parent
    EXPECT_TRUE(enabled(IDC_MOVE_UP) && enabled(IDC_INDENT) && enabled(IDC_UNINDENT));
    EXPECT_FALSE(enabled(IDC_MOVE_DOWN));
    EXPECT_EQ(::SendMessageW(s->control(IDC_COLOR_BOX), CB_GETCURSEL, 0, 0), 0);

    ASSERT_TRUE(Select(*s, L"Z"));  // an only child: nothing to sort
    EXPECT_TRUE(grayed(ID_FOLDER_SORT_AZ) && grayed(ID_FOLDER_SORT_ZA));

    TreeView_SelectItem(Tree(*s), nullptr);  // nothing: the top level counts for sorting
    EXPECT_TRUE(dvtest::WaitFor([&] { return !enabled(IDC_EDIT); }));
    EXPECT_FALSE(enabled(IDC_REMOVE) || enabled(IDC_COLOR_BOX) || enabled(IDC_MOVE_DOWN));
    EXPECT_TRUE(grayed(ID_FOLDER_EDIT) && grayed(ID_FOLDER_REMOVE));
    EXPECT_FALSE(grayed(ID_FOLDER_SORT_AZ));
    EXPECT_TRUE(enabled(IDC_NEW));
}

TEST_F(ManagerTest, EmptyTreeOffersOnlyNew) {
    auto s = Open();
    ASSERT_TRUE(s->window());
    EXPECT_TRUE(ReadTree(Tree(*s)).empty());
    EXPECT_TRUE(::IsWindowEnabled(s->control(IDC_NEW)));
    for (int id : {IDC_EDIT, IDC_REMOVE, IDC_COLOR_BOX, IDC_MOVE_UP, IDC_MOVE_DOWN, IDC_INDENT, IDC_UNINDENT})
        EXPECT_FALSE(::IsWindowEnabled(s->control(id))) << id;
    EXPECT_TRUE(MenuState(*s, ID_FOLDER_SORT_AZ) & MF_GRAYED);
    EXPECT_FALSE(MenuState(*s, ID_FOLDER_EXIT) & MF_GRAYED);
    // Without the tree's key the manager watches the key above it: the first bookmark shows too.
    auto shows = [&](const wchar_t* text) {
        return dvtest::WaitFor([&] { return FindNode(Tree(*s), text) != nullptr; }, std::chrono::seconds(10));
    };
    SeedItem(L"1", L"C:\\windows", L"First", 1);
    EXPECT_TRUE(shows(L"First"));
    // The watched key itself deleted and made again (an uninstall that removes the data, a reinstall).
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CURRENT_USER, dvtest::kProductKey));
    EXPECT_TRUE(dvtest::WaitFor([&] { return ReadTree(Tree(*s)).empty(); }, std::chrono::seconds(10)));
    SeedItem(L"1", L"C:\\windows", L"Second", 1);
    EXPECT_TRUE(shows(L"Second"));
}

// ---- Shortcuts through the hook -----------------------------------------------------------

TEST_F(ManagerTest, InsertEnterAndDeleteWorkFromAnyControlAndEscapeDoesNothing) {
    SeedItem(L"1", L"C:\\windows", L"Alpha", 1);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"Alpha"));

    // Insert in the colour box: New, with empty fields and the check box.
    PostKey(ColorCombo(*s), VK_INSERT);
    HWND item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    EXPECT_TRUE(dv::ManagerAcceleratorsSuspended);
    EXPECT_EQ(dv::WindowText(::GetDlgItem(item, IDC_CAPTION)), L"");
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(item, IDC_APPEND_TO_ROOT)));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(item, IDOK)));
    // Enter inside the item dialog belongs to it, not to the manager's Edit.
    PostKey(::GetDlgItem(item, IDC_PATH), VK_ESCAPE);
    ASSERT_TRUE(s->WaitGone(kItemTitle));
    EXPECT_FALSE(ItemKeyExists(L"2"));

    // Enter on a button: Edit, filled in, without the check box.
    PostKey(s->control(IDC_NEW), VK_RETURN);
    item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    EXPECT_EQ(dv::WindowText(::GetDlgItem(item, IDC_CAPTION)), L"Alpha");
    EXPECT_EQ(dv::WindowText(::GetDlgItem(item, IDC_PATH)), L"C:\\windows");
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(item, IDC_APPEND_TO_ROOT)));
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(item, IDOK)));
    Click(item, IDCANCEL);
    ASSERT_TRUE(s->WaitGone(kItemTitle));

    // Delete in the tree: the removal question; No keeps the item.
    PostKey(Tree(*s), VK_DELETE);
    HWND question = s->WaitForWindow(kRemoveTitle);
    ASSERT_TRUE(question);
    ::PostMessageW(question, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(s->WaitGone(kRemoveTitle));
    EXPECT_TRUE(ItemKeyExists(L"1"));
    EXPECT_FALSE(dv::ManagerAcceleratorsSuspended);

    // Escape closes nothing: the Insert after it still reaches an open manager.
    PostKey(Tree(*s), VK_ESCAPE);
    PostKey(Tree(*s), VK_INSERT);
    item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    EXPECT_TRUE(::IsWindow(s->window()));
    EXPECT_FALSE(s->ended());
    Click(item, IDCANCEL);
}

TEST_F(ManagerTest, EnterInTheOpenColourListChoosesTheColour) {
    SeedItem(L"1", L"C:\\windows", L"Alpha", 1);
    SeedItem(L"2", L"C:\\users", L"Beta", 2, 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"Beta"));
    HWND combo = ColorCombo(*s);
    ::SendMessageW(s->window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(s->control(IDC_COLOR_BOX)), TRUE);

    ::SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
    COMBOBOXINFO info = {sizeof(info)};
    ASSERT_TRUE(::GetComboBoxInfo(combo, &info));
    RECT list;
    ::GetClientRect(info.hwndList, &list);
    const LRESULT entry = ::SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0);
    EXPECT_GE(list.bottom, 11 * entry) << "the list shows every colour";
    PostKey(combo, VK_DOWN);
    PostKey(combo, VK_DOWN);
    ASSERT_TRUE(dvtest::WaitFor([&] { return ::SendMessageW(info.hwndList, LB_GETCURSEL, 0, 0) == 4; }));
    Screenshot("colour-box-open");
    PostKey(combo, VK_RETURN);
    ASSERT_TRUE(dvtest::WaitFor([&] { return ItemDword(L"2", L"ColorIndex") == 4; }));
    EXPECT_FALSE(s->FindWindowOfThread(kItemTitle)) << "Enter must not run Edit";
    EXPECT_FALSE(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_EQ(ReadTree(Tree(*s))[1].stateImage, 4);

    // Colour 0 removes the swatch.
    ::SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    for (int i = 0; i < 4; ++i) PostKey(combo, VK_UP);
    PostKey(combo, VK_RETURN);
    ASSERT_TRUE(dvtest::WaitFor([&] { return ItemDword(L"2", L"ColorIndex") == 0; }));
    EXPECT_EQ(ReadTree(Tree(*s))[1].stateImage, 0);
    EXPECT_FALSE(s->FindWindowOfThread(kItemTitle));
    EXPECT_EQ(ItemDword(L"1", L"ColorIndex"), 0xFFFFFFFFu) << "the other item is untouched";
}

TEST_F(ManagerTest, CtrlArrowsInTheTreeMoveTheItem) {
    SeedItem(L"1", L"C:\\a", L"A", 1);
    SeedItem(L"2", L"C:\\b", L"B", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"A"));
    // Hold Ctrl in the manager thread's keyboard state, as a real key press would.
    ASSERT_TRUE(::AttachThreadInput(::GetCurrentThreadId(), s->threadId(), TRUE));
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    ::SetKeyboardState(keys);
    PostKey(Tree(*s), VK_DOWN);
    const bool moved = dvtest::WaitFor([&] { return ViewOutline(*s) == L"B A"; }, std::chrono::seconds(5));
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0;
    ::SetKeyboardState(keys);
    ::AttachThreadInput(::GetCurrentThreadId(), s->threadId(), FALSE);
    EXPECT_TRUE(moved) << testing::PrintToString(ViewOutline(*s));
    EXPECT_EQ(StoreOutline(), L"B A");
    EXPECT_EQ(Selected(*s), L"A");
}

// ---- Item dialog and New ------------------------------------------------------------------

TEST_F(ManagerTest, ItemDialogEnablesOkByCaptionAndKeepsWhatWasTyped) {
    auto s = Open();
    ASSERT_TRUE(s->window());
    Click(s->window(), IDC_NEW);
    HWND item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    HWND ok = ::GetDlgItem(item, IDOK), caption = ::GetDlgItem(item, IDC_CAPTION), path = ::GetDlgItem(item, IDC_PATH);
    EXPECT_FALSE(::IsWindowEnabled(ok));
    ::SetWindowTextW(path, L"C:\\somewhere");
    EXPECT_FALSE(::IsWindowEnabled(ok)) << "the path alone is not enough";
    ::SetWindowTextW(caption, L"x");
    EXPECT_TRUE(::IsWindowEnabled(ok));
    ::SetWindowTextW(caption, L"");
    EXPECT_FALSE(::IsWindowEnabled(ok));
    ::SetWindowTextW(caption, L" ");  // one space is a caption
    EXPECT_TRUE(::IsWindowEnabled(ok));
    const std::wstring longPath = L"C:\\" + std::wstring(297, L'p');
    ::SetWindowTextW(path, longPath.c_str());
    Screenshot("item-dialog");
    Click(item, IDOK);
    ASSERT_TRUE(s->WaitGone(kItemTitle));
    ASSERT_TRUE(dvtest::WaitFor([] { return ItemKeyExists(L"1"); }));
    EXPECT_EQ(ItemString(L"1", L"Title"), L" ");
    EXPECT_EQ(ItemString(L"1", L"Address"), longPath.substr(0, 259));
    EXPECT_EQ(Selected(*s), L" ");
}

TEST_F(ManagerTest, NewGoesUnderTheSelectionOrToTheTopLevel) {
    SeedItem(L"1", L"C:\\a", L"A", 1);
    SeedItem(L"1\\1", L"C:\\a\\1", L"A1", 1);
    SeedItem(L"2", L"C:\\b", L"B", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    auto addNew = [&](const wchar_t* caption, bool toRoot) {
        PostKey(Tree(*s), VK_INSERT);
        HWND item = s->WaitForWindow(kItemTitle);
        ASSERT_TRUE(item);
        ::SetWindowTextW(::GetDlgItem(item, IDC_CAPTION), caption);
        ::SetWindowTextW(::GetDlgItem(item, IDC_PATH), L"C:\\new");
        if (toRoot) ::SendDlgItemMessageW(item, IDC_APPEND_TO_ROOT, BM_SETCHECK, BST_CHECKED, 0);
        Click(item, IDOK);
        ASSERT_TRUE(s->WaitGone(kItemTitle));
    };

    ASSERT_TRUE(Select(*s, L"A"));
    addNew(L"Child", false);  // the last child of the selection, not its sibling
    ExpectOutline(*s, L"A(A1 Child) B");
    EXPECT_EQ(ItemString(L"1\\2", L"Title"), L"Child");
    EXPECT_EQ(ItemDword(L"1\\2", L"Order"), 2u);
    EXPECT_EQ(Selected(*s), L"Child");

    ASSERT_TRUE(Select(*s, L"A"));
    addNew(L"Rooted", true);
    ExpectOutline(*s, L"A(A1 Child) B Rooted");
    EXPECT_EQ(ItemDword(L"3", L"Order"), 3u);

    TreeView_SelectItem(Tree(*s), nullptr);
    addNew(L"Loose", false);
    ExpectOutline(*s, L"A(A1 Child) B Rooted Loose");
    EXPECT_EQ(Selected(*s), L"Loose");
}

TEST_F(ManagerTest, FolderBrowserStartsAtThePathAndFillsBothFields) {
    dvtest::ScratchFolder scratch(L"mgr-browse");
    const std::wstring folder = scratch.MakeFolder(L"Target");
    auto s = Open();
    ASSERT_TRUE(s->window());
    Click(s->window(), IDC_NEW);
    HWND item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    ::SetWindowTextW(::GetDlgItem(item, IDC_PATH), folder.c_str());
    Click(item, IDC_BROWSE_FOLDER);
    HWND browser = s->WaitForWindow(L"Browse For Folder - Dirvane");
    ASSERT_TRUE(browser);
    EXPECT_TRUE(dv::ManagerAcceleratorsSuspended);
    Screenshot("folder-browser");
    ::PostMessageW(browser, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(s->WaitGone(L"Browse For Folder - Dirvane"));
    ASSERT_TRUE(dvtest::WaitFor([&] { return dv::WindowText(::GetDlgItem(item, IDC_CAPTION)) == L"Target"; }))
        << testing::PrintToString(dv::WindowText(::GetDlgItem(item, IDC_CAPTION))) << " "
        << testing::PrintToString(dv::WindowText(::GetDlgItem(item, IDC_PATH)));
    EXPECT_EQ(lstrcmpiW(dv::WindowText(::GetDlgItem(item, IDC_PATH)).c_str(), folder.c_str()), 0);
    Click(item, IDCANCEL);
}

// ---- Remove, moves, colours, sorts, paste -------------------------------------------------

TEST_F(ManagerTest, RemoveTakesTheSubtreeAfterOneQuestionWithTheWholeCaption) {
    const std::wstring longCaption = L"Long" + std::wstring(251, L'c') + L"tail";  // 259 characters
    SeedItem(L"1", L"C:\\a", longCaption.c_str(), 1);
    SeedItem(L"1\\1", L"C:\\a\\b", L"B", 1);
    SeedItem(L"1\\1\\1", L"C:\\a\\b\\c", L"C", 1);
    SeedItem(L"2", L"C:\\d", L"D", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, longCaption));
    Click(s->window(), IDC_REMOVE);
    HWND question = s->WaitForWindow(kRemoveTitle);
    ASSERT_TRUE(question);
    EXPECT_NE(MessageBoxText(question).find(L"\"" + longCaption + L"\""), std::wstring::npos);
    ::PostMessageW(question, WM_COMMAND, IDYES, 0);
    ExpectOutline(*s, L"D");
    EXPECT_FALSE(ItemKeyExists(L"1"));
    EXPECT_FALSE(s->FindWindowOfThread(kRemoveTitle)) << "one question for the whole subtree";
}

TEST_F(ManagerTest, MovesRebuildTheNodeAndImpossibleOnesBeep) {
    SeedItem(L"1", L"C:\\a", L"A", 1);
    SeedItem(L"2", L"C:\\b", L"B", 2);
    SeedItem(L"2\\1", L"C:\\b\\1", L"B1", 1);
    SeedItem(L"2\\2", L"C:\\b\\2", L"B2", 2);
    SeedItem(L"3", L"C:\\c", L"C", 3, 5);
    auto s = Open();
    ASSERT_TRUE(s->window());
    auto run = [&](const wchar_t* subject, UINT command) {
        ASSERT_TRUE(Select(*s, subject));
        // Every move rebuilds the subject's node, even one that changes nothing: a mark set on the
        // old node is gone from the new one.
        TreeView_SetItemState(Tree(*s), TreeView_GetSelection(Tree(*s)), TVIS_BOLD, TVIS_BOLD);
        Command(*s, command);
        ASSERT_TRUE(dvtest::WaitFor([&] {
            HTREEITEM now = TreeView_GetSelection(Tree(*s));
            return now && !(TreeView_GetItemState(Tree(*s), now, TVIS_BOLD) & TVIS_BOLD);
        })) << "no rebuild for " << testing::PrintToString(std::wstring(subject));
        EXPECT_EQ(Selected(*s), subject);
    };

    run(L"A", ID_ACCEL_MOVE_UP);  // first place stays first
    ExpectOutline(*s, L"A B(B1 B2) C");
    run(L"C", ID_ACCEL_MOVE_DOWN);  // last place stays last
    ExpectOutline(*s, L"A B(B1 B2) C");
    EXPECT_EQ(ReadTree(Tree(*s))[4].stateImage, 5) << "the rebuilt node keeps its swatch";

    Click(s->window(), IDC_MOVE_UP);  // C is still selected
    ExpectOutline(*s, L"A C B(B1 B2)");
    EXPECT_EQ(ItemDword(L"3", L"Order"), 2u);
    EXPECT_EQ(ItemDword(L"2", L"Order"), 3u);

    ASSERT_TRUE(Select(*s, L"A"));
    Command(*s, ID_ACCEL_INDENT);  // no previous sibling
    Command(*s, ID_ACCEL_UNINDENT);  // top level
    ASSERT_TRUE(dvtest::WaitFor([] { return g_beeps == 2; }));
    ExpectOutline(*s, L"A C B(B1 B2)");

    run(L"B", ID_FOLDER_INDENT);  // with its subtree, last child of C
    ExpectOutline(*s, L"A C(B(B1 B2))");
    EXPECT_FALSE(ItemKeyExists(L"2"));
    EXPECT_EQ(ItemString(L"3\\1\\2", L"Title"), L"B2");

    run(L"B2", ID_ACCEL_INDENT);  // under B1, even though B1 had no children
    ExpectOutline(*s, L"A C(B(B1(B2)))");
    run(L"B2", ID_ACCEL_UNINDENT);  // directly after its former parent
    ExpectOutline(*s, L"A C(B(B1 B2))");
    run(L"B", ID_FOLDER_UNINDENT);
    ExpectOutline(*s, L"A C B(B1 B2)");
    run(L"A", ID_ACCEL_MOVE_DOWN);
    ExpectOutline(*s, L"C A B(B1 B2)");
    EXPECT_EQ(g_beeps, 2);
    for (const Node& node : ReadTree(Tree(*s))) {
        if (node.text == L"B") {
            EXPECT_TRUE(node.expanded);
        }
    }
}

TEST_F(ManagerTest, SortsFoldOnlyAToZAndRewriteTheOrder) {
    SeedItem(L"1", L"C:\\1", L"b", 1);
    SeedItem(L"2", L"C:\\2", L"A", 2);
    SeedItem(L"3", L"C:\\3", L"\x00E9t\x00E9", 3);
    SeedItem(L"4", L"C:\\4", L"a", 4);
    SeedItem(L"5", L"C:\\5", L"B", 5);
    SeedItem(L"5\\1", L"C:\\5\\1", L"z", 1);
    SeedItem(L"5\\2", L"C:\\5\\2", L"y", 2);
    SeedItem(L"5\\2\\1", L"C:\\5\\2\\1", L"q", 1);
    SeedItem(L"5\\2\\2", L"C:\\5\\2\\2", L"p", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    auto topLevel = [&] {
        std::vector<std::wstring> texts;
        for (const Node& n : ReadTree(Tree(*s)))
            if (n.depth == 0) texts.push_back(n.text);
        return texts;
    };
    auto sameSet = [](std::wstring x, std::wstring y, const wchar_t* a, const wchar_t* b) {
        return (x == a && y == b) || (x == b && y == a);
    };

    ASSERT_TRUE(Select(*s, L"b"));
    Command(*s, ID_FOLDER_SORT_AZ);
    ASSERT_TRUE(dvtest::WaitFor([&] { return topLevel().back() == L"\x00E9t\x00E9"; }));
    std::vector<std::wstring> order = topLevel();
    ASSERT_EQ(order.size(), 5u);
    EXPECT_TRUE(sameSet(order[0], order[1], L"A", L"a"));
    EXPECT_TRUE(sameSet(order[2], order[3], L"b", L"B"));
    dv::BookmarkTreePtr stored = dv::LoadBookmarkTree();
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(stored->root.children[i]->title, order[i]);
        EXPECT_EQ(stored->root.children[i]->order, i + 1);
    }

    TreeView_SelectItem(Tree(*s), nullptr);  // nothing selected: the top level
    Command(*s, ID_FOLDER_SORT_ZA);
    ASSERT_TRUE(dvtest::WaitFor([&] { return topLevel().front() == L"\x00E9t\x00E9"; }));
    order = topLevel();
    EXPECT_TRUE(sameSet(order[1], order[2], L"b", L"B"));
    EXPECT_TRUE(sameSet(order[3], order[4], L"A", L"a"));
    EXPECT_EQ(dv::LoadBookmarkTree()->root.children[0]->title, L"\x00E9t\x00E9");

    ASSERT_TRUE(Select(*s, L"z"));  // one level only: y keeps its own children's order
    Command(*s, ID_FOLDER_SORT_AZ);
    ASSERT_TRUE(dvtest::WaitFor([] { return ItemDword(L"5\\2", L"Order") == 1; }));
    EXPECT_EQ(ItemDword(L"5\\1", L"Order"), 2u);
    EXPECT_EQ(ItemDword(L"5\\2\\1", L"Order"), 1u);
    EXPECT_NE(ViewOutline(*s).find(L"B(y(q p) z)"), std::wstring::npos) << testing::PrintToString(ViewOutline(*s));
}


TEST_F(ManagerTest, PasteFromExplorerAddsEachFolderOnceInCodeUnitOrder) {
    dvtest::ScratchFolder scratch(L"mgr-paste");
    const std::wstring folder = scratch.MakeFolder(L"Src");
    const std::wstring one = scratch.MakeFile(L"Src\\one.txt"), two = scratch.MakeFile(L"Src\\two.txt");
    SeedItem(L"1", L"C:\\a", L"A", 1);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ClipboardFiles clipboard;

    OpenMenu(*s, 0);
    EXPECT_TRUE(MenuState(*s, ID_FOLDER_PASTE) & MF_GRAYED) << "nothing to paste";
    // A file list of another program whose names lie far outside its memory: the menu opens,
    // nothing to paste.
    std::vector<BYTE> malformed = dvtest::DropFilesBlock({folder});
    const DWORD farOffset = 0x7FFFFFF0;
    memcpy(malformed.data() + offsetof(DROPFILES, pFiles), &farOffset, sizeof(farOffset));
    clipboard.PutBlock(malformed);
    OpenMenu(*s, 0);
    EXPECT_TRUE(MenuState(*s, ID_FOLDER_PASTE) & MF_GRAYED) << "a malformed list";
    Command(*s, ID_ACCEL_PASTE);  // the shortcut works anyway and does nothing
    PostKey(Tree(*s), VK_INSERT);  // a marker: once its dialog shows, the paste has run
    HWND item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    Click(item, IDCANCEL);
    ASSERT_TRUE(s->WaitGone(kItemTitle));
    ExpectOutline(*s, L"A");

    clipboard.Put({two, folder + L"\\", one, L"C:\\"});
    OpenMenu(*s, 0);
    EXPECT_FALSE(MenuState(*s, ID_FOLDER_PASTE) & MF_GRAYED);

    TreeView_SelectItem(Tree(*s), nullptr);
    Command(*s, ID_ACCEL_PASTE_SHIFT);
    ASSERT_TRUE(dvtest::WaitFor([&] { return ReadTree(Tree(*s)).size() == 3; }));
    dv::BookmarkTreePtr stored = dv::LoadBookmarkTree();
    ASSERT_EQ(stored->root.children.size(), 3u);
    EXPECT_EQ(stored->root.children[1]->address, L"C:\\") << "a drive root keeps its backslash";
    EXPECT_EQ(stored->root.children[2]->address, folder);
    EXPECT_EQ(stored->root.children[2]->title, L"Src");
    EXPECT_EQ(Selected(*s), L"Src") << "the last pasted item is selected";

    ASSERT_TRUE(Select(*s, L"A"));  // under a selection: as its children
    clipboard.Put({one});
    Command(*s, ID_FOLDER_PASTE);
    ExpectOutline(*s, L"A(Src) " + stored->root.children[1]->title + L" Src");
}

// ---- Options and Help ---------------------------------------------------------------------

TEST_F(ManagerTest, OptionSwitchesShowTheirStateAndToggleOneValue) {
    SeedItem(L"1", L"C:\\a", L"A", 1);  // the product key exists, AddOns does not
    auto s = Open();
    ASSERT_TRUE(s->window());
    auto checked = [&](UINT id) { return (MenuState(*s, id) & MF_CHECKED) != 0; };
    auto addOn = [](const wchar_t* name) {
        dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, L"Software\\Ostrelan\\Dirvane\\AddOns");
        DWORD value = 0xFFFFFFFF;
        if (key) dv::ReadRegDword(key.get(), name, value);
        return value;
    };

    OpenMenu(*s, 1);
    EXPECT_FALSE(checked(ID_OPTIONS_RUN_CMD) || checked(ID_OPTIONS_COPY_PATHS) || checked(ID_OPTIONS_EDITOR));
    Command(*s, ID_OPTIONS_RUN_CMD);
    ASSERT_TRUE(dvtest::WaitFor([&] { return addOn(L"RunCmd") == 1; }));
    EXPECT_EQ(addOn(L"CopyToClipboard"), 0xFFFFFFFFu);
    EXPECT_EQ(addOn(L"NotepadView"), 0xFFFFFFFFu);
    OpenMenu(*s, 1);
    EXPECT_TRUE(checked(ID_OPTIONS_RUN_CMD));
    EXPECT_FALSE(checked(ID_OPTIONS_COPY_PATHS));

    {
        dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, L"Software\\Ostrelan\\Dirvane\\AddOns", KEY_WRITE);
        dv::WriteRegDword(key.get(), L"CopyToClipboard", 2);  // anything but 1 is off
    }
    OpenMenu(*s, 1);
    EXPECT_FALSE(checked(ID_OPTIONS_COPY_PATHS));
    Command(*s, ID_OPTIONS_COPY_PATHS);
    ASSERT_TRUE(dvtest::WaitFor([&] { return addOn(L"CopyToClipboard") == 1; }));
    Command(*s, ID_OPTIONS_RUN_CMD);
    ASSERT_TRUE(dvtest::WaitFor([&] { return addOn(L"RunCmd") == 0; }));
    Command(*s, ID_OPTIONS_EDITOR);
    ASSERT_TRUE(dvtest::WaitFor([&] { return addOn(L"NotepadView") == 1; }));
    OpenMenu(*s, 1);
    EXPECT_TRUE(checked(ID_OPTIONS_COPY_PATHS) && checked(ID_OPTIONS_EDITOR));
    EXPECT_FALSE(checked(ID_OPTIONS_RUN_CMD));
}

TEST_F(ManagerTest, AnotherEditorIsChosenWithTheFileDialogAndResetToNotepad) {
    dvtest::ScratchFolder scratch(L"mgr-editor");
    const std::wstring editor = scratch.MakeFile(L"my editor.exe");
    SeedItem(L"1", L"C:\\a", L"A", 1);
    auto s = Open();
    ASSERT_TRUE(s->window());
    auto textEditor = [] {
        dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
        wchar_t value[dv::kMaxText] = {};
        if (!key || !dv::ReadRegString(key.get(), L"TextEditor", value, dv::kMaxText)) return std::wstring(L"<none>");
        return std::wstring(value);
    };
    // The file-name field of the Save dialog, and the dialog itself.
    // The file-name field: the edit box of the extended combo box 0x47C (cmb13).
    auto fileNameField = [](HWND dialog) {
        HWND combo = ::GetDlgItem(dialog, 0x47C);
        return combo ? reinterpret_cast<HWND>(::SendMessageW(combo, CBEM_GETEDITCONTROL, 0, 0)) : nullptr;
    };
    auto fileDialog = [&](std::wstring* name) {
        HWND dialog = s->WaitForWindow(L"Set Path to Text Editor");
        if (!dialog) return dialog;
        dvtest::WaitFor([&] { return fileNameField(dialog) != nullptr; });
        HWND field = fileNameField(dialog);
        *name = field ? dv::WindowText(field) : L"<no field>";
        return dialog;
    };
    auto resetGrayed = [&] {
        OpenMenu(*s, 1);
        return (MenuState(*s, ID_OPTIONS_RESET_EDITOR) & MF_GRAYED) != 0;
    };

    EXPECT_TRUE(resetGrayed());
    Command(*s, ID_OPTIONS_OTHER_EDITOR);
    std::wstring name;
    HWND dialog = fileDialog(&name);
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dv::ManagerAcceleratorsSuspended);
    EXPECT_EQ(name, L"");
    HWND field = fileNameField(dialog);
    ASSERT_TRUE(field);
    ::SetWindowTextW(field, editor.c_str());
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(dvtest::WaitFor([&] { return textEditor() != L"<none>"; }));
    EXPECT_EQ(lstrcmpiW(textEditor().c_str(), editor.c_str()), 0);
    EXPECT_TRUE(s->WaitGone(L"Set Path to Text Editor"));
    EXPECT_FALSE(dv::ManagerAcceleratorsSuspended);
    EXPECT_FALSE(resetGrayed());

    // It opens on the current editor; Cancel changes nothing.
    Command(*s, ID_OPTIONS_OTHER_EDITOR);
    dialog = fileDialog(&name);
    ASSERT_TRUE(dialog);
    EXPECT_NE(name.find(L"my editor.exe"), std::wstring::npos) << testing::PrintToString(name);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(s->WaitGone(L"Set Path to Text Editor"));

    Command(*s, ID_OPTIONS_RESET_EDITOR);
    ASSERT_TRUE(dvtest::WaitFor([&] { return textEditor() == L"<none>"; }));
    EXPECT_TRUE(resetGrayed());
    Command(*s, ID_OPTIONS_OTHER_EDITOR);
    dialog = fileDialog(&name);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(name, L"");
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(s->WaitGone(L"Set Path to Text Editor"));
    EXPECT_EQ(textEditor(), L"<none>");

    // A stored editor that names a folder or a missing file cannot be reset from the menu.
    {
        dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, dvtest::kProductKey, KEY_WRITE);
        dv::WriteRegString(key.get(), L"TextEditor", scratch.path().c_str());
    }
    EXPECT_TRUE(resetGrayed());
}

TEST_F(ManagerTest, AboutShowsTheVersionAndKeepsEnterForItself) {
    SeedItem(L"1", L"C:\\a", L"A", 1);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"A"));
    Command(*s, ID_HELP_ABOUT);
    HWND about = s->WaitForWindow(L"About - Dirvane");
    ASSERT_TRUE(about);
    const std::wstring version = dv::GetModuleVersionString(dv::ResourceInstance());
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(MessageBoxText(about).rfind(L"Dirvane Shell Extension for Windows\nVersion " + version + L"\n\n", 0), 0u)
        << testing::PrintToString(MessageBoxText(about));
    EXPECT_TRUE(dv::ManagerAcceleratorsSuspended);
    PostKey(about, VK_RETURN);  // closes the box; Edit must not start behind it
    ASSERT_TRUE(s->WaitGone(L"About - Dirvane"));
    EXPECT_FALSE(s->FindWindowOfThread(kItemTitle));
    EXPECT_FALSE(dv::ManagerAcceleratorsSuspended);
}

// ---- Window: layout, size, selection colours, tips, one manager ---------------------------

namespace {
POINT ClientPosition(HWND control) {
    RECT r;
    ::GetWindowRect(control, &r);
    POINT p = {r.left, r.top};
    ::ScreenToClient(::GetParent(control), &p);
    return p;
}
SIZE SizeOf(HWND window) {
    RECT r;
    ::GetWindowRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}
constexpr int kRightHand[] = {IDC_NEW, IDC_EDIT, IDC_REMOVE, IDC_COLOR_BOX, IDC_MOVE_UP, IDC_UNINDENT, IDC_INDENT, IDC_MOVE_DOWN};
} // namespace

TEST_F(ManagerTest, LayoutKeepsPlacesUntilTheSizeChangesAndTheSizeIsSaved) {
    SeedItem(L"1", L"C:\\a", L"A", 1);
    RECT firstRect;
    SIZE grown;
    LONG newFromRight = 0;  // client width minus New's left edge
    {
        auto s = Open();
        ASSERT_TRUE(s->window());
        HWND w = s->window();
        ::GetWindowRect(w, &firstRect);
        std::vector<POINT> before;
        for (int id : kRightHand) before.push_back(ClientPosition(s->control(id)));
        const SIZE treeBefore = SizeOf(Tree(*s));

        // A size message without a new size moves nothing (no jump by the frame width).
        ::SendMessageW(w, WM_SIZE, SIZE_RESTORED, 0);
        ::SetWindowPos(w, nullptr, 0, 0, firstRect.right - firstRect.left, firstRect.bottom - firstRect.top,
                       SWP_NOMOVE | SWP_NOZORDER);
        for (size_t i = 0; i < std::size(kRightHand); ++i) {
            EXPECT_EQ(ClientPosition(s->control(kRightHand[i])).x, before[i].x) << kRightHand[i];
            EXPECT_EQ(ClientPosition(s->control(kRightHand[i])).y, before[i].y) << kRightHand[i];
        }
        // The combo box stays centred under the New/Edit/Remove column.
        RECT combo, remove;
        ::GetWindowRect(s->control(IDC_COLOR_BOX), &combo);
        ::GetWindowRect(s->control(IDC_REMOVE), &remove);
        EXPECT_LE(std::abs((combo.left + combo.right) - (remove.left + remove.right)), 2);

        RECT client;
        ::GetClientRect(w, &client);
        newFromRight = client.right - ClientPosition(s->control(IDC_NEW)).x;
        grown = SIZE{firstRect.right - firstRect.left + 60, firstRect.bottom - firstRect.top + 40};
        ::SetWindowPos(w, nullptr, 0, 0, grown.cx, grown.cy, SWP_NOMOVE | SWP_NOZORDER);
        for (size_t i = 0; i < std::size(kRightHand); ++i) {
            EXPECT_EQ(ClientPosition(s->control(kRightHand[i])).x, before[i].x + 60) << kRightHand[i];
            EXPECT_EQ(ClientPosition(s->control(kRightHand[i])).y, before[i].y) << kRightHand[i];
        }
        EXPECT_EQ(SizeOf(Tree(*s)).cx, treeBefore.cx + 60);
        EXPECT_EQ(SizeOf(Tree(*s)).cy, treeBefore.cy + 40);

        MINMAXINFO limits = {};
        ::SendMessageW(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        const LONG width = firstRect.right - firstRect.left;
        EXPECT_EQ(limits.ptMinTrackSize.x, width / 6 + width / 2);
        EXPECT_EQ(limits.ptMinTrackSize.y, ClientPosition(s->control(IDC_MOVE_DOWN)).y + 90);
        Screenshot("manager-grown");
        ::PostMessageW(w, WM_CLOSE, 0, 0);
        ASSERT_TRUE(s->WaitEnded());
    }
    dv::unique_hkey key = dv::OpenRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
    DWORD width = 0, height = 0;
    ASSERT_TRUE(dv::ReadRegDword(key.get(), L"Width", width) && dv::ReadRegDword(key.get(), L"Height", height));
    EXPECT_EQ(static_cast<LONG>(width), grown.cx);
    EXPECT_EQ(static_cast<LONG>(height), grown.cy);

    // Reopened: the saved size, at the same place, and the controls follow the right edge.
    auto s = Open();
    ASSERT_TRUE(s->window());
    RECT reopened;
    ::GetWindowRect(s->window(), &reopened);
    EXPECT_EQ(reopened.left, firstRect.left);
    EXPECT_EQ(reopened.top, firstRect.top);
    EXPECT_EQ(reopened.right - reopened.left, grown.cx);
    EXPECT_EQ(reopened.bottom - reopened.top, grown.cy);
    RECT client;
    ::GetClientRect(s->window(), &client);
    EXPECT_EQ(client.right - ClientPosition(s->control(IDC_NEW)).x, newFromRight);
    EXPECT_GT(ClientPosition(s->control(IDC_NEW)).x, ClientPosition(Tree(*s)).x + SizeOf(Tree(*s)).cx);
    MINMAXINFO limits = {};
    ::SendMessageW(s->window(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, (firstRect.right - firstRect.left) / 6 + (firstRect.right - firstRect.left) / 2)
        << "the minimum comes from the template size, not the saved one";
}

TEST_F(ManagerTest, SelectionKeepsTheHighlightWithoutFocus) {
    SeedItem(L"1", L"C:\\a", L"First", 1);
    SeedItem(L"2", L"C:\\b", L"Second", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"Second"));
    ::SendMessageW(s->window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(s->control(IDC_COLOR_BOX)), TRUE);
    ASSERT_NE(::GetFocus(), Tree(*s));
    RECT text;
    HTREEITEM node = TreeView_GetSelection(Tree(*s));
    ASSERT_TRUE(TreeView_GetItemRect(Tree(*s), node, &text, TRUE));
    ::MapWindowPoints(Tree(*s), nullptr, reinterpret_cast<POINT*>(&text), 2);
    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    COLORREF seen = CLR_INVALID;
    const bool highlighted = dvtest::WaitFor([&] {
        ::InvalidateRect(Tree(*s), nullptr, TRUE);
        ::UpdateWindow(Tree(*s));
        dv::window_dc screen(nullptr);
        seen = ::GetPixel(screen.get(), text.right - 2, (text.top + text.bottom) / 2);
        return seen == highlight;
    }, std::chrono::seconds(5));
    Screenshot("selection-without-focus");
    EXPECT_TRUE(highlighted) << std::hex << seen << " instead of " << highlight;
}

TEST_F(ManagerTest, InfoTipIsTheAddress) {
    SeedItem(L"1", L"C:\\some\\folder", L"Tip", 1);
    auto s = Open();
    ASSERT_TRUE(s->window());
    wchar_t buffer[INFOTIPSIZE] = {};
    NMTVGETINFOTIPW tip = {};
    tip.hdr.hwndFrom = Tree(*s);
    tip.hdr.idFrom = IDC_BOOKMARK_TREE;
    tip.hdr.code = TVN_GETINFOTIPW;
    tip.pszText = buffer;
    tip.cchTextMax = INFOTIPSIZE;
    tip.hItem = FindNode(Tree(*s), L"Tip");
    ::SendMessageW(s->window(), WM_NOTIFY, IDC_BOOKMARK_TREE, reinterpret_cast<LPARAM>(&tip));
    EXPECT_STREQ(buffer, L"C:\\some\\folder");
    EXPECT_EQ(tip.cchTextMax, 15);
}

// ---- Changes made elsewhere while the manager is open ----------------------------------------

// Another process (Explorer, say) adds a top-level bookmark <prefix>0 as the menu's Bookmark
// command does: a fresh tree, AddBookmark.
void BookmarkFromAnotherProcess(const std::wstring& prefix) {
    dv::unique_handle go(::CreateEventW(nullptr, TRUE, TRUE, L"DirvaneManagerTestWriter"));
    EXPECT_EQ(dvtest::RunProcess(L"\"" + dvtest::ProgramFolder() + L"\\..\\store\\store_writer.exe\" 1 " + prefix +
                                 L" DirvaneManagerTestWriter"),
              0u);
}

TEST_F(ManagerTest, ChangesMadeElsewhereShowWithinASecondKeepingSelectionAndScrollPosition) {
    SeedItem(L"1", L"C:\\windows", L"Windows", 1);
    SeedItem(L"1\\1", L"C:\\windows\\system32", L"System", 1);
    SeedItem(L"1\\2", L"C:\\windows\\fonts", L"Zeta", 2);
    for (DWORD i = 2; i <= 40; ++i) SeedItem(std::to_wstring(i), L"C:\\users", (L"Item " + std::to_wstring(i)).c_str(), i);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"System"));
    ::SendMessageW(Tree(*s), TVM_SELECTITEM, TVGN_FIRSTVISIBLE, reinterpret_cast<LPARAM>(FindNode(Tree(*s), L"Item 10")));
    auto shown = [&](const wchar_t* text, bool present) {
        return dvtest::WaitFor([&] { return (FindNode(Tree(*s), text) != nullptr) == present; },
                               std::chrono::seconds(10));
    };
    auto firstVisible = [&] {
        HTREEITEM top = TreeView_GetFirstVisible(Tree(*s));
        for (const Node& n : ReadTree(Tree(*s)))
            if (n.handle == top) return n.text;
        return std::wstring(L"<none>");
    };

    BookmarkFromAnotherProcess(L"C:\\windows\\temp\\Added");
    EXPECT_TRUE(shown(L"Added0", true));
    EXPECT_EQ(Selected(*s), L"System");
    EXPECT_EQ(firstVisible(), L"Item 10");

    // Another manager's edits: a caption changed, an item removed.
    {
        dv::BookmarkTreePtr other = dv::LoadBookmarkTree();
        other->Edit(*other->root.children[0], L"C:\\windows", L"Win");
        other->Remove(*other->root.children[1]);
    }
    EXPECT_TRUE(shown(L"Item 2", false));
    EXPECT_TRUE(FindNode(Tree(*s), L"Win"));
    EXPECT_EQ(Selected(*s), L"System");

    // The manager's own edit comes back as a change too: nothing is rebuilt, the node stays.
    HTREEITEM selected = TreeView_GetSelection(Tree(*s));
    const int seen = g_storeChanges;
    ::SendMessageW(s->window(), WM_COMMAND, ID_FOLDER_SORT_ZA, 0);  // Zeta before System
    ASSERT_TRUE(dvtest::WaitFor([&] { return g_storeChanges > seen; }));
    EXPECT_EQ(TreeView_GetSelection(Tree(*s)), selected);
    ::SendMessageW(Tree(*s), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(FindNode(Tree(*s), L"Added0")));
    Screenshot("manager-outside-change");
}

// A dialog of the manager's own holds an item: the view waits for it, and the item that the dialog
// edits, removed elsewhere meanwhile, is not made again by its OK.
TEST_F(ManagerTest, OutsideChangesWaitForTheManagersOwnDialog) {
    SeedItem(L"1", L"C:\\windows", L"Alpha", 1);
    SeedItem(L"2", L"C:\\users", L"Beta", 2);
    auto s = Open();
    ASSERT_TRUE(s->window());
    ASSERT_TRUE(Select(*s, L"Alpha"));
    PostKey(Tree(*s), VK_RETURN);
    HWND item = s->WaitForWindow(kItemTitle);
    ASSERT_TRUE(item);
    const int seen = g_storeChanges;
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(dv::kItemsKeyPath) + L"\\1").c_str()));
    ASSERT_TRUE(dvtest::WaitFor([&] { return g_storeChanges > seen; }));
    EXPECT_TRUE(FindNode(Tree(*s), L"Alpha")) << "rebuilt under the open dialog";
    ::SetWindowTextW(::GetDlgItem(item, IDC_CAPTION), L"Changed");
    Click(item, IDOK);
    ASSERT_TRUE(s->WaitGone(kItemTitle));
    ExpectOutline(*s, L"Beta");
    EXPECT_FALSE(ItemKeyExists(L"1"));
}

TEST_F(ManagerTest, ASecondManagerOfTheProcessBringsTheFirstToTheFront) {
    auto s = Open();
    ASSERT_TRUE(s->window());
    ManagerSession second([] { dv::OpenManager(nullptr, false); });
    EXPECT_TRUE(second.WaitEnded()) << "the second call returns at once";
    int managers = 0;
    ::EnumWindows([](HWND w, LPARAM count) -> BOOL {
        if (dv::WindowText(w) == kManagerTitle && ::IsWindowVisible(w)) ++*reinterpret_cast<int*>(count);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&managers));
    EXPECT_EQ(managers, 1);
    EXPECT_TRUE(::IsWindow(s->window()));
}

} // namespace
