// "Check for Updates" of the manager's Help menu.
#include "manager.h"

namespace dv {

// The seam where the update dialog plugs in; until then the command does nothing.
void ShowUpdateCheck(HWND manager) noexcept { (void)manager; }

} // namespace dv
