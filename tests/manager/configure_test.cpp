// The DLL's Configure export, called as rundll32 calls it: on a thread without OLE, in a program
// whose own manifest asks for no version 6 controls.
#include "manager_driver.h"
#include "common/test_support.h"
#include "res/resource.h"
#include <gtest/gtest.h>

using namespace mgrtest;

namespace {

using ConfigureFunction = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

TEST(ConfigureExport, OpensTheManagerTwiceInARowEachSeeingTheLastState) {
    dvtest::CleanProductKey clean;
    dvtest::ScratchFolder scratch(L"mgr-configure");
    const std::wstring file = scratch.MakeFile(L"Pasted\\a.txt");
    SeedItem(L"1", L"C:\\windows", L"First", 1);
    dv::unique_hmodule dll(::LoadLibraryW(dvtest::DistFile(L"Dirvane.dll").c_str()));
    ASSERT_TRUE(dll);
    auto configure = reinterpret_cast<ConfigureFunction>(::GetProcAddress(dll.get(), "Configure"));
    ASSERT_TRUE(configure);
    auto run = [configure] { configure(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL); };

    {
        ManagerSession s(run, /*withOle=*/false);
        ASSERT_TRUE(s.window());
        HWND tree = s.control(IDC_BOOKMARK_TREE);
        EXPECT_EQ(Texts(ReadTree(tree)), std::vector<std::wstring>{L"First"});
        // The DLL's own manifest gives its dialogs the version 6 controls, which this program's
        // own windows do not get: only those buttons know their ideal size.
        SIZE ideal = {};
        EXPECT_TRUE(::SendMessageW(s.control(IDC_NEW), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
        dv::unique_hwnd plain(::CreateWindowExW(0, L"Button", L"x", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
        EXPECT_FALSE(::SendMessageW(plain.get(), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));

        // Configure gave the thread OLE: the Clipboard can be read for Paste from Explorer.
        ClipboardFiles clipboard;
        clipboard.Put({file});
        SelectNode(tree, nullptr);
        ::PostMessageW(s.window(), WM_COMMAND, ID_ACCEL_PASTE, 0);
        ASSERT_TRUE(dvtest::WaitFor([&] { return ReadTree(tree).size() == 2; }));
        EXPECT_EQ(ItemString(L"2", L"Title"), L"Pasted");

        ::SetWindowPos(s.window(), nullptr, 0, 0, 620, 480, SWP_NOMOVE | SWP_NOZORDER);
        ::PostMessageW(s.window(), WM_COMMAND, ID_FOLDER_EXIT, 0);
        ASSERT_TRUE(s.WaitEnded());
    }
    {
        ManagerSession s(run, /*withOle=*/false);
        ASSERT_TRUE(s.window());
        EXPECT_EQ(Texts(ReadTree(s.control(IDC_BOOKMARK_TREE))), (std::vector<std::wstring>{L"First", L"Pasted"}));
        RECT r;
        ::GetWindowRect(s.window(), &r);
        EXPECT_EQ(r.right - r.left, 620);
        EXPECT_EQ(r.bottom - r.top, 480);
        ::PostMessageW(s.window(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(s.WaitEnded());
    }
}

} // namespace
