// Folder navigation: makes the window a shortcut menu was opened in show another folder,
// in the way that kind of window understands.
//
// The one entry for the menu is JumpToFolder(invocation window, folder). Everything runs on the
// caller's UI thread; nothing is kept between calls and nothing is reported.
#pragma once
#include "common/handles.h"
#include "common/text.h"
#include <windows.h>
#include <shobjidl.h>

namespace dv::nav {

// The owner window of the shortcut menu, as the host names it in the invocation; may be null.
using TargetWindow = HWND;

// How a target window is steered; decided by its window class alone.
enum class TargetWindowKind {
    TypedPathListView,   // "OpenListView": the path is typed into the dialog two levels up
    TypedPathSnakeList,  // "Snake List": the path is typed into its parent dialog
    CommanderWindow,     // "TTOTAL_CMD", "TWINDOWSCMD": a "cd" command is typed into its command line
    FolderBrowserTree,   // tree of a folder-picker dialog: the folder is selected in it
    NamespaceTree,       // tree of a namespace tree control: its browser five levels up browses
    OtherTree,           // any other tree view: its browser three levels up browses
    ShellBrowserWindow,  // anything else (or no window): the window's own shell browser browses
};

// True when "::" appears anywhere in the text, so that "Shell:::{...}" and file-system paths that go
// on into a class identifier count too (IsNamespacePath tests only the first two characters).
bool HasNamespaceSegment(const wchar_t* folder) noexcept;

// Copies the folder text into prepared and gives a file-system path its trailing backslash
// when it fits. Returns false (prepared empty) for an empty text or one longer than 259
// characters: a cut path would name another folder.
bool PrepareFolderText(const wchar_t* folder, wchar_t (&prepared)[kMaxText]) noexcept;

TargetWindowKind ClassifyTargetWindow(TargetWindow target) noexcept;

// The window to ask for its shell browser, for the tree and shell-browser kinds; null for the
// others and when the chain of parents runs out.
HWND BrowserWindowOf(TargetWindow target, TargetWindowKind kind) noexcept;

// The folder view shown in window (the foreground window when null). S_OK with the view in
// view, or E_FAIL with view empty. Only windows of this process are asked.
HRESULT GetFolderView(HWND window, com_ptr<IFolderView>& view) noexcept;

// Steers target to folder (a file-system or namespace path of at most 259 characters).
void JumpToFolder(TargetWindow target, const wchar_t* folder) noexcept;

// The methods JumpToFolder chooses from; folder is the prepared folder text.
void TypePathIntoDialog(HWND dialog, const wchar_t* folder) noexcept;
void TypeCdCommand(HWND window, const wchar_t* folder) noexcept;
void SelectInFolderBrowser(HWND dialog, const wchar_t* folder) noexcept;
// Falls back to OpenWithShell(owner, folder) when browserWindow has no shell browser.
void BrowseInPlace(HWND browserWindow, const wchar_t* folder, TargetWindow owner) noexcept;
void OpenWithShell(TargetWindow owner, const wchar_t* folder) noexcept;

// What BrowseFolder gives when the folder cannot be parsed (nothing would show it anywhere).
constexpr HRESULT kFolderNotParsed = static_cast<HRESULT>(0x800700A1);  // HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)
// Parses the prepared folder text as BrowseInPlace does (a namespace path once more with "Shell:" in
// front) and asks browser to show it (IShellBrowser::BrowseObject with flags): its result, or
// kFolderNotParsed.
HRESULT BrowseFolder(IShellBrowser* browser, const wchar_t* folder, UINT flags) noexcept;

// The private message a shell browser window answers with its IShellBrowser (not add-referenced).
constexpr UINT kGetShellBrowserMessage = WM_USER + 7;

} // namespace dv::nav
