// Initialize with real shell objects of Wine: what the handler makes of the shell's input.
#include "menu/context_menu.h"
#include "common/system.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include <gtest/gtest.h>
#include <shlobj.h>

using dv::menu::CDirvaneContextMenu;
using dv::menu::DisplayNameOf;

using namespace dv;
using Paths = std::vector<std::wstring>;

namespace {

class Selection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        handler_ = new ComObject<CDirvaneContextMenu>();
        owner_ = com_ptr<IShellExtInit>(handler_);
    }
    HRESULT InitWith(IDataObject* data) { return handler_->Initialize(nullptr, data, nullptr); }

    com_init com_;
    dvtest::ScratchFolder scratch_{L"DirvaneSelection"};
    CDirvaneContextMenu* handler_ = nullptr;
    com_ptr<IShellExtInit> owner_;
};

TEST_F(Selection, BackgroundClickSelectsTheFolderItself) {
    std::wstring folder = scratch_.MakeFolder(L"Reports");
    unique_pidl list = dvtest::ItemList(folder);
    ASSERT_EQ(handler_->Initialize(list.get(), nullptr, nullptr), S_OK);
    EXPECT_EQ(handler_->Selection(), Paths{folder});
    EXPECT_EQ(handler_->SelectionCount(), 1u);
    EXPECT_TRUE(handler_->OwnPathOnly());
    EXPECT_STREQ(handler_->DisplayName(), L"Reports");

    // With a data object as well, the folder wins and the data object is not looked at.
    auto data = dvtest::DropDataObject({L"C:\\elsewhere"});
    ASSERT_EQ(handler_->Initialize(list.get(), data.get(), nullptr), S_OK);
    EXPECT_EQ(handler_->Selection(), Paths{folder});
    EXPECT_FALSE(handler_->OwnPathOnly());
}

TEST_F(Selection, OneFileKeepsItsPathAndTwoFilesStandForTheirFolder) {
    std::wstring data = scratch_.MakeFolder(L"Data");
    std::wstring a = scratch_.MakeFile(L"Data\\a.txt"), b = scratch_.MakeFile(L"Data\\b.txt");

    ASSERT_EQ(InitWith(dvtest::ShellDataObject(data, {L"a.txt"}).get()), S_OK);
    EXPECT_STREQ(handler_->FirstPath(), a.c_str());
    EXPECT_STREQ(handler_->DisplayName(), L"Data");
    EXPECT_FALSE(handler_->OwnPathOnly());

    ASSERT_EQ(InitWith(dvtest::ShellDataObject(data, {L"a.txt", L"b.txt"}).get()), S_OK);
    EXPECT_EQ(handler_->Selection(), Paths{data});
    EXPECT_EQ(handler_->SelectionCount(), 1u);
}

TEST_F(Selection, FoldersAreSortedDescendingWithoutCaseDuplicates) {
    std::wstring alpha = scratch_.MakeFolder(L"Alpha"), beta = scratch_.MakeFolder(L"Beta");
    ASSERT_EQ(InitWith(dvtest::ShellDataObject(scratch_.path(), {L"Alpha", L"Beta"}).get()), S_OK);
    EXPECT_EQ(handler_->Selection(), (Paths{beta, alpha}));
    EXPECT_STREQ(handler_->FirstPath(), beta.c_str());

    // Only A-Z fold: "C:\DATA" and "c:\data" are one entry, "É" and "é" are two.
    // With two or more entries, what is not an existing folder stands for its parent.
    ASSERT_EQ(InitWith(dvtest::DropDataObject({L"C:\\Data\\x", L"c:\\DATA\\y", L"C:\\\x00C9t\x00E9\\x",
                                               L"C:\\\x00E9t\x00E9\\y"}).get()),
              S_OK);
    ASSERT_EQ(handler_->SelectionCount(), 3u);
    EXPECT_EQ(handler_->Selection()[0], L"C:\\\x00E9t\x00E9");
    EXPECT_EQ(handler_->Selection()[1], L"C:\\\x00C9t\x00E9");
    EXPECT_EQ(CompareFoldAZ(handler_->Selection()[2].c_str(), L"c:\\data"), 0);
}

TEST_F(Selection, DriveRootAndTheComputerFolder) {
    ASSERT_EQ(InitWith(dvtest::ShellDataObject(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", {L"C:\\"}).get()), S_OK);
    EXPECT_STREQ(handler_->FirstPath(), L"C:\\");

    // The Computer item keeps its namespace path, while a file beside it stands for its folder.
    wchar_t desktop[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop)));
    std::wstring file = std::wstring(desktop) + L"\\dirvane-selection.txt";
    { dv::unique_hfile f(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)); }
    // The shell offers no file drop list when a virtual folder is selected: the item lists are read.
    auto data = dvtest::WithoutDropList(
        dvtest::DesktopDataObject({L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", L"dirvane-selection.txt"}));
    ASSERT_TRUE(data);
    HRESULT hr = InitWith(data.get());
    ::DeleteFileW(file.c_str());
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(handler_->SelectionCount(), 2u);
    EXPECT_EQ(CompareFoldAZ(handler_->Selection()[0].c_str(), desktop), 0);
    EXPECT_EQ(CompareFoldAZ(handler_->Selection()[1].c_str(), L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}"), 0);
}

TEST_F(Selection, FailureCodes) {
    EXPECT_EQ(handler_->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(InitWith(dvtest::DropDataObject({}, false).get()), E_INVALIDARG);
    EXPECT_EQ(InitWith(dvtest::DropDataObject({}).get()), E_FAIL);
    EXPECT_TRUE(handler_->Selection().empty());
    EXPECT_STREQ(handler_->FirstPath(), L"");
}

// Paths of item lists are remembered for a moment: lists that differ in one byte, or only in length,
// must still give their own paths, again and again.
TEST_F(Selection, RememberedPathsBelongToTheirOwnItemLists) {
    const Paths folders = {scratch_.MakeFolder(L"Ab"), scratch_.MakeFolder(L"Ac"), scratch_.MakeFolder(L"Abc")};
    for (int round = 0; round < 2; ++round) {
        for (const std::wstring& folder : folders) {
            wchar_t path[kMaxText];
            ASSERT_TRUE(dv::menu::PathFromItemIdList(dvtest::ItemList(folder).get(), path));
            EXPECT_EQ(path, folder);
        }
    }
    wchar_t path[kMaxText];
    EXPECT_FALSE(dv::menu::PathFromItemIdList(nullptr, path));
}

TEST(Shared, VersionFactsOfThisSystemAndModule) {
    EXPECT_TRUE(IsVistaOrLater());    // Wine reports 6.1 unless told otherwise
    EXPECT_FALSE(IsPreXpWindows());
    // This program carries the DLL's version block.
    EXPECT_EQ(GetModuleVersionString(nullptr), L"2.0.0.26");
}

TEST(Shared, DisplayNameOfNamespacePathsAndFiles) {
    wchar_t name[kMaxText];
    DisplayNameOf(L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", name);
    EXPECT_STRNE(name, L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    EXPECT_STRNE(name, L"");
    DisplayNameOf(L"C:\\no\\such\\folder\\file.txt", name);  // nothing exists: only the last part goes
    EXPECT_STREQ(name, L"C:\\no\\such\\folder");
}

} // namespace
