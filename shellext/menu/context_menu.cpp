// The handler object: construction, destruction and the interface table.
#include "context_menu.h"

namespace dv {

CDirvaneContextMenu::CDirvaneContextMenu() : resourceInstance(ResourceInstance()) {}

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

STDMETHODIMP CDirvaneContextMenu::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) {
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
}

STDMETHODIMP CDirvaneContextMenu::InvokeCommand(CMINVOKECOMMANDINFO*) { return E_FAIL; }

STDMETHODIMP CDirvaneContextMenu::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) { return E_FAIL; }

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg(UINT msg, WPARAM wParam, LPARAM lParam) {
    return HandleMenuMsg2(msg, wParam, lParam, nullptr);
}

STDMETHODIMP CDirvaneContextMenu::HandleMenuMsg2(UINT, WPARAM, LPARAM, LRESULT* result) {
    if (result) *result = 0;
    return S_OK;
}

} // namespace dv
