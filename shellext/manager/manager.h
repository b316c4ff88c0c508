// The bookmark manager: the dialog that edits the bookmark tree and the settings.
#pragma once
#include <windows.h>

namespace dv::manager {

// Opens the manager modally on the calling thread, owned by owner (may be null); returns when the
// user closes it. With startUpdateCheck the update dialog opens over it at once. While a manager of
// this process is already open, that one is brought to the front instead.
void OpenManager(HWND owner, bool startUpdateCheck) noexcept;

// "Check for Updates": shows the update dialog modally over the manager window.
void ShowUpdateCheck(HWND manager) noexcept;

} // namespace dv::manager

// The DLL's export: opens the manager from any program (`rundll32 Dirvane.dll,Configure`).
// Its arguments are ignored.
extern "C" void CALLBACK Configure(HWND window, HINSTANCE instance, LPSTR commandLine, int show);
