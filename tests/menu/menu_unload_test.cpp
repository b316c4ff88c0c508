// The menu images of the registered DLL: made once per process and shared by every handler, and
// gone with the DLL when the process frees its unused libraries.
#include "common/resource_counts.h"
#include "common/test_support.h"
#include "common/shell_objects.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <vector>

using namespace dv;

namespace {

const CLSID kClsid = {0x5E2A7C41, 0x3B9D, 0x4F08, {0xA6, 0xC2, 0x71, 0xD0, 0xE4, 0xB9, 0x8F, 0x35}};

// A handler asked for its menu, held until it goes out of scope.
struct BuiltMenu {
    com_ptr<IContextMenu> menu;
    unique_hmenu host{::CreatePopupMenu()};
    explicit BuiltMenu(PCIDLIST_ABSOLUTE folder) {
        com_ptr<IShellExtInit> init;
        ::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
        if (!init || FAILED(init->Initialize(folder, nullptr, nullptr))) return;
        menu = init.query<IContextMenu>();
        if (menu) menu->QueryContextMenu(host.get(), 0, 1, 0x7FFF, CMF_NORMAL);
    }
};

// Frees the DLL once nothing of it is in use (its background update check ends on its own).
bool DllUnloaded() {
    return dvtest::WaitFor([] {
        ::CoFreeUnusedLibrariesEx(0, 0);
        return !::GetModuleHandleW(L"Dirvane.dll");
    }, std::chrono::seconds(60));
}

TEST(MenuUnload, ImagesAreSharedAndGoWithTheDll) {
    ASSERT_EQ(dvtest::RunProcess(L"regsvr32.exe /s \"" + dvtest::DistFile(L"Dirvane.dll") + L"\""), 0u);
    {
        com_init com;
        ::LoadLibraryW(L"uxtheme.dll");  // as in Explorer: the product image is made with it
        dvtest::CleanProductKey clean;
        dvtest::ScratchFolder scratch(L"DirvaneUnload");
        unique_pidl folder = dvtest::ItemList(scratch.path());
        { BuiltMenu warmUp(folder.get()); }  // what the system keeps once any menu was built
        ASSERT_TRUE(DllUnloaded());
        const dvtest::ResourceCounts before = dvtest::CurrentResourceCounts();
        {
            BuiltMenu first(folder.get());
            ASSERT_TRUE(first.menu);
            const unsigned oneMenu = dvtest::CurrentResourceCounts().gdi;
            std::vector<std::unique_ptr<BuiltMenu>> more;
            for (int i = 0; i < 10; ++i) more.push_back(std::make_unique<BuiltMenu>(folder.get()));
            EXPECT_EQ(dvtest::CurrentResourceCounts().gdi, oneMenu) << "ten more handlers made images of their own";
        }
        ASSERT_TRUE(DllUnloaded());
        // The update check's thread may still be ending: its windows go with it a moment later.
        dvtest::ResourceCounts after;
        EXPECT_TRUE(dvtest::WaitFor([&] {
            after = dvtest::CurrentResourceCounts();
            return after.gdi <= before.gdi && after.user <= before.user;
        }, std::chrono::seconds(10))) << "GDI " << before.gdi << " -> " << after.gdi << ", USER " << before.user
                                      << " -> " << after.user;
    }
    dvtest::RunProcess(L"regsvr32.exe /s /u \"" + dvtest::DistFile(L"Dirvane.dll") + L"\"");
}

} // namespace
