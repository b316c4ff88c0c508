// The registered DLL through COM, as the shell uses it: one classic handler object per right-click,
// bookmarks seeded through the store, the add-on switches, and the fixture that registers the DLL.
// Shared by the tests of the classic menu and of the command tree.
#pragma once
#include "menu_support.h"
#include "common/product_ids.h"
#include "common/registry.h"
#include "common/resource_counts.h"
#include "common/shell_objects.h"
#include "common/test_support.h"
#include "common/text.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <functional>

namespace menutest {

using dv::com_init;
using dv::com_ptr;
using dv::unique_hkey;
using dv::unique_hmenu;
using dv::unique_pidl;
using dv::store::BookmarkItem;
using dv::store::BookmarkTreePtr;
using dv::store::LoadBookmarkTree;
using dv::store::ReleaseBookmarkTree;

inline const std::wstring kComputer = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
constexpr UINT kNone = 0xFFFF;

inline std::wstring Str(UINT id) {
    // The strings of the DLL, as a user sees them.
    static HMODULE dll = ::LoadLibraryExW(dvtest::DistFile(L"Dirvane.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(dll, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

inline bool SamePath(const std::wstring& a, const std::wstring& b) { return dv::EqualsFoldAZ(a.c_str(), b.c_str()); }

// One handler object, as the shell holds it for one right-click.
struct Menu {
    com_ptr<IShellExtInit> init;
    com_ptr<IContextMenu3> menu;
    unique_hmenu host{::CreatePopupMenu()};
    UINT first = 100;

    Menu() {
        ::CoCreateInstance(dvtest::kHandlerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
        if (init) menu = init.query<IContextMenu3>();
    }
    HRESULT Background(const std::wstring& folder) {
        unique_pidl list = dvtest::ItemList(folder);
        return init->Initialize(list.get(), nullptr, nullptr);
    }
    HRESULT Items(const std::wstring& folder, const std::vector<std::wstring>& names) {
        auto data = dvtest::ShellDataObject(folder, names);
        return data ? init->Initialize(nullptr, data.get(), nullptr) : E_FAIL;
    }
    HRESULT Drop(const std::vector<std::wstring>& paths) {
        return init->Initialize(nullptr, dvtest::DropDataObject(paths).get(), nullptr);
    }
    // The code part of the result: the number of identifiers used.
    UINT Query(UINT flags = CMF_NORMAL, UINT firstId = 100, UINT lastId = 0x7FFF) {
        first = firstId;
        HRESULT hr = menu->QueryContextMenu(host.get(), 0, firstId, lastId, flags);
        EXPECT_TRUE(SUCCEEDED(hr));
        return HRESULT_CODE(hr);
    }
    // Builds the menu while window is in the foreground: tests running beside this one may raise
    // windows of their own at any time, so the build is repeated until the foreground held.
    UINT QueryWhileForeground(HWND window, UINT flags = CMF_NORMAL, UINT firstId = 100) {
        UINT used = 0;
        for (int attempt = 0; attempt < 5; ++attempt) {
            ::SetForegroundWindow(window);
            dvtest::WaitFor([window] { return ::GetForegroundWindow() == window; }, std::chrono::seconds(5));
            host.reset(::CreatePopupMenu());
            used = Query(flags, firstId);
            if (::GetForegroundWindow() == window) break;
        }
        return used;
    }
    std::vector<Row> Rows() const { return ReadMenu(host.get()); }
    UINT Offset(const std::wstring& caption) const {
        auto rows = Rows();
        const Row* row = Find(rows, caption);
        return row ? row->id - first : kNone;
    }
    HRESULT Invoke(UINT offset, HWND window = nullptr) {
        CMINVOKECOMMANDINFO info = {sizeof(info)};
        info.hwnd = window;
        info.lpVerb = MAKEINTRESOURCEA(offset);
        info.nShow = SW_SHOWNORMAL;
        return menu->InvokeCommand(&info);
    }
    std::wstring Help(UINT_PTR offset, UINT size = 260) {
        std::vector<wchar_t> buffer(size + 1, L'#');
        HRESULT hr = menu->GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(buffer.data()), size);
        return SUCCEEDED(hr) ? std::wstring(buffer.data()) : L"<failed>";
    }
};

struct Seed {
    BookmarkTreePtr tree = LoadBookmarkTree();
    ~Seed() { ReleaseBookmarkTree(tree); }
    const BookmarkItem* Add(const std::wstring& address, const std::wstring& caption, UINT color = 0,
                            const BookmarkItem* parent = nullptr) {
        const BookmarkItem* item = parent ? tree->Add(*parent, address.c_str(), caption.c_str())
                                          : tree->AddBookmark(address.c_str(), caption.c_str());
        if (color) tree->SetColor(*item, color);
        return item;
    }
};

inline void SetAddOns(DWORD notepad, DWORD runCmd, DWORD copy) {
    unique_hkey key = dv::CreateRegKey(HKEY_CURRENT_USER, dv::store::kAddOnsKeyPath);
    dv::WriteRegDword(key.get(), L"NotepadView", notepad);
    dv::WriteRegDword(key.get(), L"RunCmd", runCmd);
    dv::WriteRegDword(key.get(), L"CopyToClipboard", copy);
}

// The bookmarks of the leak checks: a colour, a separator, and a submenu with a child.
inline void SeedLeakCheckTree() {
    Seed seed;
    seed.Add(L"C:\\Red", L"Red", 2);
    seed.Add(L"", L"-");
    const BookmarkItem* group = seed.Add(L"C:\\Group", L"Group", 7);
    seed.Add(L"C:\\Group\\Child", L"Child", 9, group);
}

// Runs one right-click's cycle 20 times, then 1,000 times, and expects no more GDI objects, USER
// objects and kernel handles after them than before. Each cycle may start a background update
// check; its thread and what it holds go away when the check ends on its own, which the DLL's
// unload answer tells, and Wine may take a moment more to free them.
inline void ExpectNoGrowthOverAThousand(const std::function<void()>& cycle) {
    auto checksEnded = [] {
        auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"Dirvane.dll"), "DllCanUnloadNow"));
        return canUnload && canUnload() == S_OK;
    };
    for (int i = 0; i < 20; ++i) cycle();
    ASSERT_TRUE(dvtest::WaitFor(checksEnded, std::chrono::seconds(60)));
    const dvtest::ResourceCounts before = dvtest::CurrentResourceCounts();
    for (int i = 0; i < 1000; ++i) cycle();
    ASSERT_TRUE(dvtest::WaitFor(checksEnded, std::chrono::seconds(60)));
    // A leak shows as growth; Wine may free an object of its own in between, so fewer is fine.
    dvtest::ResourceCounts after;
    EXPECT_TRUE(dvtest::WaitFor([&] {
        after = dvtest::CurrentResourceCounts();
        return after.gdi <= before.gdi && after.user <= before.user && after.kernel <= before.kernel;
    }, std::chrono::seconds(10))) << "GDI " << before.gdi << " -> " << after.gdi << ", USER " << before.user << " -> "
                                  << after.user << ", kernel " << before.kernel << " -> " << after.kernel;
}

class MenuCom : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(dvtest::RunProcess(L"regsvr32.exe /s \"" + dvtest::DistFile(L"Dirvane.dll") + L"\""), 0u);
        // Explorer has the theme library loaded; the product image is made with it.
        ::LoadLibraryW(L"uxtheme.dll");
    }
    static void TearDownTestSuite() {
        dvtest::RunProcess(L"regsvr32.exe /s /u \"" + dvtest::DistFile(L"Dirvane.dll") + L"\"");
    }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.result())); }

    com_init com_;
    dvtest::CleanProductKey clean_;
    dvtest::ScratchFolder scratch_{L"DirvaneMenu"};
};

} // namespace menutest
