// Development host: plays the shell's part for Dirvane under Wine, which never loads context-menu
// handlers by itself. It activates the registered handler through COM, initialises it as Explorer
// would, and either prints the menu (--print) or shows it as a real popup and invokes the pick.
//
//   devhost.exe [options] <folder>            right-click on the folder's empty area
//   devhost.exe [options] <item> [<item>...]   right-click on items of one folder
//
// Options:
//   --print             print the menu and stop
//   --invoke <offset>   print the menu, then invoke the command at that offset without showing it
//   --flags <hex>       QueryContextMenu flags (default CMF_NORMAL | CMF_EXPLORE)
//   --shot <file.bmp>   show the menu, open its submenus with --keys, save the screen as a bitmap, close
//   --keys <list>       keys pressed before the shot, comma-separated: down, up, right, left
//                       (default "down,right": the "Dir&vane" submenu)
#include "common/handles.h"
#include "screen_bitmap.h"
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdio>
#include <string>
#include <vector>

using namespace dv;

namespace {

const CLSID kHandlerClsid = {0x5E2A7C41, 0x3B9D, 0x4F08, {0xA6, 0xC2, 0x71, 0xD0, 0xE4, 0xB9, 0x8F, 0x35}};
constexpr UINT kFirstId = 1, kLastId = 0x7FFF;

IContextMenu3* g_menu3 = nullptr;

// Scripted popup for screenshots: the keys to press, then the file to write.
struct ShotScript {
    std::vector<WORD> keys;
    std::wstring file;
    size_t step = 0;
};
ShotScript g_shot;
constexpr UINT_PTR kShotTimer = 1;

void PressKey(WORD key) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, input, sizeof(INPUT));
}

// One step per timer tick while the popup runs its own message loop: a key, then the shot, then close.
void CALLBACK ShotStep(HWND window, UINT, UINT_PTR, DWORD) {
    if (g_shot.step < g_shot.keys.size()) {
        PressKey(g_shot.keys[g_shot.step++]);
    } else if (g_shot.step == g_shot.keys.size()) {
        ++g_shot.step;
        wprintf(L"Screen saved to %ls: %ls\n", g_shot.file.c_str(), dvtool::WriteScreenBitmap(g_shot.file) ? L"yes" : L"FAILED");
    } else {
        ::KillTimer(window, kShotTimer);
        ::EndMenu();
    }
}

bool ParseKeys(const std::wstring& list, std::vector<WORD>& keys) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(L',', start);
        std::wstring name = list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (name == L"down") keys.push_back(VK_DOWN);
        else if (name == L"up") keys.push_back(VK_UP);
        else if (name == L"right") keys.push_back(VK_RIGHT);
        else if (name == L"left") keys.push_back(VK_LEFT);
        else if (!name.empty()) return false;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return true;
}

void PrintMenu(HMENU menu, int depth) {
    int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STATE | MIIM_BITMAP | MIIM_CHECKMARKS;
        info.dwTypeData = text;
        info.cch = ARRAYSIZE(text);
        ::GetMenuItemInfoW(menu, i, TRUE, &info);
        std::wstring line(depth * 4, L' ');
        if (info.fType & MFT_SEPARATOR) {
            line += L"----------";
        } else {
            line += text;
            line += L"   [id " + std::to_wstring(info.wID) + L"]";
            if (info.fState & MFS_GRAYED) line += L" (greyed)";
            if (info.hbmpItem == HBMMENU_CALLBACK) line += L" (drawn by the handler)";
            else if (info.hbmpItem) line += L" (image)";
            if (info.hbmpUnchecked) line += L" (check-mark image)";
        }
        wprintf(L"%ls\n", line.c_str());
        if (info.hSubMenu) PrintMenu(info.hSubMenu, depth + 1);
    }
}

LRESULT CALLBACK HostProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITMENUPOPUP: case WM_DRAWITEM: case WM_MEASUREITEM: case WM_MENUCHAR:
        if (g_menu3) {
            LRESULT result = 0;
            if (SUCCEEDED(g_menu3->HandleMenuMsg2(msg, wParam, lParam, &result))) return result;
        }
        break;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, msg, wParam, lParam);
}

HRESULT InitializeFor(IShellExtInit* init, const std::vector<std::wstring>& paths) {
    if (paths.size() == 1 && ::PathIsDirectoryW(paths[0].c_str())) {
        wprintf(L"Handing the handler the folder %ls (a click on its empty area)\n", paths[0].c_str());
        unique_pidl folder;
        HRESULT hr = ::SHParseDisplayName(paths[0].c_str(), nullptr, reinterpret_cast<PIDLIST_ABSOLUTE*>(folder.put()),
                                          0, nullptr);
        if (FAILED(hr)) return hr;
        return init->Initialize(folder.get(), nullptr, nullptr);
    }
    std::wstring parent = paths[0];
    ::PathRemoveFileSpecW(parent.data());
    parent.resize(wcslen(parent.c_str()));
    wprintf(L"Handing the handler a data object with %u item(s) of %ls\n", unsigned(paths.size()), parent.c_str());
    unique_pidl parentList;
    HRESULT hr = ::SHParseDisplayName(parent.c_str(), nullptr, reinterpret_cast<PIDLIST_ABSOLUTE*>(parentList.put()),
                                      0, nullptr);
    if (FAILED(hr)) return hr;
    com_ptr<IShellFolder> folder;
    hr = ::SHBindToObject(nullptr, parentList.get(), nullptr, IID_IShellFolder, folder.put_void());
    if (FAILED(hr)) return hr;
    std::vector<unique_pidl> children;
    std::vector<PCUITEMID_CHILD> raw;
    for (const auto& path : paths) {
        std::wstring name = ::PathFindFileNameW(path.c_str());
        unique_pidl child;
        hr = folder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr,
                                      reinterpret_cast<PIDLIST_RELATIVE*>(child.put()), nullptr);
        if (FAILED(hr)) return hr;
        raw.push_back(reinterpret_cast<PCUITEMID_CHILD>(child.get()));
        children.push_back(std::move(child));
    }
    com_ptr<IDataObject> data;
    hr = folder->GetUIObjectOf(nullptr, static_cast<UINT>(raw.size()), raw.data(), IID_IDataObject, nullptr,
                               data.put_void());
    if (FAILED(hr)) return hr;
    // Explorer hands item menus the data object alone; the folder is for clicks on its empty area.
    return init->Initialize(nullptr, data.get(), nullptr);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    bool printOnly = false, usage = false;
    long invokeOffset = -1;
    UINT flags = CMF_NORMAL | CMF_EXPLORE;
    std::wstring keyList = L"down,right";
    std::vector<std::wstring> paths;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (wcscmp(argv[i], L"--print") == 0) printOnly = true;
        else if (wcscmp(argv[i], L"--invoke") == 0 && hasValue) invokeOffset = wcstol(argv[++i], nullptr, 10);
        else if (wcscmp(argv[i], L"--flags") == 0 && hasValue) flags = wcstoul(argv[++i], nullptr, 16);
        else if (wcscmp(argv[i], L"--shot") == 0 && hasValue) g_shot.file = argv[++i];
        else if (wcscmp(argv[i], L"--keys") == 0 && hasValue) keyList = argv[++i];
        else if (wcsncmp(argv[i], L"--", 2) == 0) usage = true;
        else paths.emplace_back(argv[i]);
    }
    if (!ParseKeys(keyList, g_shot.keys)) usage = true;
    if (paths.empty() || usage) {
        fwprintf(stderr, L"usage: devhost.exe [--print | --invoke <offset> | --shot <file.bmp> [--keys down,right,...]]"
                         L" [--flags <hex>] <folder> | <item>...\n");
        return 2;
    }
    com_init com;
    com_ptr<IShellExtInit> init;
    HRESULT hr = ::CoCreateInstance(kHandlerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
    if (FAILED(hr)) {
        fwprintf(stderr, L"The handler is not registered (CoCreateInstance: 0x%08lx)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    hr = InitializeFor(init.get(), paths);
    wprintf(L"Initialize: 0x%08lx\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;

    auto menu = init.query<IContextMenu>();
    auto menu3 = init.query<IContextMenu3>();
    g_menu3 = menu3.get();
    unique_hmenu popup(::CreatePopupMenu());
    hr = menu->QueryContextMenu(popup.get(), 0, kFirstId, kLastId, flags);
    wprintf(L"QueryContextMenu: 0x%08lx (%u identifiers used)\n", static_cast<unsigned long>(hr), HRESULT_CODE(hr));
    PrintMenu(popup.get(), 1);
    fflush(stdout);
    if (printOnly) return 0;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"DirvaneDevHost";
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    ::RegisterClassW(&wc);
    HWND window = ::CreateWindowW(wc.lpszClassName, L"Dirvane development host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  100, 100, 500, 300, nullptr, nullptr, wc.hInstance, nullptr);
    ::SetForegroundWindow(window);
    POINT at = {140, 140};
    UINT picked = 0;
    if (invokeOffset >= 0) {
        picked = kFirstId + static_cast<UINT>(invokeOffset);
    } else {
        if (!g_shot.file.empty()) ::SetTimer(window, kShotTimer, 400, ShotStep);
        picked = ::TrackPopupMenu(popup.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    }
    if (picked >= kFirstId) {
        CMINVOKECOMMANDINFOEX info = {sizeof(info)};
        info.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
        if (::GetKeyState(VK_CONTROL) < 0) info.fMask |= CMIC_MASK_CONTROL_DOWN;
        if (::GetKeyState(VK_SHIFT) < 0) info.fMask |= CMIC_MASK_SHIFT_DOWN;
        info.hwnd = window;
        info.lpVerb = MAKEINTRESOURCEA(picked - kFirstId);
        info.lpVerbW = MAKEINTRESOURCEW(picked - kFirstId);
        info.nShow = SW_SHOWNORMAL;
        info.ptInvoke = at;
        hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
        wprintf(L"InvokeCommand(%u): 0x%08lx\n", picked - kFirstId, static_cast<unsigned long>(hr));
    }
    g_menu3 = nullptr;
    ::DestroyWindow(window);
    return 0;
}
