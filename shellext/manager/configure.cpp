// Opening the manager: from the context menu (OpenManager) and from any program (Configure).
#include "manager.h"
#include "common/system.h"
#include "common/trace.h"
#include "manager_dlg.h"
#include "common/com.h"
#include <commctrl.h>
#include <ole2.h>

namespace dv::manager {

namespace {

// The module-wide state of the manager supports one open manager per process.
volatile LONG g_managerOpen = 0;

// Activates the DLL's own manifest (resource 2, Common Controls 6) for a scope, so that the
// dialogs get the version 6 controls inside any host process. Without it (a program's resources
// carry their manifest as resource 1) the process's own context applies.
class ModuleActivationContext {
public:
    ModuleActivationContext() noexcept {
        const std::wstring modulePath = ModuleFilePath(ResourceInstance());
        ACTCTXW request = {};
        request.cbSize = sizeof(request);
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.hModule = ResourceInstance();
        request.lpResourceName = MAKEINTRESOURCEW(2);
        request.lpSource = modulePath.empty() ? nullptr : modulePath.c_str();
        context_ = ::CreateActCtxW(&request);
        if (context_ == INVALID_HANDLE_VALUE) {
            DV_TRACE_WIN32(::GetLastError(), L"CreateActCtxW of the module's manifest");
        } else if (!::ActivateActCtx(context_, &cookie_)) {
            DV_TRACE_WIN32(::GetLastError(), L"ActivateActCtx of the module's manifest");
            ::ReleaseActCtx(context_);
            context_ = INVALID_HANDLE_VALUE;
        }
    }
    ~ModuleActivationContext() {
        if (context_ == INVALID_HANDLE_VALUE) return;
        ::DeactivateActCtx(0, cookie_);
        ::ReleaseActCtx(context_);
    }
    ModuleActivationContext(const ModuleActivationContext&) = delete;
    ModuleActivationContext& operator=(const ModuleActivationContext&) = delete;

private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

void BringToFront(HWND manager) {
    if (!manager || !::IsWindow(manager)) return;
    HWND front = ::GetLastActivePopup(manager);  // a dialog open over it, if any
    if (::IsIconic(manager)) ::ShowWindowAsync(manager, SW_RESTORE);
    ::SetForegroundWindow(front ? front : manager);
}

} // namespace

void OpenManager(HWND owner, bool startUpdateCheck) noexcept {
    if (::InterlockedCompareExchange(&g_managerOpen, 1, 0) != 0) {
        BringToFront(CManagerDlg::OpenWindow());
        return;
    }
    {
        ModuleActivationContext context;
        INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                         ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_USEREX_CLASSES};
        ::InitCommonControlsEx(&controls);
        CManagerDlg manager(startUpdateCheck);
        manager.DoModal(owner);
    }
    ::InterlockedExchange(&g_managerOpen, 0);
}

} // namespace dv::manager

extern "C" void CALLBACK Configure(HWND, HINSTANCE, LPSTR, int) {
    // Programs such as rundll32 start no OLE; the Clipboard and the folder browser need it.
    // A thread that has it already keeps it as it is.
    const HRESULT ole = ::OleInitialize(nullptr);
    dv::manager::OpenManager(::GetActiveWindow(), false);
    if (SUCCEEDED(ole)) ::OleUninitialize();
}
