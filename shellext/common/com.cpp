#include "com.h"

namespace dv {

namespace {
// {00000323-0000-0000-C000-000000000046}: the system's standard global interface table.
const CLSID kStdGlobalInterfaceTable = {0x00000323, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

ModuleState::ModuleState() noexcept {
    initialized_ = ::InitializeCriticalSectionEx(&creationLock_, 0, 0) != FALSE;
}

ModuleState::~ModuleState() {
    Term();
    if (initialized_) ::DeleteCriticalSection(&creationLock_);
}

HRESULT ModuleState::GetGITPtr(IGlobalInterfaceTable** table) noexcept {
    if (!table) return E_POINTER;
    *table = nullptr;
    if (!initialized_) return E_UNEXPECTED;
    HRESULT hr = S_OK;
    ::EnterCriticalSection(&creationLock_);
    if (!git_) {
        hr = ::CoCreateInstance(kStdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&git_));
    }
    if (git_) {
        git_->AddRef();
        *table = git_;
    }
    ::LeaveCriticalSection(&creationLock_);
    return hr;
}

void ModuleState::Term() noexcept {
    if (git_) {
        git_->Release();
        git_ = nullptr;
    }
}

// Built when the file is loaded, before the entry point sees process attach.
static ModuleState g_moduleState;

ModuleState& Module() noexcept { return g_moduleState; }

} // namespace dv
