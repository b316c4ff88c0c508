// Navigation against windows of our own that carry the recognised class names: which kind a
// window is, which window gets steered, and what it has received once the posted keystrokes ran.
#include "navigate/navigate.h"
#include "nav_windows.h"
#include "common/test_support.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string>

using namespace dv::nav;
using navtest::LogOf;
using navtest::ReceivedMessage;

namespace {

constexpr wchar_t kComputer[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
constexpr DWORD kRichEditStyle = 0x54000088;
constexpr DWORD kEditStyle = 0x54000080;

class Navigation : public ::testing::Test {
protected:
    dv::com_init com_;
    navtest::Windows windows;
};

std::wstring Text(HWND window) { return dv::WindowText(window); }

// Enter arrived, in keystroke order, while the box held exactly expected.
bool EnterArrivedWith(HWND edit, const std::wstring& expected) {
    auto log = LogOf(edit);
    for (size_t i = 0; i + 2 < log.size(); ++i) {
        if (log[i].message == WM_KEYDOWN && log[i].wParam == VK_RETURN && log[i].lParam == 0x001C0001 &&
            log[i + 1].message == WM_CHAR && log[i + 1].wParam == 13 && log[i + 2].message == WM_KEYUP &&
            log[i + 2].wParam == VK_RETURN && static_cast<DWORD>(log[i + 2].lParam) == 0xC01C0001)
            return log[i].text == expected;
    }
    return false;
}

std::wstring FirstTextSet(HWND window) {
    for (const auto& entry : LogOf(window))
        if (entry.message == WM_SETTEXT) return entry.text;
    return L"<none>";
}

} // namespace

TEST(FolderText, FileSystemPathsGetOneTrailingBackslash) {
    wchar_t prepared[dv::kMaxText];
    ASSERT_TRUE(PrepareFolderText(L"C:\\Data", prepared));
    EXPECT_STREQ(L"C:\\Data\\", prepared);
    ASSERT_TRUE(PrepareFolderText(L"C:\\", prepared));
    EXPECT_STREQ(L"C:\\", prepared);
    ASSERT_TRUE(PrepareFolderText(kComputer, prepared));
    EXPECT_STREQ(kComputer, prepared);
    ASSERT_TRUE(PrepareFolderText(L"Shell:::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", prepared));
    EXPECT_STREQ(L"Shell:::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", prepared);

    // 258 characters still take the backslash; 259 leave no room for it.
    std::wstring path258 = L"C:\\" + std::wstring(255, L'a');
    ASSERT_TRUE(PrepareFolderText(path258.c_str(), prepared));
    EXPECT_EQ(path258 + L"\\", prepared);
    std::wstring path259 = path258 + L"b";
    ASSERT_TRUE(PrepareFolderText(path259.c_str(), prepared));
    EXPECT_EQ(path259, prepared);

    // Texts that cannot name the folder are refused rather than cut.
    EXPECT_FALSE(PrepareFolderText((path259 + L"c").c_str(), prepared));
    EXPECT_STREQ(L"", prepared);
    EXPECT_FALSE(PrepareFolderText(L"", prepared));
    EXPECT_FALSE(PrepareFolderText(nullptr, prepared));

    EXPECT_TRUE(HasNamespaceSegment(L"C:\\x\\::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"));
    EXPECT_FALSE(HasNamespaceSegment(L"C:\\x:y"));
    EXPECT_FALSE(HasNamespaceSegment(nullptr));
}

TEST_F(Navigation, ClassifiesByExactClassName) {
    // The system matches class names regardless of case and reports the first spelling
    // registered, so each variant gets a fresh registration of its own.
    for (const wchar_t* variant : {L"openlistview", L"OpenListview", L"SNAKE LIST", L"ttotal_cmd"}) {
        SCOPED_TRACE(variant);
        for (const wchar_t* name : {L"OpenListView", L"Snake List", L"TTOTAL_CMD"}) navtest::ForgetClass(name);
        HWND window = windows.Make(variant);
        wchar_t reported[64] = L"";
        ::GetClassNameW(window, reported, 64);
        ASSERT_STREQ(variant, reported);
        EXPECT_EQ(TargetWindowKind::ShellBrowserWindow, ClassifyTargetWindow(window));
        ::DestroyWindow(window);
        navtest::ForgetClass(variant);
    }

    EXPECT_EQ(TargetWindowKind::TypedPathListView, ClassifyTargetWindow(windows.Make(L"OpenListView")));
    EXPECT_EQ(TargetWindowKind::TypedPathSnakeList, ClassifyTargetWindow(windows.Make(L"Snake List")));
    EXPECT_EQ(TargetWindowKind::CommanderWindow, ClassifyTargetWindow(windows.Make(L"TTOTAL_CMD")));
    EXPECT_EQ(TargetWindowKind::CommanderWindow, ClassifyTargetWindow(windows.Make(L"TWINDOWSCMD")));
    // Class names compare case-sensitively and whole.
    EXPECT_EQ(TargetWindowKind::ShellBrowserWindow, ClassifyTargetWindow(windows.Make(L"Snake List2")));
    EXPECT_EQ(TargetWindowKind::ShellBrowserWindow, ClassifyTargetWindow(nullptr));

    HWND gone = windows.Make(L"OpenListView");
    ::DestroyWindow(gone);
    EXPECT_EQ(TargetWindowKind::ShellBrowserWindow, ClassifyTargetWindow(gone));
}

TEST_F(Navigation, TreesAreSteeredThroughTheirAncestors) {
    // Folder-browser tree: dialog > "SHBrowseForFolder ShellNameSpace Control" > tree.
    HWND dialog = windows.Make(L"DvNavDialog");
    HWND control = windows.Make(L"SHBrowseForFolder ShellNameSpace Control", dialog);
    HWND pickerTree = windows.Control(L"SysTreeView32", control, WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(TargetWindowKind::FolderBrowserTree, ClassifyTargetWindow(pickerTree));
    EXPECT_EQ(dialog, BrowserWindowOf(pickerTree, TargetWindowKind::FolderBrowserTree));

    // A picker control without a dialog around it: nothing to select in.
    HWND lonePicker = windows.Make(L"SHBrowseForFolder ShellNameSpace Control");
    HWND loneTree = windows.Control(L"SysTreeView32", lonePicker, WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(TargetWindowKind::FolderBrowserTree, ClassifyTargetWindow(loneTree));
    EXPECT_EQ(nullptr, BrowserWindowOf(loneTree, TargetWindowKind::FolderBrowserTree));
    JumpToFolder(loneTree, L"C:\\");
    EXPECT_TRUE(LogOf(lonePicker).empty());

    // Namespace tree, full chain: the fifth ancestor.
    HWND explorer = windows.Make(L"DvNavExplorer");
    HWND namespaceControl = windows.Chain(explorer, 3, L"NamespaceTreeControl");
    HWND namespaceTree = windows.Control(L"SysTreeView32", namespaceControl, WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(TargetWindowKind::NamespaceTree, ClassifyTargetWindow(namespaceTree));
    EXPECT_EQ(explorer, BrowserWindowOf(namespaceTree, TargetWindowKind::NamespaceTree));

    // Short chain: fewer than five ancestors give no browser window.
    HWND shortTop = windows.Make(L"DvNavExplorer");
    HWND shortControl = windows.Chain(shortTop, 1, L"NamespaceTreeControl");
    HWND shortTree = windows.Control(L"SysTreeView32", shortControl, WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(TargetWindowKind::NamespaceTree, ClassifyTargetWindow(shortTree));
    EXPECT_EQ(nullptr, BrowserWindowOf(shortTree, TargetWindowKind::NamespaceTree));

    // Any other tree: the third ancestor.
    HWND otherTop = windows.Make(L"DvNavExplorer");
    HWND otherParent = windows.Chain(otherTop, 1, L"DvNavPane");
    HWND otherTree = windows.Control(L"SysTreeView32", otherParent, WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(TargetWindowKind::OtherTree, ClassifyTargetWindow(otherTree));
    EXPECT_EQ(otherTop, BrowserWindowOf(otherTree, TargetWindowKind::OtherTree));
    HWND orphanTree = windows.Control(L"SysTreeView32", otherTop, WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(TargetWindowKind::OtherTree, ClassifyTargetWindow(orphanTree));
    EXPECT_EQ(nullptr, BrowserWindowOf(orphanTree, TargetWindowKind::OtherTree));

    // The typed kinds have no browser window; the shell-browser kind is the window itself.
    HWND plain = windows.Make(L"DvNavPlain");
    EXPECT_EQ(plain, BrowserWindowOf(plain, TargetWindowKind::ShellBrowserWindow));
    EXPECT_EQ(nullptr, BrowserWindowOf(plain, TargetWindowKind::TypedPathSnakeList));

    // A jump from the namespace tree browses in the explorer window, not in the windows between.
    dvtest::ScratchFolder scratch(L"dvnav-tree");
    std::wstring folder = scratch.MakeFolder(L"Reports");
    navtest::FakeShellBrowser browser, between;
    navtest::AnswerWithBrowser(explorer, &browser);
    navtest::AnswerWithBrowser(::GetParent(namespaceControl), &between);
    JumpToFolder(namespaceTree, folder.c_str());
    ASSERT_EQ(1u, browser.browsed.size());
    EXPECT_EQ(UINT(SBSP_SAMEBROWSER), browser.flags[0]);
    EXPECT_TRUE(navtest::SameList(navtest::Parse(folder).get(), browser.browsed[0].get()));
    EXPECT_TRUE(between.browsed.empty());
    // The borrowed browser is not released.
    EXPECT_EQ(1, browser.refs);

    // The same from an ordinary tree, three levels down.
    navtest::AnswerWithBrowser(otherTop, &browser);
    JumpToFolder(otherTree, folder.c_str());
    ASSERT_EQ(2u, browser.browsed.size());
    EXPECT_TRUE(navtest::SameList(navtest::Parse(folder).get(), browser.browsed[1].get()));
}

TEST_F(Navigation, ShellBrowserParsesNamespacePathsAgainWithShellPrefix) {
    HWND explorer = windows.Make(L"DvNavExplorer");
    navtest::FakeShellBrowser browser;
    navtest::AnswerWithBrowser(explorer, &browser);

    // Parses as it is.
    JumpToFolder(explorer, kComputer);
    dv::unique_pidl computer;
    ASSERT_TRUE(SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES,
                                                        reinterpret_cast<PIDLIST_ABSOLUTE*>(computer.put()))));
    ASSERT_EQ(1u, browser.browsed.size());
    EXPECT_TRUE(navtest::SameList(computer.get(), browser.browsed[0].get()));

    // Does not parse as it is, but does with "Shell:" in front.
    const wchar_t* onlyWithPrefix = L"Dirvane::Missing";
    ASSERT_FALSE(navtest::Parse(onlyWithPrefix));
    dv::unique_pidl prefixed = navtest::Parse(std::wstring(L"Shell:") + onlyWithPrefix);
    ASSERT_TRUE(prefixed);
    JumpToFolder(explorer, onlyWithPrefix);
    ASSERT_EQ(2u, browser.browsed.size());
    EXPECT_TRUE(navtest::SameList(prefixed.get(), browser.browsed[1].get()));

    // A file-system path is parsed once only: a missing folder browses nowhere.
    dvtest::ScratchFolder scratch(L"dvnav-missing");
    JumpToFolder(explorer, (scratch / L"Missing").c_str());
    EXPECT_EQ(2u, browser.browsed.size());
    EXPECT_EQ(1, browser.refs);
}

TEST_F(Navigation, DialogListsGetThePathTypedIntoTheirPathBox) {
    const std::wstring folder = L"C:\\DATA\\REPORTS";
    const std::wstring typed = folder + L"\\";

    // "Snake List": its parent is the dialog; a rich edit with the exact style wins over an edit.
    HWND dialog = windows.Make(L"DvNavDialog");
    HWND decoyRich = windows.Control(L"RichEdit20W", dialog, kRichEditStyle | ES_CENTER);
    HWND edit = windows.Control(L"Edit", dialog, kEditStyle);
    HWND rich = windows.Control(L"RichEdit20W", dialog, kRichEditStyle);
    HWND snake = windows.Make(L"Snake List", dialog);
    ASSERT_EQ(LONG(kRichEditStyle), ::GetWindowLongW(rich, GWL_STYLE));
    ASSERT_EQ(LONG(kEditStyle), ::GetWindowLongW(edit, GWL_STYLE));
    JumpToFolder(snake, folder.c_str());
    ASSERT_TRUE(dvtest::WaitFor([&] { return EnterArrivedWith(rich, typed); }));
    EXPECT_EQ(typed, Text(rich));
    EXPECT_EQ(L" " + typed, FirstTextSet(rich));  // typed with a blank, removed by Home and Delete
    EXPECT_TRUE(ReceivedMessage(dialog, WM_KEYDOWN, VK_TAB));
    EXPECT_TRUE(ReceivedMessage(dialog, WM_CHAR, 9));
    EXPECT_EQ(L"", Text(edit));
    EXPECT_EQ(L"", Text(decoyRich));
    EXPECT_TRUE(LogOf(decoyRich).empty());

    // "OpenListView": the dialog is two levels up; no rich edit, so the edit with the exact style.
    HWND dialog2 = windows.Make(L"DvNavDialog");
    HWND offByOne = windows.Control(L"Edit", dialog2, kEditStyle | ES_CENTER);
    HWND edit2 = windows.Control(L"Edit", dialog2, kEditStyle);
    HWND listView = windows.Make(L"OpenListView", windows.Make(L"DvNavPane", dialog2));
    JumpToFolder(listView, folder.c_str());
    ASSERT_TRUE(dvtest::WaitFor([&] { return EnterArrivedWith(edit2, typed); }));
    EXPECT_EQ(typed, Text(edit2));
    EXPECT_TRUE(LogOf(offByOne).empty());

    // Only boxes whose style differs by one bit: nothing is typed anywhere.
    HWND dialog3 = windows.Make(L"DvNavDialog");
    HWND near1 = windows.Control(L"Edit", dialog3, kEditStyle & ~WS_CLIPSIBLINGS);
    HWND near2 = windows.Control(L"RichEdit20W", dialog3, kRichEditStyle | ES_AUTOVSCROLL);
    HWND snake3 = windows.Make(L"Snake List", dialog3);
    JumpToFolder(snake3, folder.c_str());
    navtest::Pump();
    EXPECT_TRUE(LogOf(near1).empty());
    EXPECT_TRUE(LogOf(near2).empty());
    EXPECT_TRUE(LogOf(dialog3).empty());

    // A "Snake List" without a parent does not go looking among the top-level windows.
    HWND orphan = windows.Make(L"Snake List");
    JumpToFolder(orphan, folder.c_str());
    navtest::Pump();
    EXPECT_EQ(typed, Text(rich));

    // A namespace path is not typed; it goes to the shell instead.
    JumpToFolder(snake, kComputer);
    navtest::Pump();
    EXPECT_EQ(typed, Text(rich));
}

TEST_F(Navigation, CommandersGetACdCommandInTheirFirstEditBox) {
    const std::wstring folder = L"C:\\DATA\\REPORTS";
    for (const wchar_t* commanderClass : {L"TTOTAL_CMD", L"TWINDOWSCMD"}) {
        SCOPED_TRACE(commanderClass);
        HWND commander = windows.Make(commanderClass);
        HWND panel = windows.Make(L"DvNavPane", commander);
        windows.Control(L"Static", panel, WS_CHILD | WS_VISIBLE);
        HWND commandLine = windows.Control(L"Edit", panel, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL);
        HWND later = windows.Control(L"Edit", commander, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL);
        JumpToFolder(commander, folder.c_str());
        EXPECT_EQ(commandLine, ::GetFocus());
        ASSERT_TRUE(dvtest::WaitFor([&] { return EnterArrivedWith(commandLine, L"cd " + folder + L"\\"); }));
        EXPECT_TRUE(LogOf(later).empty());

        // A namespace path is not typed.
        size_t before = LogOf(commandLine).size();
        JumpToFolder(commander, kComputer);
        navtest::Pump();
        EXPECT_EQ(before, LogOf(commandLine).size());
        EXPECT_EQ(L"cd " + folder + L"\\", Text(commandLine));
    }
}

TEST_F(Navigation, FolderBrowserTreesSelectByItemIdList) {
    HWND dialog = windows.Make(L"DvNavDialog");
    HWND control = windows.Make(L"SHBrowseForFolder ShellNameSpace Control", dialog);
    HWND tree = windows.Control(L"SysTreeView32", control, WS_CHILD | WS_VISIBLE);
    dvtest::ScratchFolder scratch(L"dvnav-picker");
    std::wstring folder = scratch.MakeFolder(L"Pick Me");

    JumpToFolder(tree, folder.c_str());
    JumpToFolder(tree, kComputer);  // namespace paths are selected too
    JumpToFolder(tree, (scratch / L"Missing").c_str());
    auto log = LogOf(dialog);
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(UINT(BFFM_SETSELECTIONW), log[0].message);
    EXPECT_EQ(0u, log[0].wParam);  // an item identifier list, not a path
    EXPECT_EQ(folder, log[0].text);
    EXPECT_EQ(0, ::lstrcmpiW(kComputer, log[1].text.c_str()));
}
