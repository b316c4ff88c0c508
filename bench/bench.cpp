// Benchmarks of the right-click path, the manager and the tool, each beside its floor: the bare
// system calls that the work cannot avoid, measured in the same process and run. Prints a table;
// the targets are printed beside the figures and never fail the run.
//
//   bench.exe [--quick]
#include "common/handles.h"
#include "common/registry.h"
#include "store/bookmarks.h"
#include "common/resource_counts.h"
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using dv::store::BookmarkItem;
using dv::store::BookmarkTreePtr;
using dv::store::LoadBookmarkTree;
using dv::store::kItemsKeyPath;

using namespace dv;

namespace {

const CLSID kHandlerClsid = {0x5E2A7C41, 0x3B9D, 0x4F08, {0xA6, 0xC2, 0x71, 0xD0, 0xE4, 0xB9, 0x8F, 0x35}};
constexpr wchar_t kProductKey[] = L"Software\\Ostrelan\\Dirvane";
bool g_quick = false;

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

double Now() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; ::QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Median seconds per call: a warm-up, then repetitions until the budget or the count is reached.
double Median(const std::function<void()>& work, double budgetSeconds = 0.6, int maxReps = 201) {
    if (g_quick) budgetSeconds /= 4;
    for (int i = 0; i < 3; ++i) work();
    std::vector<double> samples;
    double start = Now();
    while (static_cast<int>(samples.size()) < maxReps && (samples.size() < 7 || Now() - start < budgetSeconds)) {
        double t0 = Now();
        work();
        samples.push_back(Now() - t0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

std::string Micro(double seconds) {
    char text[32];
    if (seconds >= 0.01) snprintf(text, sizeof(text), "%8.2f ms", seconds * 1e3);
    else snprintf(text, sizeof(text), "%8.1f us", seconds * 1e6);
    return text;
}

// ---- the store's registry content -------------------------------------------------------------

void WriteItem(HKEY parent, unsigned name, unsigned order, const std::wstring& address, DWORD color, HKEY* out) {
    unique_hkey key = CreateRegKey(parent, std::to_wstring(name).c_str());
    WriteRegString(key.get(), L"Address", address.c_str());
    WriteRegString(key.get(), L"Title", (L"Bookmark " + std::to_wstring(name)).c_str());
    WriteRegDword(key.get(), L"Order", order);
    WriteRegDword(key.get(), L"ColorIndex", color);
    *out = key.release();
}

// N bookmarks, flat or nested three levels deep (top items with children with grandchildren).
void MakeTree(unsigned count, bool nested, const std::wstring& folder) {
    ::SHDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
    unique_hkey items = CreateRegKey(HKEY_CURRENT_USER, kItemsKeyPath);
    unique_hkey addOns = CreateRegKey(HKEY_CURRENT_USER, L"Software\\Ostrelan\\Dirvane\\AddOns");
    WriteRegDword(addOns.get(), L"NotepadView", 1);
    WriteRegDword(addOns.get(), L"RunCmd", 1);
    WriteRegDword(addOns.get(), L"CopyToClipboard", 1);
    // Today's update check is done, as after the first menu of the day: otherwise, with no network
    // here, every menu would start another check (reported apart, not part of these figures).
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    wchar_t day[16];
    swprintf(day, 16, L"%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
    unique_hkey product = CreateRegKey(HKEY_CURRENT_USER, kProductKey);
    WriteRegString(product.get(), L"UpdateLastCheck", day);
    unsigned made = 0;
    if (!nested) {
        for (unsigned i = 1; i <= count; ++i) {
            HKEY k;
            WriteItem(items.get(), i, i, folder, i % 11, &k);
            ::RegCloseKey(k);
        }
        return;
    }
    constexpr unsigned kFanOut = 3;
    for (unsigned top = 1; made < count; ++top) {
        HKEY topKey;
        WriteItem(items.get(), top, top, folder, top % 11, &topKey);
        ++made;
        for (unsigned c = 1; c <= kFanOut && made < count; ++c) {
            HKEY childKey;
            WriteItem(topKey, c, c, folder, c, &childKey);
            ++made;
            for (unsigned g = 1; g <= kFanOut && made < count; ++g) {
                HKEY grandKey;
                WriteItem(childKey, g, g, folder, g, &grandKey);
                ::RegCloseKey(grandKey);
                ++made;
            }
            ::RegCloseKey(childKey);
        }
        ::RegCloseKey(topKey);
    }
}

// The floor of one menu: the registry reads it needs, with bare calls.
void ReadItemsBare(HKEY key) {
    wchar_t name[260];
    for (DWORD index = 0;; ++index) {
        DWORD length = 260;
        if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY child;
        if (::RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        BYTE buffer[520];
        DWORD size = sizeof(buffer);
        ::RegQueryValueExW(child, L"Address", nullptr, nullptr, buffer, &size);
        size = sizeof(buffer);
        ::RegQueryValueExW(child, L"Title", nullptr, nullptr, buffer, &size);
        DWORD value, valueSize = 4;
        ::RegQueryValueExW(child, L"Order", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &valueSize);
        valueSize = 4;
        ::RegQueryValueExW(child, L"ColorIndex", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &valueSize);
        ReadItemsBare(child);
        ::RegCloseKey(child);
    }
}

void MenuRegistryFloor() {
    HKEY key;
    DWORD value, size;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Ostrelan\\Dirvane\\AddOns", 0, KEY_READ, &key) == 0) {
        for (const wchar_t* name : {L"NotepadView", L"RunCmd", L"CopyToClipboard"}) {
            size = 4;
            ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        }
        ::RegCloseKey(key);
    }
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kItemsKeyPath, 0, KEY_READ, &key) == 0) {
        ReadItemsBare(key);
        ::RegCloseKey(key);
    }
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) == 0) {
        size = 4;
        ::RegQueryValueExW(key, L"UpdateAvail", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        ::RegCloseKey(key);
    }
}

// The stricter floor of one menu: the same registry reads, and the same items inserted into a fresh
// popup menu with bare InsertMenuItemW, with images made once beforehand, then DestroyMenu.
struct FloorImages {
    HBITMAP product = nullptr;
    HBITMAP swatches[11] = {};
    HBITMAP marks[2] = {};  // copy paths, command prompt

    static HBITMAP Make(COLORREF color) {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB};
        void* bits = nullptr;
        HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap && bits) std::fill_n(static_cast<DWORD*>(bits), 16 * 16, 0xFF000000u | color);
        return bitmap;
    }
    FloorImages() {
        product = Make(0x3070C0);
        for (unsigned i = 0; i < 11; ++i) swatches[i] = Make(0x101010 * i);
        for (HBITMAP& mark : marks) mark = ::CreateBitmap(16, 16, 1, 1, nullptr);
    }
};

const FloorImages& SharedFloorImages() {
    static const FloorImages images;  // made before any timing: the path's images are shared too
    return images;
}

UINT g_floorId = 1;

bool InsertBare(HMENU menu, const wchar_t* caption, HBITMAP bitmap = nullptr, HMENU submenu = nullptr,
                bool separator = false, bool grayed = false, HBITMAP checkMark = nullptr) {
    MENUITEMINFOW info = {sizeof(info)};
    info.fMask = MIIM_ID | (separator ? MIIM_FTYPE : MIIM_STRING);
    info.wID = g_floorId++;
    info.fType = separator ? MFT_SEPARATOR : 0;
    info.dwTypeData = const_cast<wchar_t*>(caption);
    if (grayed) info.fMask |= MIIM_STATE, info.fState = MF_GRAYED;
    if (submenu) info.fMask |= MIIM_SUBMENU, info.hSubMenu = submenu;
    if (bitmap) info.fMask |= MIIM_BITMAP, info.hbmpItem = bitmap;
    if (checkMark) info.fMask |= MIIM_CHECKMARKS, info.hbmpUnchecked = checkMark;
    return ::InsertMenuItemW(menu, static_cast<UINT>(::GetMenuItemCount(menu)), TRUE, &info);
}

// Reads the items below key with the calls ReadItemsBare makes and inserts each into menu: an item
// with children opens a submenu that starts with the item itself and a separator. firstName is the
// name of key's first subkey when the caller listed it already.
void ReadAndInsertItemsBare(HKEY key, HMENU menu, const wchar_t* firstName = nullptr) {
    const FloorImages& images = SharedFloorImages();
    wchar_t name[260];
    for (DWORD index = 0;; ++index) {
        DWORD length = 260;
        if (index == 0 && firstName) wcscpy(name, firstName);
        else if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY child;
        if (::RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
        wchar_t address[260] = {}, title[260] = {};
        DWORD size = sizeof(address) - sizeof(wchar_t);
        ::RegQueryValueExW(child, L"Address", nullptr, nullptr, reinterpret_cast<BYTE*>(address), &size);
        size = sizeof(title) - sizeof(wchar_t);
        ::RegQueryValueExW(child, L"Title", nullptr, nullptr, reinterpret_cast<BYTE*>(title), &size);
        DWORD order = 0, color = 0, valueSize = 4;
        ::RegQueryValueExW(child, L"Order", nullptr, nullptr, reinterpret_cast<BYTE*>(&order), &valueSize);
        valueSize = 4;
        ::RegQueryValueExW(child, L"ColorIndex", nullptr, nullptr, reinterpret_cast<BYTE*>(&color), &valueSize);
        HBITMAP swatch = color != 0 && color < 11 ? images.swatches[color] : nullptr;
        wchar_t grandchild[260];
        length = 260;
        if (::RegEnumKeyExW(child, 0, grandchild, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            InsertBare(menu, title, swatch);
        } else {
            HMENU submenu = ::CreatePopupMenu();
            InsertBare(submenu, title, swatch);
            InsertBare(submenu, nullptr, nullptr, nullptr, true);
            ReadAndInsertItemsBare(child, submenu, grandchild);
            if (!InsertBare(menu, title, swatch, submenu)) ::DestroyMenu(submenu);
        }
        ::RegCloseKey(child);
    }
}

// The floor's menu; the caller destroys it.
HMENU BuildFloorMenu() {
    HKEY key;
    DWORD addOns[3] = {}, value, size;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Ostrelan\\Dirvane\\AddOns", 0, KEY_READ, &key) == 0) {
        int i = 0;
        for (const wchar_t* name : {L"NotepadView", L"RunCmd", L"CopyToClipboard"}) {
            size = 4;
            ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&addOns[i++]), &size);
        }
        ::RegCloseKey(key);
    }
    g_floorId = 1;
    HMENU host = ::CreatePopupMenu();
    HMENU top = ::CreatePopupMenu();
    int before = ::GetMenuItemCount(top);
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kItemsKeyPath, 0, KEY_READ, &key) == 0) {
        ReadAndInsertItemsBare(key, top);
        ::RegCloseKey(key);
    }
    if (::GetMenuItemCount(top) == before) InsertBare(top, L"(Empty List)", nullptr, nullptr, false, true);
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) == 0) {
        size = 4;
        ::RegQueryValueExW(key, L"UpdateAvail", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        ::RegCloseKey(key);
    }
    const FloorImages& images = SharedFloorImages();
    InsertBare(top, nullptr, nullptr, nullptr, true);
    InsertBare(top, L"Bookmark \"DirvaneBench\"");
    InsertBare(top, L"Properties...");
    if (!InsertBare(host, L"Dir&vane", images.product, top)) ::DestroyMenu(top);
    // The add-ons a folder's menu offers: copy paths and the command prompt (the editor needs a file).
    if (addOns[2]) InsertBare(host, L"Copy paths to Clipboard", nullptr, nullptr, false, false, images.marks[0]);
    if (addOns[1]) InsertBare(host, L"Command prompt from this folder", nullptr, nullptr, false, false, images.marks[1]);
    return host;
}

void MenuItemsFloor() { ::DestroyMenu(BuildFloorMenu()); }

// Items of a menu and its submenus, to check that the floor inserts as many items as the path.
int CountMenuItems(HMENU menu) {
    int count = ::GetMenuItemCount(menu), total = count;
    for (int i = 0; i < count; ++i)
        if (HMENU submenu = ::GetSubMenu(menu, i)) total += CountMenuItems(submenu);
    return total;
}

// Medians of several pieces of work measured in rounds, each round running every piece once in a
// rotating order, so that load on the machine hits them alike.
std::vector<double> InterleavedMedians(const std::vector<std::function<void()>>& works, double budgetSeconds,
                                       int maxRounds) {
    if (g_quick) budgetSeconds /= 4;
    for (const auto& work : works) work();
    std::vector<std::vector<double>> samples(works.size());
    const double start = Now();
    for (int round = 0; round < maxRounds && (round < 9 || Now() - start < budgetSeconds); ++round) {
        for (size_t k = 0; k < works.size(); ++k) {
            size_t which = (k + round) % works.size();
            double t0 = Now();
            works[which]();
            samples[which].push_back(Now() - t0);
        }
    }
    std::vector<double> medians;
    for (auto& list : samples) {
        std::sort(list.begin(), list.end());
        medians.push_back(list[list.size() / 2]);
    }
    return medians;
}

// ---- the right-click path ----------------------------------------------------------------------

struct Handler {
    com_ptr<IClassFactory> factory;
    unique_pidl folder;

    void RightClick() const { RightClickMenu(); }
    // The right-click path; returns the menu it filled.
    unique_hmenu RightClickMenu() const {
        unique_hmenu popup(::CreatePopupMenu());
        com_ptr<IShellExtInit> init;
        if (FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, init.put_void()))) return popup;
        init->Initialize(folder.get(), nullptr, nullptr);
        auto menu = init.query<IContextMenu>();
        if (menu) menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL);
        return popup;
    }
    void CreateAndRelease() const {
        com_ptr<IShellExtInit> init;
        factory->CreateInstance(nullptr, IID_IShellExtInit, init.put_void());
    }
};

void RightClickTable(const Handler& handler, const std::wstring& folder) {
    printf("\nRight-click path: CreateInstance, Initialize(folder), QueryContextMenu, release\n");
    printf("  floors: registry = the registry reads alone; items = the same reads plus the same items\n"
           "  inserted with bare InsertMenuItemW into a fresh menu (images made beforehand)\n");
    printf("  %-6s %-7s %12s %12s %12s %8s %8s\n", "N", "shape", "path", "registry", "items", "/reg", "/items");
    printf("  targets: <= 1.2x the items floor at every N; <= 1.5x the registry floor at N = 10\n");
    SharedFloorImages();
    const unsigned counts[] = {0, 10, 100, 1000, 5000};
    for (bool nested : {false, true}) {
        for (unsigned n : counts) {
            if (g_quick && n > 1000) continue;
            MakeTree(n, nested, folder);
            const bool big = n >= 1000;
            const int pathItems = CountMenuItems(handler.RightClickMenu().get());
            unique_hmenu floorMenu(BuildFloorMenu());
            const int floorItems = CountMenuItems(floorMenu.get());
            floorMenu.reset();
            std::vector<double> medians = InterleavedMedians(
                {[&] { handler.RightClick(); }, MenuRegistryFloor, MenuItemsFloor}, big ? 6.0 : 2.0, big ? 15 : 301);
            const double path = medians[0], registry = medians[1], items = medians[2];
            const bool over = path > 1.2 * items || (n == 10 && path > 1.5 * registry);
            printf("  %-6u %-7s %12s %12s %12s %7.2fx %7.2fx%s\n", n, nested ? "nested" : "flat",
                   Micro(path).c_str(), Micro(registry).c_str(), Micro(items).c_str(), path / registry,
                   path / items, over ? "  (over target)" : "");
            if (pathItems != floorItems) printf("  (the path made %d items, the floor %d)\n", pathItems, floorItems);
            fflush(stdout);
        }
    }
}

void ConstructionTable(const Handler& handler, const std::wstring& folder) {
    MakeTree(100, false, folder);
    double construction = Median([&] { handler.CreateAndRelease(); });
    double path = Median([&] { handler.RightClick(); });
    printf("\nHandler construction and destruction alone: %s, %.0f%% of the right-click path at N = 100 (%s)\n",
           Micro(construction).c_str(), 100.0 * construction / path, Micro(path).c_str());
    printf("  target: a small fixed cost, no registry, disk or network work on the UI thread\n");
}

void LeakTable(const Handler& handler, const std::wstring& folder) {
    MakeTree(100, false, folder);
    for (int i = 0; i < 20; ++i) handler.RightClick();
    dvtest::ResourceCounts before = dvtest::CurrentResourceCounts();
    const int cycles = g_quick ? 200 : 1000;
    for (int i = 0; i < cycles; ++i) handler.RightClick();
    // Background checks of released handlers end on their own; give them a moment to finish.
    for (int i = 0; i < 100 && dvtest::CountKernelHandles() > before.kernel; ++i) ::Sleep(20);
    dvtest::ResourceCounts after = dvtest::CurrentResourceCounts();
    printf("\nResources across %d right-click cycles at N = 100 (target: no growth)\n", cycles);
    printf("  GDI objects    %5u -> %5u\n", before.gdi, after.gdi);
    printf("  USER objects   %5u -> %5u\n", before.user, after.user);
    printf("  kernel handles %5u -> %5u\n", before.kernel, after.kernel);
}

// ---- the manager -------------------------------------------------------------------------------

HHOOK g_managerHook = nullptr;
double g_managerShown = 0;

LRESULT CALLBACK ManagerReadyHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_INITDIALOG && g_managerShown == 0) {
        g_managerShown = Now();  // the tree is built during WM_INITDIALOG
        ::PostMessageW(message->hwnd, WM_CLOSE, 0, 0);
    }
    return ::CallNextHookEx(g_managerHook, code, wParam, lParam);
}

void BareTreeFloor() {
    BookmarkTreePtr tree = LoadBookmarkTree();
    HWND window = ::CreateWindowExW(0, WC_TREEVIEWW, L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    std::vector<std::pair<const BookmarkItem*, HTREEITEM>> pending = {{&tree->root, TVI_ROOT}};
    while (!pending.empty()) {
        auto [item, handle] = pending.back();
        pending.pop_back();
        for (const auto& child : item->children) {
            TVINSERTSTRUCTW insert = {};
            insert.hParent = handle;
            insert.hInsertAfter = TVI_LAST;
            insert.item.mask = TVIF_TEXT;
            insert.item.pszText = const_cast<wchar_t*>(child->title.c_str());
            HTREEITEM inserted = reinterpret_cast<HTREEITEM>(::SendMessageW(window, TVM_INSERTITEMW, 0,
                                                                            reinterpret_cast<LPARAM>(&insert)));
            pending.emplace_back(child.get(), inserted);
        }
    }
    ::DestroyWindow(window);
}

using ConfigureFn = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

struct ManagerRun {
    double opening = -1;  // median seconds from calling Configure to the end of WM_INITDIALOG
    double floor = -1;    // median of the floor, run alternately with the openings
};

// Openings and floor runs alternate, so that a burst of other work on the machine weighs on both.
ManagerRun ManagerOpening(ConfigureFn configure) {
    g_managerHook = ::SetWindowsHookExW(WH_CALLWNDPROCRET, ManagerReadyHook, nullptr, ::GetCurrentThreadId());
    std::vector<double> openings, floors;
    for (int i = 0; i < (g_quick ? 4 : 12); ++i) {
        g_managerShown = 0;
        double t0 = Now();
        configure(nullptr, nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
        if (g_managerShown > 0 && i > 0) openings.push_back(g_managerShown - t0);  // the first run warms up
        t0 = Now();
        BareTreeFloor();
        if (i > 0) floors.push_back(Now() - t0);
    }
    ::UnhookWindowsHookEx(g_managerHook);
    ManagerRun run;
    if (openings.empty()) return run;
    std::sort(openings.begin(), openings.end());
    std::sort(floors.begin(), floors.end());
    run.opening = openings[openings.size() / 2];
    run.floor = floors[floors.size() / 2];
    return run;
}

void ManagerTable(HMODULE dll, const std::wstring& folder) {
    auto configure = reinterpret_cast<ConfigureFn>(::GetProcAddress(dll, "Configure"));
    printf("\nManager: opening the manager on 1,000 bookmarks until its tree is built\n");
    if (!configure) {
        printf("  (the DLL has no Configure export yet)\n");
        return;
    }
    MakeTree(1000, true, folder);
    const ManagerRun local = ManagerOpening(configure);
    // TEST-NET-1: routed nowhere, so every access to it waits for the network's time-out.
    MakeTree(1000, true, L"\\\\192.0.2.1\\share\\Bookmarks");
    const ManagerRun unreachable = ManagerOpening(configure);
    MakeTree(0, true, folder);
    const ManagerRun empty = ManagerOpening(configure);  // the dialog's own fixed cost
    if (local.opening < 0 || unreachable.opening < 0 || empty.opening < 0) {
        printf("  (the manager did not open)\n");
        return;
    }
    printf("  %-42s %12s   %5.2fx floor   target: <= 1.5x\n", "manager open, local folders",
           Micro(local.opening).c_str(), local.opening / local.floor);
    printf("  %-42s %12s   %5.2fx floor   target: as local\n", "manager open, all on an unreachable share",
           Micro(unreachable.opening).c_str(), unreachable.opening / unreachable.floor);
    printf("  %-42s %12s\n", "floor: load tree + bare tree view", Micro(local.floor).c_str());
    printf("  %-42s %12s\n", "manager open, no bookmarks", Micro(empty.opening).c_str());
}

// ---- the tool ----------------------------------------------------------------------------------

double RunProgram(const std::wstring& commandLine) {
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    std::wstring line = commandLine;
    double t0 = Now();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    ::WaitForSingleObject(pi.hProcess, 60000);
    double elapsed = Now() - t0;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return elapsed;
}

void EnumerationFloor() {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    ::EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes);
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        if (!process) continue;
        HMODULE modules[1024];
        DWORD needed = 0;
        if (!::EnumProcessModulesEx(process.get(), modules, sizeof(modules), &needed, LIST_MODULES_ALL)) continue;
        wchar_t name[MAX_PATH];
        for (DWORD m = 0; m < needed / sizeof(HMODULE) && m < 1024; ++m)
            ::GetModuleFileNameExW(process.get(), modules[m], name, MAX_PATH);
    }
}

void ToolTable(const std::wstring& dist) {
    printf("\nTool: one full search of Tessaly64 with a mask that matches nothing\n");
    std::wstring tool = dist + L"\\Tessaly64.exe";
    if (::GetFileAttributesW(tool.c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("  (Tessaly64.exe not built)\n");
        return;
    }
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring output = std::wstring(temp) + L"bench-tessaly.txt";
    std::wstring search = L"\"" + tool + L"\" zz-no-such-module-*.dll \"" + output + L"\"";
    std::wstring empty = L"\"" + ProgramFolder() + L"\\bench_empty.exe\"";
    std::vector<double> runs, starts;
    for (int i = 0; i < (g_quick ? 5 : 11); ++i) {
        runs.push_back(RunProgram(search));
        starts.push_back(RunProgram(empty));
    }
    std::sort(runs.begin(), runs.end());
    std::sort(starts.begin(), starts.end());
    double run = runs[runs.size() / 2], start = starts[starts.size() / 2];
    double enumeration = Median(EnumerationFloor, 1.0, 31);
    printf("  %-44s %12s\n", "tool run (process start + search)", Micro(run).c_str());
    printf("  %-44s %12s\n", "floor: empty program start", Micro(start).c_str());
    printf("  %-44s %12s\n", "floor: bare enumeration of processes/modules", Micro(enumeration).c_str());
    printf("  ratio %.2fx of (start + enumeration)   target: <= 1.2x\n", run / (start + enumeration));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // --quick: fewer rounds; --only menu|construction|leaks|manager|tool: that table alone.
    std::wstring only;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--quick") == 0) g_quick = true;
        else if (wcscmp(argv[i], L"--only") == 0 && i + 1 < argc) only = argv[++i];
    }
    auto wanted = [&only](const wchar_t* table) { return only.empty() || only == table; };
    com_init com;
    std::wstring dist = ProgramFolder() + L"\\..\\dist";
    wchar_t full[MAX_PATH];
    ::GetFullPathNameW(dist.c_str(), MAX_PATH, full, nullptr);
    dist = full;

    unique_hmodule dll(::LoadLibraryW((dist + L"\\Dirvane.dll").c_str()));
    auto getClassObject = dll ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
                                    ::GetProcAddress(dll.get(), "DllGetClassObject"))
                              : nullptr;
    Handler handler;
    if (!getClassObject || FAILED(getClassObject(kHandlerClsid, IID_IClassFactory, handler.factory.put_void()))) {
        printf("Cannot load %ls\n", (dist + L"\\Dirvane.dll").c_str());
        return 1;
    }
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"DirvaneBench";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::SHParseDisplayName(folder.c_str(), nullptr, reinterpret_cast<PIDLIST_ABSOLUTE*>(handler.folder.put()), 0,
                         nullptr);

    printf("Dirvane benchmarks (medians; figures of this machine under Wine)\n");
    if (wanted(L"menu")) RightClickTable(handler, folder);
    if (wanted(L"construction")) ConstructionTable(handler, folder);
    if (wanted(L"leaks")) LeakTable(handler, folder);
    if (wanted(L"manager")) ManagerTable(dll.get(), folder);
    if (wanted(L"tool")) ToolTable(dist);
    ::SHDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
    ::RemoveDirectoryW(folder.c_str());
    handler.factory.reset();
    return 0;
}
