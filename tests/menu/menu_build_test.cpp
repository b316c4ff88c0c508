// The handler's own state after building a menu, the update seam and the owner-draw answers.
#include "menu_support.h"
#include "menu/commands.h"
#include "menu/context_menu.h"
#include "common/registry.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include <gtest/gtest.h>

using namespace dv;
using namespace menutest;

namespace {

// The handler with its state in view and the update check answered by the test.
class Probe : public CDirvaneContextMenu {
public:
    bool update = false;
    int managerOpened = 0;          // how often the manager was asked for
    bool managerWithUpdate = false;  // ... and whether with its update check
    using CDirvaneContextMenu::allBookmarked;
    using CDirvaneContextMenu::bookmarkCmd;
    using CDirvaneContextMenu::bookmarkColors;
    using CDirvaneContextMenu::commandPromptCmd;
    using CDirvaneContextMenu::copyPathsCmd;
    using CDirvaneContextMenu::editorCmd;
    using CDirvaneContextMenu::jumpTargets;
    using CDirvaneContextMenu::nextId;
    using CDirvaneContextMenu::propertiesCmd;
    using CDirvaneContextMenu::topItemId;
    using CDirvaneContextMenu::updateCmd;
    using CDirvaneContextMenu::usedIds;

protected:
    bool UpdateIsAvailable() override { return update; }
    void OpenManager(HWND, bool updateRequested) override {
        ++managerOpened;
        managerWithUpdate = updateRequested;
    }
};

class MenuBuild : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        probe_ = new ComObject<Probe>();
        owner_ = com_ptr<IContextMenu3>(probe_);
        list_ = dvtest::ItemList(scratch_.MakeFolder(L"Work"));
        ASSERT_EQ(probe_->Initialize(list_.get(), nullptr, nullptr), S_OK);
    }
    UINT Query(UINT first = 100) { return HRESULT_CODE(probe_->QueryContextMenu(host_.get(), 0, first, 0x7FFF, CMF_NORMAL)); }
    LRESULT Measure(UINT id, MEASUREITEMSTRUCT& measure) {
        measure = {};
        measure.CtlType = ODT_MENU;
        measure.itemID = id;
        measure.itemWidth = 30;
        measure.itemHeight = 12;
        LRESULT result = 7;
        EXPECT_EQ(probe_->HandleMenuMsg2(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure), &result), S_OK);
        return result;
    }

    com_init com_;
    dvtest::CleanProductKey clean_;
    dvtest::ScratchFolder scratch_{L"DirvaneMenuBuild"};
    Probe* probe_ = nullptr;
    com_ptr<IContextMenu3> owner_;
    unique_pidl list_;
    unique_hmenu host_{::CreatePopupMenu()};
};

TEST_F(MenuBuild, WorkedExampleFields) {
    {
        BookmarkTreePtr tree = LoadBookmarkTree();
        tree->SetColor(*tree->AddBookmark(L"C:\\Docs", L"Docs"), 2);
        tree->AddBookmark(L"", L"-");
        tree->AddBookmark(L"C:\\Tools", L"Tools");
        ReleaseBookmarkTree(tree);
        unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, kAddOnsKeyPath);
        for (const wchar_t* name : {L"NotepadView", L"RunCmd", L"CopyToClipboard"}) WriteRegDword(key.get(), name, 1);
    }
    BrowserWindow explorer;
    ASSERT_TRUE(explorer.MakeForeground());
    EXPECT_EQ(Query(100), 9u);
    EXPECT_EQ(probe_->bookmarkCmd, 4u);
    EXPECT_EQ(probe_->propertiesCmd, 5u);
    EXPECT_EQ(probe_->topItemId, 106u);
    EXPECT_EQ(probe_->copyPathsCmd, 7u);
    EXPECT_EQ(probe_->commandPromptCmd, 8u);
    EXPECT_EQ(probe_->editorCmd, kNoCommand);
    EXPECT_EQ(probe_->updateCmd, kNoCommand);
    EXPECT_EQ(probe_->usedIds, 9u);
    EXPECT_EQ(probe_->nextId, 109u);
    EXPECT_FALSE(probe_->allBookmarked);
    EXPECT_EQ(probe_->jumpTargets, (std::vector<std::wstring>{L"C:\\Docs", L"", L"C:\\Tools"}));
    EXPECT_EQ(probe_->bookmarkColors, (std::map<UINT, UINT>{{100, 2}, {102, 0}}));

    // A second build on the same object replaces the first one's state.
    host_.reset(::CreatePopupMenu());
    EXPECT_EQ(HRESULT_CODE(probe_->QueryContextMenu(host_.get(), 0, 10, 0x7FFF, CMF_DEFAULTONLY)), 0u);
    EXPECT_EQ(probe_->bookmarkCmd, kNoCommand);
    EXPECT_EQ(probe_->copyPathsCmd, kNoCommand);
}

TEST_F(MenuBuild, UpdateItemAndOwnerDrawIdentification) {
    {
        BookmarkTreePtr tree = LoadBookmarkTree();
        tree->SetColor(*tree->AddBookmark(L"C:\\Red", L"Red"), 2);
        tree->AddBookmark(L"C:\\Plain", L"Plain");
        ReleaseBookmarkTree(tree);
    }
    MEASUREITEMSTRUCT measure;
    EXPECT_EQ(Measure(100, measure), 0) << "no menu built yet";
    probe_->update = true;
    EXPECT_EQ(Query(100), 8u);
    auto rows = ReadMenu(host_.get());
    ASSERT_EQ(rows.size(), 8u) << Describe(rows);
    EXPECT_TRUE(rows[6].separator);
    EXPECT_EQ(rows[7].text, L"Update Available!");
    EXPECT_EQ(rows[7].id, 106u);
    EXPECT_EQ(probe_->updateCmd, 6u);
    EXPECT_EQ(probe_->topItemId, 107u);

    // The top-level item, the update item and coloured bookmarks are measured; nothing else.
    for (UINT id : {107u, 106u, 100u}) {
        EXPECT_EQ(Measure(id, measure), TRUE) << id;
        EXPECT_EQ(measure.itemWidth, 32u);
        EXPECT_EQ(measure.itemHeight, 16u);
    }
    for (UINT id : {101u, 103u, 104u, 105u}) EXPECT_EQ(Measure(id, measure), 0) << id;
    EXPECT_EQ(probe_->HandleMenuMsg(WM_MEASUREITEM, 0, 0), S_OK);
    LRESULT result = 5;
    EXPECT_EQ(probe_->HandleMenuMsg2(WM_INITMENUPOPUP, 0, 0, &result), S_OK);
    EXPECT_EQ(result, 0);
    DRAWITEMSTRUCT draw = {};
    draw.CtlType = ODT_BUTTON;
    draw.itemID = 107;
    EXPECT_EQ(probe_->HandleMenuMsg2(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw), &result), S_OK);
    EXPECT_EQ(result, 0);

    // The update item opens the manager with its update check; Properties... without it.
    CMINVOKECOMMANDINFO info = {sizeof(info)};
    info.lpVerb = MAKEINTRESOURCEA(6);
    EXPECT_EQ(probe_->InvokeCommand(&info), S_OK);
    EXPECT_EQ(probe_->managerOpened, 1);
    EXPECT_TRUE(probe_->managerWithUpdate);
    info.lpVerb = MAKEINTRESOURCEA(probe_->propertiesCmd);
    EXPECT_EQ(probe_->InvokeCommand(&info), S_OK);
    EXPECT_EQ(probe_->managerOpened, 2);
    EXPECT_FALSE(probe_->managerWithUpdate);
}

TEST_F(MenuBuild, RemovalQuestionShowsANameOfAnyLength) {
    std::wstring name(400, L'q');
    name += L"END";
    Answerer answerer(L"Remove Item - Dirvane", IDNO);
    EXPECT_FALSE(ConfirmRemoval(nullptr, name.c_str()));
    ASSERT_TRUE(answerer.Answered());
    EXPECT_NE(answerer.Text().find(name + L"\" from Dirvane Bookmarks?"), std::wstring::npos);
}

} // namespace
