// The built-in commands of the menu, and their dispatch by the model's entries for both renderers
// (the classic context menu and the command tree). None of them reports a failure: a command that
// cannot run does nothing.
#pragma once
#include "menu_model.h"
#include <windows.h>
#include <string>

namespace dv::menu {

// What a command needs of the menu that offered it: the window it belongs to (the owner of its
// questions; may be null), how that menu jumps to a folder and how it opens the manager.
class CommandHost {
public:
    virtual HWND OwnerWindow() = 0;
    virtual void JumpTo(const wchar_t* folder) = 0;
    virtual void OpenManager(bool updateRequested) = 0;

protected:
    ~CommandHost() = default;
};

// Runs the model's entry at offset for selection, with Ctrl and Shift as they are held now: a
// bookmark jumps (or, with Ctrl, copies or moves the selection there), the fixed commands and the
// add-ons do their work. selection may be changed (the command prompt's folder). E_INVALIDARG for an
// offset that is no command; S_OK otherwise, whatever the command's outcome.
HRESULT RunMenuCommand(const MenuModel& model, MenuSelection& selection, UINT offset, CommandHost& host);

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
