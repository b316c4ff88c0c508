// "Check for Updates" of the manager's Help menu.
#include "manager.h"
#include "updater/updater_dlg.h"

namespace dv::manager {

using dv::updater::ShowUpdaterDialog;

// The update dialog runs modally over the manager and suspends its shortcuts while it is open.
void ShowUpdateCheck(HWND manager) noexcept { ShowUpdaterDialog(manager); }

} // namespace dv::manager
