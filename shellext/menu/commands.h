// The built-in commands of the context menu that need nothing of the handler object. None of them
// reports a failure: a command that cannot run does nothing.
#pragma once
#include <windows.h>
#include <string>

namespace dv::menu {

// True when both paths name the same folder or one lies inside the other, compared by whole path
// components with letter case ignored: C:\Data and C:\data\Reports are, C:\Data and C:\Database not.
bool IsSameOrNestedPath(const wchar_t* first, const wchar_t* second);

// With Ctrl held, copies source into the destination folder (Ctrl+Shift: moves it) after asking
// over owner, with undo and renaming on collision. True only when that file operation ran and
// succeeded; false when Ctrl is not held, either path is a namespace path, the paths are the same
// or nested (IsSameOrNestedPath), the answer is No, or the operation failed: the caller then jumps.
bool MoveOrCopyToBookmark(HWND owner, const wchar_t* source, const wchar_t* destination, bool ctrl, bool shift);

// Starts the "TextEditor" program (or the system folder's notepad.exe) with path as its one
// argument, elevated with Ctrl.
void OpenInEditor(const wchar_t* path, bool ctrl);

// Starts the system folder's cmd.exe in folder, elevated with Ctrl, running nothing else whatever
// the name holds. Without Ctrl a local folder is the program's working folder and no parameter
// is passed; elevated (which starts in the system folder) or for a UNC folder it gets
// CommandPromptParameters(folder). Nothing starts for a name with a quote or a control character.
void OpenCommandPrompt(const wchar_t* folder, bool ctrl);

// text as one argument of a command line, quoted as CommandLineToArgvW reads it back.
std::wstring QuoteArgument(const std::wstring& text);

// "/v:off /k pushd "<folder>"" with every % of the folder written so that cmd keeps it a %.
std::wstring CommandPromptParameters(const wchar_t* folder);

// Puts the paths of the foreground folder view's selected items on the Clipboard, in view order,
// one a line ("\r\n" between them); a virtual item contributes its display name. True when it put
// something there.
bool CopySelectionFromView();

// Puts text on the Clipboard as Unicode text; nothing for an empty text.
void CopyTextToClipboard(const std::wstring& text);

} // namespace dv::menu
