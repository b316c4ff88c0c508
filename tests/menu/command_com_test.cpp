// The command tree of Windows 11's first-level menu, through COM as the shell uses it: the same
// entries as the classic menu for the same bookmarks and selection, its invocation with and
// without a site, and no objects left behind.
#include "menu_com.h"
#include "common/test_com.h"
#include <shlguid.h>
#include <shlwapi.h>
#include <algorithm>
#include <functional>

using namespace dv;
using namespace menutest;

namespace {

// One command of the tree as the shell sees it, depth first from the top-level command (depth 0).
struct Node {
    int depth = 0;
    std::wstring title, icon, tip;
    bool separator = false, disabled = false, submenu = false;
    com_ptr<IExplorerCommand> command;
};

// A text the command hands out (the caller frees it); empty when it gives none.
template <class Getter>
std::wstring TextOf(Getter getter) {
    LPWSTR text = nullptr;
    const HRESULT hr = getter(&text);
    std::wstring taken = SUCCEEDED(hr) && text ? text : L"";
    ::CoTaskMemFree(text);
    return taken;
}

// Walks the tree of the top-level command whose state has been asked for.
std::vector<Node> Walk(IExplorerCommand* top) {
    std::vector<Node> nodes;
    std::function<void(IExplorerCommand*, int)> visit = [&](IExplorerCommand* command, int depth) {
        Node node;
        node.depth = depth;
        node.command = com_ptr<IExplorerCommand>(command);
        node.title = TextOf([&](LPWSTR* text) { return command->GetTitle(nullptr, text); });
        node.icon = TextOf([&](LPWSTR* text) { return command->GetIcon(nullptr, text); });
        node.tip = TextOf([&](LPWSTR* text) { return command->GetToolTip(nullptr, text); });
        EXPCMDFLAGS flags = 0;
        EXPECT_EQ(command->GetFlags(&flags), S_OK);
        EXPCMDSTATE state = ECS_ENABLED;
        if (depth > 0) EXPECT_EQ(command->GetState(nullptr, FALSE, &state), S_OK);
        node.separator = (flags & ECF_ISSEPARATOR) != 0;
        node.submenu = (flags & ECF_HASSUBCOMMANDS) != 0;
        node.disabled = (state & ECS_DISABLED) != 0;
        nodes.push_back(node);
        if (!node.submenu) return;
        com_ptr<IEnumExplorerCommand> children;
        EXPECT_EQ(command->EnumSubCommands(children.put()), S_OK) << node.title;
        for (com_ptr<IExplorerCommand> child; children && children->Next(1, child.put(), nullptr) == S_OK;)
            visit(child.get(), depth + 1);
    };
    visit(top, 0);
    return nodes;
}

// What both renderers show, the same way: titles without accelerators, nesting, state, images.
struct Shown {
    int depth;
    std::wstring title;
    bool separator, disabled, submenu, image;
};

// One line an entry, for comparing and for reading a failure.
std::string Describe(const std::vector<Shown>& shown) {
    std::wstring text;
    for (const Shown& s : shown)
        text += std::wstring(s.depth * 2, L' ') + (s.separator ? L"----" : s.title) + (s.disabled ? L" disabled" : L"") +
                (s.submenu ? L" >" : L"") + (s.image ? L" image" : L"") + L"\n";
    return std::string(text.begin(), text.end());  // the cases' texts are ASCII
}

// The classic menu's rows as the tree maps them: the items beside "Dir&vane" (the add-ons) end its
// submenu there, after a line.
std::vector<Shown> FromClassic(const std::vector<Row>& rows) {
    std::vector<Shown> shown;
    bool addOns = false;
    for (const Row& row : rows) {
        std::wstring title = row.text;
        title.erase(std::remove(title.begin(), title.end(), L'&'), title.end());
        int depth = row.depth;
        if (depth == 0 && title != L"Dirvane") {
            if (!addOns) shown.push_back({1, L"", true, false, false, false});
            addOns = true;
            depth = 1;
        }
        shown.push_back({depth, title, row.separator, row.grayed, row.submenu, row.image != nullptr});
    }
    return shown;
}

std::vector<Shown> FromTree(const std::vector<Node>& nodes) {
    std::vector<Shown> shown;
    for (const Node& node : nodes)
        shown.push_back({node.depth, node.title, node.separator, node.disabled, node.submenu, !node.icon.empty()});
    return shown;
}

// An item array of full paths, as the shell hands it to a command.
com_ptr<IShellItemArray> ItemArray(const std::vector<std::wstring>& paths) {
    std::vector<unique_pidl> lists;
    std::vector<PCIDLIST_ABSOLUTE> raw;
    for (const std::wstring& path : paths) {
        lists.push_back(dvtest::ItemList(path));
        raw.push_back(lists.back().get());
    }
    com_ptr<IShellItemArray> items;
    EXPECT_EQ(::SHCreateShellItemArrayFromIDLists(static_cast<UINT>(raw.size()), raw.data(), items.put()), S_OK);
    return items;
}

// A site that gives the shell's top-level browser, as an Explorer window does.
class SiteBase : public IServiceProvider {
public:
    static const QITAB* InterfaceTable() {
        static const QITAB table[] = {{&IID_IServiceProvider, 0}, {nullptr, 0}};
        return table;
    }
    IShellBrowser* browser = nullptr;
    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** out) override {
        *out = nullptr;
        if (service != SID_STopLevelBrowser || !browser) return E_NOINTERFACE;
        return browser->QueryInterface(iid, out);
    }
};
using Site = RefCountedUnknown<SiteBase, false>;  // the test's own object

// A browser that refuses to browse.
class RefusingBrowserBase : public dvtest::ShellBrowserStubs {
public:
    static const QITAB* InterfaceTable() {
        static const QITAB table[] = {{&IID_IShellBrowser, 0}, {nullptr, 0}};
        return table;
    }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_FAIL; }
    STDMETHODIMP QueryActiveShellView(IShellView** view) override {
        *view = nullptr;
        return E_FAIL;
    }
};
using RefusingBrowser = RefCountedUnknown<RefusingBrowserBase, false>;

// A refusing browser whose GetWindow fails and leaves a stray handle behind.
class StrayWindowBrowserBase : public RefusingBrowserBase {
public:
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF0F10));
        return E_FAIL;
    }
};
using StrayWindowBrowser = RefCountedUnknown<StrayWindowBrowserBase, false>;

// One right-click on the command tree: the top-level command asked for its state.
struct Tree {
    com_ptr<IExplorerCommand> top;
    EXPCMDSTATE state = ECS_HIDDEN;
    Tree(IShellItemArray* items, IUnknown* site = nullptr) {
        EXPECT_EQ(::CoCreateInstance(dvtest::kCommandClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IExplorerCommand,
                                     top.put_void()),
                  S_OK);
        if (!top) return;
        if (site) EXPECT_EQ(top.query<IObjectWithSite>()->SetSite(site), S_OK);
        EXPECT_EQ(top->GetState(items, TRUE, &state), S_OK);
    }
    std::vector<Node> Nodes() const { return top ? Walk(top.get()) : std::vector<Node>(); }
    // The command titled title; null when none.
    com_ptr<IExplorerCommand> Command(const std::wstring& title) const {
        for (const Node& node : Nodes())
            if (node.title == title) return node.command;
        return nullptr;
    }
};

class CommandCom : public MenuCom {};

enum class Pick { Background, Items };

struct TreeCase {
    const char* name;
    void (*seed)(Seed&, const std::wstring& scratch);
    DWORD notepad, runCmd;
    bool update;
    Pick pick;
    std::wstring folder;  // below the scratch folder
    std::vector<std::wstring> names;
};

TEST_F(CommandCom, OffersWhatTheClassicMenuOffersInTheSameOrder) {
    const TreeCase cases[] = {
        {"empty tree, a folder's background", nullptr, 0, 0, false, Pick::Background, L"Work", {}},
        {"flat tree with a separator, add-ons",
         [](Seed& s, const std::wstring& root) {
             s.Add(root + L"\\Docs", L"Docs", 2);
             s.Add(L"", L"-");
             s.Add(root + L"\\Tools", L"Tools", 0);
         },
         1, 1, false, Pick::Background, L"Work", {}},
        {"nested bookmarks, two files for their folder",
         [](Seed& s, const std::wstring& root) {
             const BookmarkItem* group = s.Add(root + L"\\Group", L"Group", 3);
             s.Add(root + L"\\Group\\One", L"One", 0, group);
             s.Add(L"", L"-", 0, group);
             const BookmarkItem* two = s.Add(root + L"\\Group\\Two", L"Two", 5, group);
             s.Add(root + L"\\Group\\Two\\Grand", L"Grand", 0, two);
             s.Add(root + L"\\Top", L"Top");
         },
         1, 1, false, Pick::Items, L"Data", {L"a.txt", L"b.txt"}},
        {"a bookmarked folder, an update",
         [](Seed& s, const std::wstring& root) { s.Add(root + L"\\Data", L"Data", 10); }, 1, 0, true, Pick::Items, L"",
         {L"Data"}},
        {"one file for the editor", nullptr, 1, 1, false, Pick::Items, L"Data", {L"a.txt"}},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.name);
        dvtest::CleanProductKey clean;
        if (c.seed) {
            Seed seed;
            c.seed(seed, scratch_.path());
        }
        SetAddOns(c.notepad, c.runCmd, 0);
        if (c.update) dv::store::WriteUpdateState(true);
        const std::wstring folder = c.folder.empty() ? scratch_.path() : scratch_.MakeFolder(c.folder.c_str());
        std::vector<std::wstring> paths;
        for (const std::wstring& name : c.names)
            paths.push_back(name.find(L'.') != std::wstring::npos ? scratch_.MakeFile((c.folder + L"\\" + name).c_str())
                                                                   : scratch_.MakeFolder(name.c_str()));

        Menu classic;
        ASSERT_EQ(c.pick == Pick::Background ? classic.Background(folder) : classic.Items(folder, c.names), S_OK);
        classic.Query();
        BrowserWindow explorer;
        explorer.ShowSelection(folder, {});
        Site site;
        site.browser = explorer.browser();
        Tree tree(c.pick == Pick::Background ? nullptr : ItemArray(paths).get(), &site);

        ASSERT_EQ(tree.state, ECS_ENABLED);
        EXPECT_EQ(Describe(FromTree(tree.Nodes())), Describe(FromClassic(classic.Rows())));
    }
}

TEST_F(CommandCom, TitlesIconsTipsAndFlags) {
    const std::wstring docs = scratch_.MakeFolder(L"Docs");
    {
        Seed seed;
        seed.Add(docs, L"Docs && More", 7);
        seed.Add(docs, L"Plain");
    }
    dv::store::WriteUpdateState(true);
    Tree tree(ItemArray({scratch_.MakeFolder(L"Here")}).get());
    ASSERT_EQ(tree.state, ECS_ENABLED);
    auto nodes = tree.Nodes();
    ASSERT_GE(nodes.size(), 6u);
    const std::wstring dll = dvtest::DistFile(L"Dirvane.dll");
    EXPECT_EQ(nodes[0].title, L"Dirvane");
    EXPECT_TRUE(SamePath(nodes[0].icon, dll + L",-213")) << nodes[0].icon;
    EXPECT_EQ(nodes[1].title, L"Docs & More");
    EXPECT_TRUE(SamePath(nodes[1].icon, dll + L",-237")) << nodes[1].icon;
    EXPECT_EQ(nodes[1].tip, L"Jump to \"" + docs + L"\"");
    EXPECT_EQ(nodes[2].icon, L"") << "colour 0 has no icon";
    const Node& update = nodes.back();
    EXPECT_EQ(update.title, L"Update Available!");
    EXPECT_TRUE(SamePath(update.icon, dll + L",-218")) << update.icon;
    // Each icon the tree names is in the DLL.
    HMODULE resources = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    for (int id = 231; id <= 240; ++id) {
        unique_hicon icon(static_cast<HICON>(::LoadImageW(resources, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0)));
        EXPECT_TRUE(icon) << id;
    }
    ::FreeLibrary(resources);
    GUID name = GUID_NULL;
    EXPECT_EQ(tree.top->GetCanonicalName(&name), S_OK);
    EXPECT_NE(name, GUID_NULL);
}

// The classic menu adds nothing: no selection at all, an empty one, or one whose items cannot be
// read (a hostile array that claims four billion items fails at its first unreadable one).
TEST_F(CommandCom, HiddenWhereTheClassicMenuAddsNothing) {
    class FakeItemsBase : public IShellItemArray {
    public:
        static const QITAB* InterfaceTable() {
            static const QITAB table[] = {{&IID_IShellItemArray, 0}, {nullptr, 0}};
            return table;
        }
        DWORD count = 0;
        com_ptr<IShellItem> real;
        STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** out) override { *out = nullptr; return E_NOTIMPL; }
        STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** out) override { *out = nullptr; return E_NOTIMPL; }
        STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** out) override { *out = nullptr; return E_NOTIMPL; }
        STDMETHODIMP GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
        STDMETHODIMP GetCount(DWORD* n) override { *n = count; return S_OK; }
        STDMETHODIMP GetItemAt(DWORD i, IShellItem** item) override {
            *item = i < 2 && real ? real.get() : nullptr;
            if (*item) (*item)->AddRef();
            return *item ? S_OK : E_FAIL;
        }
        STDMETHODIMP EnumItems(IEnumShellItems** out) override { *out = nullptr; return E_NOTIMPL; }
    };
    using FakeItems = RefCountedUnknown<FakeItemsBase, false>;
    FakeItems empty, hostile;
    hostile.count = 0xFFFFFFFF;
    ::SHCreateItemFromParsingName(scratch_.path().c_str(), nullptr, IID_IShellItem, hostile.real.put_void());
    Site siteWithoutBrowser, showingAFolder;
    BrowserWindow explorer;
    explorer.ShowSelection(scratch_.MakeFolder(L"Shown"), {});
    showingAFolder.browser = explorer.browser();
    struct { const char* name; IShellItemArray* items; IUnknown* site; } const cases[] = {
        {"no items, no site", nullptr, nullptr},
        {"no items, a site without a browser", nullptr, &siteWithoutBrowser},
        {"no items", &empty, nullptr},
        {"an unreadable item", &hostile, nullptr},
        // Not the window's folder instead: Bookmark or Ctrl+copy would act on it.
        {"an unreadable item, a site showing a folder", &hostile, &showingAFolder},
    };
    for (const auto& c : cases) {
        Tree tree(c.items, c.site);
        EXPECT_EQ(tree.state, ECS_HIDDEN) << c.name;
        com_ptr<IEnumExplorerCommand> children;
        EXPECT_TRUE(FAILED(tree.top->EnumSubCommands(children.put()))) << c.name;
        EXPECT_FALSE(children);
    }
}

// A bookmark is shown in the site's window; without a usable site it opens in a new window. Ctrl
// copies the selection there, Ctrl+Shift moves it, after the question.
TEST_F(CommandCom, InvokingABookmark) {
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    const std::wstring name = L"DvCommandTarget" + pid;
    const std::wstring target = scratch_.MakeFolder(name.c_str()), source = scratch_.MakeFolder(L"Source");
    { Seed seed; seed.Add(target, L"Target"); }
    BrowserWindow explorer;
    Site recording, refusing, siteWithoutBrowser, stray;
    recording.browser = explorer.browser();
    RefusingBrowser refuser;
    refusing.browser = &refuser;
    StrayWindowBrowser strayBrowser;
    stray.browser = &strayBrowser;
    const struct {
        const char* name;
        IUnknown* site;
        bool ctrl, shift;
        int answer;          // to the copy or move question; 0: none is asked
        bool shownInPlace, newWindow, copied, moved;
    } cases[] = {
        {"a site", &recording, false, false, 0, true, false, false, false},
        {"no site", nullptr, false, false, 0, false, true, false, false},
        {"a site without a browser", &siteWithoutBrowser, false, false, 0, false, true, false, false},
        {"a browser that refuses", &refusing, false, false, 0, false, true, false, false},
        {"Ctrl, answered No", &recording, true, false, IDNO, true, false, false, false},
        {"Ctrl", &recording, true, false, IDYES, false, false, true, false},
        {"Ctrl+Shift", &recording, true, true, IDYES, false, false, false, true},
        {"Ctrl, a browser without a window", &stray, true, false, IDYES, false, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring file = scratch_.MakeFile(L"Source\\f.txt"), copy = target + L"\\f.txt";
        ::DeleteFileW(copy.c_str());
        const size_t browsedBefore = explorer.Browsed().size();
        dvtest::ShellWindowCloser closer(name);
        Tree tree(ItemArray({file}).get(), c.site);
        com_ptr<IExplorerCommand> bookmark = tree.Command(L"Target");
        ASSERT_TRUE(bookmark);
        {
            HeldKeys keys(c.ctrl, c.shift);
            Answerer answerer(L"Dirvane", c.answer ? c.answer : IDNO);
            EXPECT_EQ(bookmark->Invoke(nullptr, nullptr), S_OK);
            EXPECT_EQ(answerer.Answered(), c.answer != 0) << answerer.Text();
            if (c.answer)
                EXPECT_EQ(answerer.Text(), std::wstring(c.shift ? L"Move" : L"Copy") + L" \"" + file + L"\"\nto \"" + target + L"\"?");
        }
        EXPECT_EQ(explorer.Browsed().size(), browsedBefore + c.shownInPlace);
        if (c.shownInPlace) {
            EXPECT_TRUE(SamePath(explorer.Browsed().back(), target)) << explorer.Browsed().back();
            EXPECT_EQ(explorer.BrowseFlags().back(), UINT(SBSP_SAMEBROWSER | SBSP_ABSOLUTE));
        }
        EXPECT_EQ(dvtest::WaitFor([&] { return dvtest::FindForeignWindow(name) != nullptr; },
                                  std::chrono::milliseconds(c.newWindow ? 10000 : 300)),
                  c.newWindow);
        EXPECT_EQ(::PathFileExistsW(copy.c_str()) != FALSE, c.copied || c.moved);
        EXPECT_EQ(::PathFileExistsW(file.c_str()) != FALSE, !c.moved);
    }
}

// A bookmark that names a program (here a path too long for the trailing backslash that keeps the
// shell from starting it) opens no window and starts nothing, with or without a site.
TEST_F(CommandCom, ABookmarkToAProgramStartsNothing) {
    const std::wstring marker = scratch_.path() + L"\\Started";
    const size_t padding = 259 - scratch_.path().size() - 2 - wcslen(L"run.cmd");
    ASSERT_LT(padding, 256u);
    const std::wstring program = scratch_.MakeFile((std::wstring(padding, L'p') + L"\\run.cmd").c_str(),
                                                   ("mkdir \"" + std::string(marker.begin(), marker.end()) + "\"\r\n").c_str());
    ASSERT_EQ(program.size(), 259u);
    { Seed seed; seed.Add(program, L"Program"); }
    Site refusing;
    RefusingBrowser refuser;
    refusing.browser = &refuser;
    for (IUnknown* site : {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(&refusing)}) {
        ::RemoveDirectoryW(marker.c_str());
        Tree tree(ItemArray({scratch_.MakeFolder(L"Here")}).get(), site);
        com_ptr<IExplorerCommand> bookmark = tree.Command(L"Program");
        ASSERT_TRUE(bookmark);
        EXPECT_EQ(bookmark->Invoke(nullptr, nullptr), S_OK);
        EXPECT_FALSE(dvtest::WaitFor([&] { return ::PathIsDirectoryW(marker.c_str()) != FALSE; }, std::chrono::milliseconds(3000)))
            << (site ? "a browser that refuses" : "no site");
    }
}

// The fixed commands run the classic menu's code: Bookmark stores the selected folder, whose name
// is shown as it is ("&" included).
TEST_F(CommandCom, BookmarkCommandStoresTheSelection) {
    const std::wstring here = scratch_.MakeFolder(L"R&D");
    Tree tree(ItemArray({here}).get());
    com_ptr<IExplorerCommand> bookmark = tree.Command(L"Bookmark \"R&D\"");
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->Invoke(nullptr, nullptr), S_OK);
    BookmarkTreePtr stored = LoadBookmarkTree();
    ASSERT_EQ(stored->root.children.size(), 1u);
    EXPECT_TRUE(SamePath(stored->root.children[0]->address, here)) << stored->root.children[0]->address;
    ReleaseBookmarkTree(stored);
    EXPECT_EQ(tree.top->Invoke(nullptr, nullptr), E_NOTIMPL);  // it only opens its submenu
}

TEST_F(CommandCom, AThousandEnumerationsLeaveNoObjectsBehind) {
    SeedLeakCheckTree();
    SetAddOns(1, 1, 1);
    com_ptr<IShellItemArray> items = ItemArray({scratch_.MakeFolder(L"Leak")});
    BrowserWindow explorer;
    Site site;
    site.browser = explorer.browser();
    ExpectNoGrowthOverAThousand([&] { Tree(items.get(), &site).Nodes(); });
}

} // namespace
