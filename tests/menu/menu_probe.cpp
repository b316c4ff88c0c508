// Runs the registered handler in a process of its own, so that the test can choose the Windows
// version Wine reports to it (by this program's file name). Writes what it saw to a report file:
//
//   menu_probe.exe <report file> <folder>
//
// Report lines: "version vista=<0|1> prexp=<0|1>", then one "item <depth> <text> image=<none|callback|own>
// mark=<0|1>" per menu item, then "measure <text> handled=<0|1> height=<h>" and
// "draw <text> handled=<0|1> rows=<first>-<last>" for the top-level item and every bookmark item:
// the rows of a 20-pixel menu row in which the image was drawn.
#include "common/product_ids.h"
#include "common/handles.h"
#include "common/system.h"
#include <windows.h>
#include <shlobj.h>
#include <cstdio>
#include <string>

using namespace dv;

namespace {

const CLSID kHandlerClsid = dvtest::kHandlerClsid;
constexpr UINT kFirstId = 1;

FILE* g_report = nullptr;

// Rows of a 20-pixel row, item rectangle starting at x = 20, that are no longer white left of it.
std::wstring DrawnRows(IContextMenu3* menu, UINT id, bool& handled) {
    window_dc screen(nullptr);
    unique_hdc memory(::CreateCompatibleDC(screen.get()));
    unique_hbitmap canvas(::CreateCompatibleBitmap(screen.get(), 60, 20));
    select_object selected(memory.get(), canvas.get());
    RECT all = {0, 0, 60, 20};
    ::FillRect(memory.get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DRAWITEMSTRUCT draw = {};
    draw.CtlType = ODT_MENU;
    draw.itemID = id;
    draw.itemAction = ODA_DRAWENTIRE;
    draw.hDC = memory.get();
    draw.rcItem = {20, 0, 60, 20};
    LRESULT result = 0;
    menu->HandleMenuMsg2(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw), &result);
    handled = result != 0;
    int first = -1, last = -1;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            if (::GetPixel(memory.get(), x, y) != RGB(255, 255, 255)) {
                if (first < 0) first = y;
                last = y;
            }
    return std::to_wstring(first) + L"-" + std::to_wstring(last);
}

void Report(HMENU menu, IContextMenu3* handler, int depth) {
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
        wchar_t text[512] = {};
        MENUITEMINFOW info = {sizeof(info)};
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU | MIIM_FTYPE | MIIM_BITMAP | MIIM_CHECKMARKS;
        info.dwTypeData = text;
        info.cch = ARRAYSIZE(text);
        ::GetMenuItemInfoW(menu, i, TRUE, &info);
        if (info.fType & MFT_SEPARATOR) continue;
        const wchar_t* image = info.hbmpItem == HBMMENU_CALLBACK ? L"callback" : info.hbmpItem ? L"own" : L"none";
        fwprintf(g_report, L"item %d %ls image=%ls mark=%d\n", depth, text, image, info.hbmpUnchecked ? 1 : 0);
        {
            MEASUREITEMSTRUCT measure = {};
            measure.CtlType = ODT_MENU;
            measure.itemID = info.wID;
            measure.itemHeight = 10;
            LRESULT result = 0;
            handler->HandleMenuMsg2(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure), &result);
            fwprintf(g_report, L"measure %ls handled=%d width=%u height=%u\n", text, result ? 1 : 0,
                     measure.itemWidth, measure.itemHeight);
            bool drawn = false;
            std::wstring rows = DrawnRows(handler, info.wID, drawn);
            fwprintf(g_report, L"draw %ls handled=%d rows=%ls\n", text, drawn ? 1 : 0, rows.c_str());
        }
        if (info.hSubMenu) Report(info.hSubMenu, handler, depth + 1);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    com_init com;
    g_report = _wfopen(argv[1], L"w, ccs=UTF-8");
    if (!g_report) return 3;
    fwprintf(g_report, L"version vista=%d prexp=%d\n", IsVistaOrLater() ? 1 : 0, IsPreXpWindows() ? 1 : 0);
    // Explorer has the theme library loaded; the product image is made with it.
    ::LoadLibraryW(L"uxtheme.dll");

    com_ptr<IShellExtInit> init;
    if (FAILED(::CoCreateInstance(kHandlerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void())))
        return 4;
    unique_pidl folder;
    if (FAILED(::SHParseDisplayName(argv[2], nullptr, reinterpret_cast<PIDLIST_ABSOLUTE*>(folder.put()), 0, nullptr)) ||
        FAILED(init->Initialize(folder.get(), nullptr, nullptr)))
        return 5;
    auto handler = init.query<IContextMenu3>();
    unique_hmenu menu(::CreatePopupMenu());
    if (!handler || FAILED(handler->QueryContextMenu(menu.get(), 0, kFirstId, 0x7FFF, CMF_NORMAL))) return 6;
    Report(menu.get(), handler.get(), 0);
    fclose(g_report);
    return 0;
}
