// The menu model's entries for given trees, selections and requests, and the handler's answers
// that rest on them (owner draw, the update seam, the removal question).
#include "menu_support.h"
#include "ui/removal.h"
#include "menu/context_menu.h"
#include "menu/menu_model.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include <gtest/gtest.h>

using dv::store::AddOnFlags;
using dv::store::BookmarkItem;
using dv::store::BookmarkTreePtr;
using dv::store::LoadBookmarkTree;
using dv::store::ReleaseBookmarkTree;
using dv::ui::ConfirmRemoval;
using dv::menu::BuildMenuModel;
using dv::menu::CDirvaneContextMenu;
using dv::menu::EntryKind;
using dv::menu::ImageKind;
using dv::menu::ImageStyle;
using dv::menu::MenuEntry;
using dv::menu::MenuModel;
using dv::menu::MenuRequest;
using dv::menu::MenuSelection;
using dv::menu::kHostMenu;

using namespace dv;
using namespace menutest;

namespace {

// One entry in a line: "offset kind parent/depth caption colour target image/use [grey]".
std::wstring Line(const MenuEntry& e) {
    static const wchar_t* const kinds[] = {L"bookmark", L"folder", L"bookmark-line", L"empty", L"line", L"bookmark-cmd",
                                           L"properties", L"update", L"top", L"editor", L"copy", L"prompt"};
    static const wchar_t* const images[] = {L"", L"product", L"update", L"swatch", L"classic", L"editor", L"copy", L"prompt"};
    static const wchar_t* const uses[] = {L"", L"/item", L"/drawn", L"/mark"};
    std::wstring line = std::to_wstring(e.offset) + L" " + kinds[int(e.kind)] + L" " +
                        (e.parent == kHostMenu ? L"host" : std::to_wstring(e.parent)) + L"/" + std::to_wstring(e.depth);
    if (!e.caption.empty()) line += L" '" + e.caption + L"'";
    if (e.colorIndex) line += L" c" + std::to_wstring(e.colorIndex);
    if (!e.target.empty()) line += L" ->" + e.target;
    if (e.image != ImageKind::None) line += std::wstring(L" ") + images[int(e.image)] + uses[int(e.imageUse)];
    if (!e.enabled) line += L" grey";
    return line;
}

std::vector<std::wstring> Lines(const MenuModel& model) {
    std::vector<std::wstring> lines;
    for (const MenuEntry& entry : model.entries) lines.push_back(Line(entry));
    return lines;
}

std::wstring Joined(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\n";
    return text;
}

class MenuModelTest : public ::testing::Test {
protected:
    // A tree of the store: "-" is a separator, a name followed by ":" and a digit has that colour,
    // and a ">" before a name puts it under the last item of the level above.
    void Seed(std::initializer_list<const wchar_t*> items) {
        BookmarkTreePtr tree = LoadBookmarkTree();
        const BookmarkItem* last = nullptr;
        const BookmarkItem* parent = nullptr;
        for (std::wstring item : items) {
            const bool nested = item[0] == L'>';
            if (nested) item.erase(0, 1);
            else parent = nullptr;
            if (nested && !parent) parent = last;
            UINT color = 0;
            if (item.size() > 2 && item[item.size() - 2] == L':') {
                color = item.back() - L'0';
                item.resize(item.size() - 2);
            }
            const std::wstring address = item == L"-" ? L"" : L"C:\\" + item;
            last = parent ? tree->Add(*parent, address.c_str(), item.c_str()) : tree->AddBookmark(address.c_str(), item.c_str());
            if (color) tree->SetColor(*last, color);
        }
        ReleaseBookmarkTree(tree);
    }
    void Select(std::vector<std::wstring> paths, const wchar_t* name) {
        selection_.paths = paths;
        CopyText(selection_.firstPath, kMaxText, paths.front().c_str());
        CopyText(selection_.displayName, kMaxText, name);
        selection_.count = static_cast<UINT>(paths.size());
    }
    MenuModel Build() {
        BookmarkTreePtr tree = LoadBookmarkTree();
        MenuModel model = BuildMenuModel(tree ? &tree->root : nullptr, selection_, request_);
        ReleaseBookmarkTree(tree);
        return model;
    }

    dvtest::CleanProductKey clean_;
    MenuSelection selection_;
    MenuRequest request_{100, 0x7FFF, CMF_NORMAL};
    void SetUp() override { Select({L"C:\\Work"}, L"Work"); }
};

TEST_F(MenuModelTest, WorkedExample) {
    Seed({L"Docs:2", L"-", L"Tools"});
    request_.addOns = AddOnFlags::NotepadView | AddOnFlags::RunCmd | AddOnFlags::CopyToClipboard;
    request_.foregroundOffersCopyPaths = true;
    MenuModel model = Build();
    EXPECT_EQ(Joined(Lines(model)), Joined({
        L"0 bookmark 6/1 'Docs' c2 ->C:\\Docs swatch/item",
        L"1 bookmark-line 6/1",
        L"2 bookmark 6/1 'Tools' ->C:\\Tools",
        L"3 line 6/1",
        L"4 bookmark-cmd 6/1 'Bookmark \"Work\"'",
        L"5 properties 6/1 'Properties...'",
        L"6 top host/0 'Dir&vane' product/item",
        L"7 copy host/0 'Copy paths to Clipboard' copy/mark",
        L"8 prompt host/0 'Command prompt from this folder' prompt/mark",
    }));
    EXPECT_EQ(model.jumpRange, 3u);
    EXPECT_EQ(model.WithId(106)->kind, EntryKind::Top);
    EXPECT_FALSE(model.AllBookmarked());
    EXPECT_FALSE(model.ownPathOnly);
    const std::pair<UINT, UINT> help[] = {{4, IDS_HELP_BOOKMARK}, {5, IDS_HELP_PROPERTIES}, {7, IDS_HELP_COPY_PATHS},
                                          {8, IDS_HELP_COMMAND_PROMPT}, {3, IDS_HELP_DEFAULT}, {6, IDS_HELP_DEFAULT},
                                          {9, IDS_HELP_DEFAULT}};
    for (auto [offset, id] : help) EXPECT_EQ(model.HelpText(offset), LoadResString(id)) << offset;
    EXPECT_EQ(model.HelpText(0), L"Jump to \"C:\\Docs\"");
    EXPECT_EQ(model.HelpText(1), L"Jump to \"\"");
}

TEST_F(MenuModelTest, NestingUpdateAndEmptyList) {
    Seed({L"Group:3", L">One", L">-", L">Two:5", L"Top"});
    request_.updateAvailable = true;
    EXPECT_EQ(Joined(Lines(Build())), Joined({
        L"0 folder 12/1 'Group' c3 ->C:\\Group swatch/item",
        L"1 bookmark 0/2 'Group' c3 ->C:\\Group swatch/item",
        L"2 bookmark-line 0/2",
        L"3 bookmark 0/2 'One' ->C:\\One",
        L"4 bookmark-line 0/2",
        L"5 bookmark 0/2 'Two' c5 ->C:\\Two swatch/item",
        L"6 bookmark 12/1 'Top' ->C:\\Top",
        L"7 line 12/1",
        L"8 bookmark-cmd 12/1 'Bookmark \"Work\"'",
        L"9 properties 12/1 'Properties...'",
        L"10 line 12/1",
        L"11 update 12/1 'Update Available!' update/item",
        L"12 top host/0 'Dir&vane' product/item",
    }));

    { dvtest::CleanProductKey emptied; }
    request_.updateAvailable = false;
    MenuModel empty = Build();
    ASSERT_EQ(empty.UsedIds(), 5u);
    EXPECT_EQ(Line(empty.entries[0]), L"0 empty 4/1 '(Empty List)' grey");
    EXPECT_EQ(empty.jumpRange, 0u);
}

TEST_F(MenuModelTest, ImagesPerWindowsGeneration) {
    Seed({L"Red:2", L"Plain"});
    request_.updateAvailable = true;
    request_.addOns = AddOnFlags::RunCmd;
    const std::pair<ImageStyle, const wchar_t*> styles[] = {
        {ImageStyle::OwnBitmap, L"swatch/item update/item product/item prompt/mark"},
        {ImageStyle::Callback, L"swatch/drawn update/drawn product/drawn prompt/mark"},
        {ImageStyle::CheckMarkOnly, L"swatch update classic/mark prompt/mark"},
    };
    for (auto [style, expected] : styles) {
        request_.imageStyle = style;
        std::wstring images;
        for (const MenuEntry& entry : Build().entries) {
            std::wstring line = Line(entry);
            size_t image = line.find_last_of(L' ');
            if (entry.image != ImageKind::None) images += (images.empty() ? L"" : L" ") + line.substr(image + 1);
        }
        EXPECT_EQ(images, expected);
    }
}

TEST_F(MenuModelTest, BookmarkCommandFollowsWhatIsBookmarked) {
    Seed({L"C", L"Reports"});
    struct Case {
        std::vector<std::wstring> paths;
        const wchar_t* caption;
        size_t toBookmark, toUnbookmark;
    } cases[] = {
        {{L"c:\\REPORTS"}, L"Unbookmark \"Work\"", 0, 1},
        {{L"C:\\Reports", L"C:\\C"}, L"Unbookmark \"Work\" + 1 more items", 0, 2},
        {{L"C:\\C", L"C:\\B", L"C:\\A"}, L"Bookmark \"Work\" + 1 more items", 2, 1},
        {{L"C:\\New"}, L"Bookmark \"Work\"", 1, 0},
    };
    for (const Case& c : cases) {
        Select(c.paths, L"Work");
        MenuModel model = Build();
        EXPECT_EQ(model.Find(EntryKind::BookmarkCommand)->caption, c.caption);
        EXPECT_EQ(model.toBookmark.size(), c.toBookmark) << c.caption;
        EXPECT_EQ(model.toUnbookmark.size(), c.toUnbookmark) << c.caption;
    }
    // A name too long for a caption loses its end, not the rest of the text.
    Select({L"C:\\New"}, std::wstring(300, L'n').c_str());
    const std::wstring caption = Build().Find(EntryKind::BookmarkCommand)->caption;
    EXPECT_EQ(caption.size(), kMaxText - 1);
    EXPECT_EQ(caption.substr(caption.size() - 3), L"n\x2026\"");
}

TEST_F(MenuModelTest, FlagsRangeAndAddOnConditions) {
    Seed({L"A", L"B", L"C", L"Group", L">One"});
    struct Case {
        UINT flags, lastId;
        DWORD addOns;
        bool file, foreground;
        const wchar_t* firstPath;
        UINT used;
        const wchar_t* hostEntries;
    } cases[] = {
        {CMF_DEFAULTONLY, 0x7FFF, 0, false, true, L"C:\\Work", 0, L""},
        {CMF_NOVERBS, 0x7FFF, 0, false, true, L"C:\\Work", 0, L""},
        {CMF_NOVERBS | CMF_EXPLORE, 0x7FFF, 0, false, true, L"C:\\Work", 11, L"top"},
        {CMF_NORMAL, 103, 0, false, true, L"C:\\Work", 0, L""},           // no room for one bookmark
        {CMF_NORMAL, 104, 0, false, true, L"C:\\Work", 5, L"top"},        // room for one
        {CMF_NORMAL, 0x7FFF, 0x111, true, true, L"C:\\Work\\a.txt", 14, L"top editor copy prompt"},
        {CMF_NORMAL, 0x7FFF, 0x111, false, false, L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", 11, L"top"},
    };
    for (const Case& c : cases) {
        request_.flags = c.flags;
        request_.lastId = c.lastId;
        request_.addOns = AddOnFlags(c.addOns);
        request_.firstPathIsFile = c.file;
        request_.foregroundOffersCopyPaths = c.foreground;
        Select({c.firstPath}, L"Work");
        MenuModel model = Build();
        std::wstring host;
        for (const MenuEntry& entry : model.entries) {
            if (entry.parent != kHostMenu) continue;
            std::wstring line = Line(entry);
            line = line.substr(line.find(L' ') + 1);
            host += (host.empty() ? L"" : L" ") + line.substr(0, line.find(L' '));
        }
        EXPECT_EQ(model.UsedIds(), c.used) << c.flags << " " << c.lastId;
        EXPECT_EQ(host, c.hostEntries) << c.flags << " " << c.lastId;
    }
    // A background menu copies the folder's own path.
    request_ = {100, 0x7FFF, CMF_CANRENAME, ImageStyle::OwnBitmap, AddOnFlags::CopyToClipboard, false, false, true};
    EXPECT_TRUE(Build().ownPathOnly);
}

// The handler with the update check and the manager answered by the test.
class Probe : public CDirvaneContextMenu {
public:
    bool update = false;
    int managerOpened = 0;
    bool managerWithUpdate = false;

protected:
    bool UpdateIsAvailable() override { return update; }
    void OpenManager(HWND, bool updateRequested) override {
        ++managerOpened;
        managerWithUpdate = updateRequested;
    }
};

TEST(MenuHandler, OwnerDrawAndTheUpdateItem) {
    com_init com;
    dvtest::CleanProductKey clean;
    dvtest::ScratchFolder scratch{L"DirvaneMenuModel"};
    {
        BookmarkTreePtr tree = LoadBookmarkTree();
        tree->SetColor(*tree->AddBookmark(L"C:\\Red", L"Red"), 2);
        tree->AddBookmark(L"C:\\Plain", L"Plain");
        ReleaseBookmarkTree(tree);
    }
    auto* probe = new ComObject<Probe>();
    com_ptr<IContextMenu3> owner(probe);
    unique_pidl list = dvtest::ItemList(scratch.MakeFolder(L"Work"));
    ASSERT_EQ(probe->Initialize(list.get(), nullptr, nullptr), S_OK);
    auto measure = [&](UINT id, MEASUREITEMSTRUCT& m) {
        m = {ODT_MENU, 0, id, 30, 12, 0};
        LRESULT result = 7;
        EXPECT_EQ(probe->HandleMenuMsg2(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&m), &result), S_OK);
        return result;
    };
    MEASUREITEMSTRUCT m;
    EXPECT_EQ(measure(100, m), 0) << "no menu built yet";
    probe->update = true;
    unique_hmenu host(::CreatePopupMenu());
    EXPECT_EQ(HRESULT_CODE(probe->QueryContextMenu(host.get(), 0, 100, 0x7FFF, CMF_NORMAL)), 8u);
    // The top-level item, the update item and coloured bookmarks are measured; nothing else.
    for (UINT id : {107u, 106u, 100u}) {
        EXPECT_EQ(measure(id, m), TRUE) << id;
        EXPECT_EQ(m.itemWidth, 32u);
        EXPECT_EQ(m.itemHeight, 16u);
    }
    for (UINT id : {101u, 103u, 104u, 105u, 99u}) EXPECT_EQ(measure(id, m), 0) << id;
    EXPECT_EQ(probe->HandleMenuMsg(WM_MEASUREITEM, 0, 0), S_OK);
    LRESULT result = 5;
    EXPECT_EQ(probe->HandleMenuMsg2(WM_INITMENUPOPUP, 0, 0, &result), S_OK);
    EXPECT_EQ(result, 0);
    DRAWITEMSTRUCT draw = {};
    draw.CtlType = ODT_BUTTON;
    draw.itemID = 107;
    EXPECT_EQ(probe->HandleMenuMsg2(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw), &result), S_OK);
    EXPECT_EQ(result, 0);

    // The update item opens the manager with its update check; Properties... without it.
    CMINVOKECOMMANDINFO info = {sizeof(info)};
    info.lpVerb = MAKEINTRESOURCEA(6);
    EXPECT_EQ(probe->InvokeCommand(&info), S_OK);
    EXPECT_EQ(probe->managerOpened, 1);
    EXPECT_TRUE(probe->managerWithUpdate);
    info.lpVerb = MAKEINTRESOURCEA(probe->Model().Find(EntryKind::Properties)->offset);
    EXPECT_EQ(probe->InvokeCommand(&info), S_OK);
    EXPECT_EQ(probe->managerOpened, 2);
    EXPECT_FALSE(probe->managerWithUpdate);

    // A second build on the same object replaces the first one's model.
    host.reset(::CreatePopupMenu());
    EXPECT_EQ(HRESULT_CODE(probe->QueryContextMenu(host.get(), 0, 10, 0x7FFF, CMF_DEFAULTONLY)), 0u);
    EXPECT_EQ(probe->Model().UsedIds(), 0u);
    EXPECT_EQ(measure(107, m), 0);
}

TEST(MenuHandler, RemovalQuestionShowsANameOfAnyLength) {
    std::wstring name(400, L'q');
    name += L"END";
    Answerer answerer(L"Remove Item - Dirvane", IDNO);
    EXPECT_FALSE(ConfirmRemoval(nullptr, name.c_str()));
    ASSERT_TRUE(answerer.Answered());
    EXPECT_NE(answerer.Text().find(name + L"\" from Dirvane Bookmarks?"), std::wstring::npos);
}

} // namespace
