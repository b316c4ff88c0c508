// The handler object: construction, command dispatch, help texts and owner-drawn images.
#include "context_menu.h"
#include "common/trace.h"
#include "commands.h"
#include "manager/manager.h"
#include "navigate/navigate.h"
#include "res/resource.h"
#include "store/settings.h"
#include "common/system.h"
#include <shlwapi.h>

namespace dv::menu {

using dv::store::kProductKeyPath;
using dv::updater::CUpdater;

// The classic menu's commands act on the window the host names in the invocation.
class CDirvaneContextMenu::InvocationWindow final : public CommandHost {
public:
    InvocationWindow(CDirvaneContextMenu& handler, HWND window) : handler_(handler), window_(window) {}
    HWND OwnerWindow() override { return window_; }
    void JumpTo(const wchar_t* folder) override { nav::JumpToFolder(window_, folder); }
    void OpenManager(bool updateRequested) override { handler_.OpenManager(window_, updateRequested); }

private:
    CDirvaneContextMenu& handler_;
    HWND window_;
};

bool UpdateOfferForMenu(std::unique_ptr<CUpdater>& updater) {
    const store::StoredUpdateState stored = store::ReadStoredUpdateState();
    // At most one quiet check a day, one at a time per process, none for an hour after one failed;
    // otherwise the menu shows the stored outcome of the last check.
    if (!updater && CUpdater::BackgroundCheckMayStart() && !stored.checkedToday) {
        updater = CUpdater::Create(nullptr, IDS_PRODUCT_NAME, kProductKeyPath);
        if (updater && !updater->StartBackgroundCheck()) updater.reset();
    }
    return updater ? updater->IsUpdateAvailable() : stored.available;
}

CDirvaneContextMenu::CDirvaneContextMenu() = default;

CDirvaneContextMenu::~CDirvaneContextMenu() = default;

const QITAB* CDirvaneContextMenu::InterfaceTable() {
    static const QITAB table[] = {
        QITABENT(CDirvaneContextMenu, IShellExtInit),
        QITABENT(CDirvaneContextMenu, IContextMenu),
        QITABENT(CDirvaneContextMenu, IContextMenu2),
        QITABENT(CDirvaneContextMenu, IContextMenu3),
        {nullptr, 0},
    };
    return table;
}

bool CDirvaneContextMenu::UpdateIsAvailable() { return UpdateOfferForMenu(updater_); }

void CDirvaneContextMenu::OpenManager(HWND owner, bool updateRequested) {
    dv::manager::OpenManager(owner, updateRequested);
}

STDMETHODIMP CDirvaneContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info) return E_INVALIDARG;
    const UINT_PTR verb = reinterpret_cast<UINT_PTR>(info->lpVerb);
    if (!IS_INTRESOURCE(verb)) return E_INVALIDARG;  // verbs by name are not supported
    InvocationWindow host(*this, info->hwnd);
    return RunMenuCommand(model_, selection_, LOWORD(verb), host);
}

STDMETHODIMP CDirvaneContextMenu::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* name, UINT size) {
    if (type != GCS_HELPTEXTW) return E_FAIL;
    if (!name || size == 0) return E_INVALIDARG;
    try {
        CopyText(reinterpret_cast<wchar_t*>(name), size, model_.HelpText(offset).c_str());
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) {
    return HandleMenuMsg2(msg, wParam, lParam, nullptr);
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg2(UINT msg, WPARAM, LPARAM lParam, LRESULT* result) {
    LRESULT local = 0;
    if (!result) result = &local;
    *result = 0;
    if (msg == WM_MEASUREITEM) {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (measure && measure->CtlType == ODT_MENU && MeasureMenuItem(model_, *measure)) *result = TRUE;
    } else if (msg == WM_DRAWITEM) {
        auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (draw && draw->CtlType == ODT_MENU && DrawMenuItem(model_, SharedMenuImages(), *draw)) *result = TRUE;
    }
    return S_OK;
}

} // namespace dv::menu
