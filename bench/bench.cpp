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

// ---- the right-click path ----------------------------------------------------------------------

struct Handler {
    com_ptr<IClassFactory> factory;
    unique_pidl folder;

    void RightClick() const {
        com_ptr<IShellExtInit> init;
        if (FAILED(factory->CreateInstance(nullptr, IID_IShellExtInit, init.put_void()))) return;
        init->Initialize(folder.get(), nullptr, nullptr);
        auto menu = init.query<IContextMenu>();
        unique_hmenu popup(::CreatePopupMenu());
        if (menu) menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL);
    }
    void CreateAndRelease() const {
        com_ptr<IShellExtInit> init;
        factory->CreateInstance(nullptr, IID_IShellExtInit, init.put_void());
    }
};

void RightClickTable(const Handler& handler, const std::wstring& folder) {
    printf("\nRight-click path: CreateInstance, Initialize(folder), QueryContextMenu, release\n");
    printf("  %-6s %-7s %12s %12s %7s   target: <= 1.5x floor at N >= 100, linear growth\n", "N", "shape",
           "path", "floor", "ratio");
    const unsigned counts[] = {0, 10, 100, 1000, 5000};
    for (bool nested : {false, true}) {
        for (unsigned n : counts) {
            if (g_quick && n > 1000) continue;
            MakeTree(n, nested, folder);
            double path = Median([&] { handler.RightClick(); }, n >= 1000 ? 2.0 : 0.6, n >= 1000 ? 15 : 201);
            double floor = Median(MenuRegistryFloor, n >= 1000 ? 2.0 : 0.6, n >= 1000 ? 15 : 201);
            printf("  %-6u %-7s %12s %12s %6.2fx%s\n", n, nested ? "nested" : "flat", Micro(path).c_str(),
                   Micro(floor).c_str(), path / floor, (n >= 100 && path > 1.5 * floor) ? "  (over target)" : "");
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

void ManagerTable(HMODULE dll, const std::wstring& folder) {
    using ConfigureFn = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);
    auto configure = reinterpret_cast<ConfigureFn>(::GetProcAddress(dll, "Configure"));
    printf("\nManager: opening the manager on 1,000 bookmarks until its tree is built\n");
    if (!configure) {
        printf("  (the DLL has no Configure export yet)\n");
        return;
    }
    MakeTree(1000, true, folder);
    g_managerHook = ::SetWindowsHookExW(WH_CALLWNDPROCRET, ManagerReadyHook, nullptr, ::GetCurrentThreadId());
    std::vector<double> samples;
    for (int i = 0; i < (g_quick ? 4 : 12); ++i) {
        g_managerShown = 0;
        double t0 = Now();
        configure(nullptr, nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
        if (g_managerShown > 0 && i > 0) samples.push_back(g_managerShown - t0);  // the first run warms up
    }
    ::UnhookWindowsHookEx(g_managerHook);
    if (samples.empty()) {
        printf("  (the manager did not open)\n");
        return;
    }
    std::sort(samples.begin(), samples.end());
    double opening = samples[samples.size() / 2];
    double floor = Median(BareTreeFloor, 2.0, 15);
    printf("  %-34s %12s\n", "manager open (to built tree)", Micro(opening).c_str());
    printf("  %-34s %12s\n", "floor: load tree + bare tree view", Micro(floor).c_str());
    printf("  ratio %.2fx   target: <= 2x\n", opening / floor);
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
