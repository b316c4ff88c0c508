#include "com.h"

namespace dv {

ModuleState::ModuleState() noexcept {
    initialized_ = ::InitializeCriticalSectionEx(&creationLock_, 0, 0) != FALSE;
}

ModuleState::~ModuleState() {
    if (initialized_) ::DeleteCriticalSection(&creationLock_);
}

// Built when the file is loaded, before the entry point sees process attach.
static ModuleState g_moduleState;

ModuleState& Module() noexcept { return g_moduleState; }

} // namespace dv
