// Shared by the installer's tests: where the product is installed, its registry keys, running the
// installer and uninstaller, and driving their wizards.
#pragma once
#include "common/product_ids.h"
#include "common/test_support.h"
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace insttest {

constexpr wchar_t kClassKey[] = L"CLSID\\" DVTEST_HANDLER_CLSID_TEXT;
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dirvane";
constexpr wchar_t kSetupName[] = DV_SETUP_NAME;
constexpr wchar_t kSetupCaption[] = L"Dirvane " DV_VERSION L" Setup";
constexpr wchar_t kUninstallCaption[] = L"Dirvane " DV_VERSION L" Uninstall";

// The installer in the dist folder.
std::wstring SetupPath();
// installer_helper.exe beside the test program.
std::wstring HelperPath();
// The 64-bit Program Files folder's Dirvane folder, and a file in it: the all-users install.
std::wstring InstallDir();
std::wstring Installed(const wchar_t* name);
// %LOCALAPPDATA%\Programs\Dirvane: the install for the current user.
std::wstring UserInstallDir();

std::wstring Quote(const std::wstring& text);
std::string Narrow(const std::wstring& text);
bool Exists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);

// In the 64-bit registry view unless told otherwise.
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
// A string value, or "<missing>".
std::wstring RegText(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = KEY_WOW64_64KEY);

bool Running(HANDLE process);
// Runs a command line and waits for it and for the processes it started: the uninstaller hands
// over to a copy of itself in the temp folder and ends at once. The exit code of the last one.
DWORD RunTree(const std::wstring& line, DWORD timeoutMs = 120000);
// The installer with /S and the switches given.
DWORD RunSetupSilently(const std::wstring& switches = L"");
// The uninstall entry's QuietUninstallString, with extra switches: HKLM's entry (all users) or
// HKCU's (the current user).
DWORD RunQuietUninstall(const std::wstring& extra = L"", HKEY root = HKEY_LOCAL_MACHINE);
// Creates the handler in a new process; the path of the DLL that COM loaded there, or a message.
// userClasses: through the user's own classes, as COM on Windows finds them first.
std::wstring LoadInNewProcess(bool userClasses = false);

// A visible top-level dialog whose caption starts with caption: the wizard (it shows a page), or
// a message box of the wizard.
HWND FindTopWindow(const wchar_t* caption, bool wizard);
std::vector<HWND> Children(HWND parent);
// A visible child of the class whose text starts with textPrefix.
HWND ChildOfClass(HWND parent, const wchar_t* className, const std::wstring& textPrefix = L"");
std::vector<std::wstring> ListItems(HWND list);
// Clicks through a wizard until finished() holds: every new page is shown to onPage, then its Next
// (Install, Uninstall, Finish, Close) button is clicked once it is enabled. onIdle runs on every
// round, for message boxes. False, with a report of the windows, when the time is up.
bool DriveWizard(const wchar_t* caption, const std::function<void(HWND page)>& onPage,
                 const std::function<bool()>& finished, const std::function<void()>& onIdle = {});
// Ends the processes of wizards that a failed test left open; they would block the next installer.
void EndLeftWizards();
// Uninstalls both modes silently, with the user's data, where an install is listed, and removes
// what is left.
void EnsureUninstalled();

} // namespace insttest
