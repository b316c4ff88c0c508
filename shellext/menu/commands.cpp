// The built-in commands: confirmations, file operations, programs started and the Clipboard.
#include "commands.h"
#include "context_menu.h"
#include "common/trace.h"
#include "common/handles.h"
#include "common/text.h"
#include "navigate/navigate.h"
#include "res/resource.h"
#include "store/bookmarks.h"
#include "store/settings.h"
#include "ui/removal.h"
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <algorithm>

namespace dv::menu {

using dv::store::BookmarkTreePtr;
using dv::store::LoadBookmarkTree;
using dv::store::ReleaseBookmarkTree;
using dv::store::TextEditorProgram;
using dv::store::kDefaultTextEditor;
using dv::ui::ConfirmRemoval;

namespace {

constexpr wchar_t kMessageCaption[] = L"Dirvane";
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONEXCLAMATION;

// Starts file (elevated with ctrl) with parameters, in directory when one is given.
void StartProgram(const std::wstring& file, const wchar_t* parameters, const wchar_t* directory, bool ctrl) {
    if (file.empty()) return;
    SHELLEXECUTEINFOW info = {sizeof(info)};
    info.lpVerb = ctrl ? L"runas" : L"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_SHOW;
    if (!::ShellExecuteExW(&info)) DV_TRACE(L"a program could not be started");
}

// A program of the system folder by its full path: a bare name would be looked up in the host's
// current folder first, where anyone may have put a program of that name.
std::wstring SystemProgram(const wchar_t* name) {
    wchar_t folder[kMaxText];
    const UINT length = ::GetSystemDirectoryW(folder, kMaxText);
    if (length == 0 || length >= kMaxText) return std::wstring();
    return std::wstring(folder) + L"\\" + name;
}

// Text a command line can carry at all: a quote or a control character (a line break ends a
// command for cmd) in a folder name is no name a file system gives out.
bool FitsCommandLine(const wchar_t* text) {
    if (!text || !*text) return false;
    for (; *text; ++text)
        if (*text < 0x20 || *text == L'"') return false;
    return true;
}

} // namespace

std::wstring QuoteArgument(const std::wstring& text) {
    // The rules of CommandLineToArgvW and the C runtime: backslashes count only before a quote.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring CommandPromptParameters(const wchar_t* folder) {
    // cmd expands %NAME% before it looks at quotes; "%cd:~,%" is an empty part of a variable that
    // always exists, so each % stays a %. Inside the quotes & | < > ( ) ^ are plain text, and
    // delayed expansion (!NAME!) is switched off.
    std::wstring parameters = L"/v:off /k pushd \"";
    for (const wchar_t* c = folder; *c; ++c) {
        if (*c == L'%')
            parameters += L"%%cd:~,%";
        else
            parameters.push_back(*c);
    }
    parameters.push_back(L'"');
    return parameters;
}

namespace {

// A path list for SHFileOperationW: the path followed by two terminators.
std::wstring DoubleTerminated(const wchar_t* path) {
    std::wstring list(path);
    list.push_back(L'\0');
    return list;
}

} // namespace

bool IsSameOrNestedPath(const wchar_t* first, const wchar_t* second) {
    const size_t firstLength = wcslen(first), secondLength = wcslen(second);
    const wchar_t* longer = firstLength >= secondLength ? first : second;
    const size_t shorter = std::min(firstLength, secondLength);
    if (shorter == 0 || shorter > INT_MAX) return false;
    if (::StrCmpNIW(first, second, static_cast<int>(shorter)) != 0) return false;
    // A prefix counts only where a path component ends: C:\Data holds C:\Data\Reports, not C:\Database.
    return longer[shorter] == 0 || longer[shorter] == L'\\' || longer[shorter - 1] == L'\\';
}

bool MoveOrCopyToBookmark(HWND owner, const wchar_t* source, const wchar_t* destination, bool ctrl, bool shift) {
    if (!ctrl || !source || !destination) return false;
    if (IsNamespacePath(source) || IsNamespacePath(destination)) return false;
    // A relative or empty destination would be taken from the host's current folder.
    if (!destination[0] || ::PathIsRelativeW(destination)) return false;
    if (IsSameOrNestedPath(source, destination)) return false;  // cannot be copied into each other

    try {
        std::wstring question =
            FormatText(LoadResString(shift ? IDS_CONFIRM_MOVE : IDS_CONFIRM_COPY).c_str(), source, destination);
        if (::MessageBoxW(owner, question.c_str(), kMessageCaption, kQuestionStyle) != IDYES) return false;
        std::wstring from = DoubleTerminated(source), to = DoubleTerminated(destination);
        SHFILEOPSTRUCTW operation = {};
        operation.hwnd = owner;
        operation.wFunc = shift ? FO_MOVE : FO_COPY;
        operation.pFrom = from.c_str();
        operation.pTo = to.c_str();
        operation.fFlags = FOF_ALLOWUNDO | FOF_RENAMEONCOLLISION;
        return ::SHFileOperationW(&operation) == 0;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

void OpenInEditor(const wchar_t* path, bool ctrl) {
    if (!path || !*path) return;
    wchar_t program[kMaxText];
    TextEditorProgram(program);
    const std::wstring file = EqualsFoldAZ(program, kDefaultTextEditor) ? SystemProgram(L"notepad.exe") : program;
    StartProgram(file, QuoteArgument(path).c_str(), nullptr, ctrl);
}

void OpenCommandPrompt(const wchar_t* folder, bool ctrl) {
    if (!FitsCommandLine(folder)) {
        DV_TRACE(L"no command prompt for a folder name no command line can carry");
        return;
    }
    const std::wstring cmd = SystemProgram(L"cmd.exe");
    const bool unc = folder[0] == L'\\' && folder[1] == L'\\';
    if (!ctrl && !unc) {
        // The folder as the working folder: cmd never reads its name. Started directly, since the
        // shell's start may expand %NAME% in a working folder.
        std::wstring line = L"\"" + cmd + L"\"";
        STARTUPINFOW startup = {sizeof(startup)};
        PROCESS_INFORMATION started = {};
        if (!::CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, folder,
                              &startup, &started)) {
            DV_TRACE(L"the command prompt could not be started");
            return;
        }
        unique_handle process(started.hProcess), thread(started.hThread);
        return;
    }
    // An elevated program starts in the system folder whatever folder it is given, and cmd cannot
    // work in a UNC folder: cmd changes to the folder itself, its name quoted for cmd.
    const std::wstring system = SystemProgram(L"");
    StartProgram(cmd, CommandPromptParameters(folder).c_str(), system.c_str(), ctrl);
}

bool CopySelectionFromView() {
    try {
        com_ptr<IFolderView> view;
        if (FAILED(nav::GetFolderView(nullptr, view)) || !view) return false;
        com_ptr<IEnumIDList> items;
        if (FAILED(view->Items(SVGIO_SELECTION | SVGIO_FLAG_VIEWORDER, IID_IEnumIDList, items.put_void())) || !items)
            return false;
        com_ptr<IShellFolder> folder;
        if (FAILED(view->GetFolder(IID_IShellFolder, folder.put_void())) || !folder) return false;

        std::wstring text;
        for (;;) {
            unique_pidl item;
            ULONG fetched = 0;
            if (items->Next(1, reinterpret_cast<PITEMID_CHILD*>(item.put()), &fetched) != S_OK || !item) break;
            auto child = reinterpret_cast<PCUITEMID_CHILD>(item.get());
            auto nameOf = [&](SHGDNF kind, unique_cotaskmem& name) {
                STRRET value = {};
                return SUCCEEDED(folder->GetDisplayNameOf(child, kind, &value)) &&
                       SUCCEEDED(::StrRetToStrW(&value, child, reinterpret_cast<LPWSTR*>(name.put()))) && name;
            };
            unique_cotaskmem name;
            // Names are taken whole: a cut path on the Clipboard would name something else.
            if (!nameOf(SHGDN_FORPARSING, name)) continue;
            if (IsNamespacePath(static_cast<const wchar_t*>(name.get())) && !nameOf(SHGDN_NORMAL, name)) continue;
            if (!text.empty()) text += L"\r\n";
            text += static_cast<const wchar_t*>(name.get());
        }
        if (text.empty()) return false;
        CopyTextToClipboard(text);
        return true;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
}

void CopyTextToClipboard(const std::wstring& text) {
    if (text.empty()) return;
    unique_hwnd owner(::CreateWindowExW(WS_EX_NOACTIVATE, L"EDIT", nullptr, 0, 0, 0, 0, 0, ::GetDesktopWindow(),
                                        nullptr, nullptr, nullptr));
    if (!owner) return;
    if (!::OpenClipboard(owner.get())) return;
    ::EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (memory) {
        bool copied = false;
        {
            global_lock<wchar_t> locked(memory.get());
            if (locked) {
                memcpy(locked.get(), text.c_str(), bytes);
                copied = true;
            }
        }
        // Once the Clipboard holds the memory it is the system's.
        if (copied && ::SetClipboardData(CF_UNICODETEXT, memory.get())) memory.release();
    }
    ::CloseClipboard();
}

} // namespace dv::menu

namespace dv::menu {

namespace {

bool KeyDown(int key) { return ::GetKeyState(key) < 0; }

// Bookmarks the selected folders that are no bookmark yet; when every one is, removes their
// bookmarks after the question.
void ToggleBookmark(const MenuModel& model, MenuSelection& selection, HWND owner) {
    BookmarkTreePtr tree = LoadBookmarkTree();
    if (!tree) return;
    if (!model.AllBookmarked()) {
        for (const std::wstring& path : model.toBookmark) {
            DisplayNameOf(path.c_str(), selection.displayName);
            if (!tree->AddBookmark(path.c_str(), selection.displayName))
                DV_TRACE(L"bookmark not stored: %ls", path.c_str());
        }
    } else if (!model.toUnbookmark.empty() &&
               ConfirmRemoval(owner, selection.displayName, model.toUnbookmark.size() - 1)) {
        // Every selected folder's bookmarks, as the caption and the question name them.
        for (const std::wstring& path : model.toUnbookmark)
            if (!tree->RemoveBookmarksOf(path.c_str())) DV_TRACE(L"bookmark not removed: %ls", path.c_str());
    }
    ReleaseBookmarkTree(tree);
}

void CopyPathsToClipboard(const MenuModel& model, const MenuSelection& selection) {
    if (!model.ownPathOnly && CopySelectionFromView()) return;
    if (selection.firstPath[0] == 0) return;
    try {
        CopyTextToClipboard(selection.firstPath);
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
}

} // namespace

HRESULT RunMenuCommand(const MenuModel& model, MenuSelection& selection, UINT offset, CommandHost& host) {
    const bool ctrl = KeyDown(VK_LCONTROL) || KeyDown(VK_RCONTROL);
    const bool shift = KeyDown(VK_LSHIFT) || KeyDown(VK_RSHIFT);
    wchar_t* firstPath = selection.firstPath;
    try {
        const MenuEntry* entry = model.At(offset);
        switch (entry ? entry->kind : EntryKind::Separator) {
        case EntryKind::Editor:
            OpenInEditor(firstPath, ctrl);
            break;
        case EntryKind::CopyPaths:
            CopyPathsToClipboard(model, selection);
            break;
        case EntryKind::CommandPrompt:
            if (!::PathIsDirectoryW(firstPath)) ::PathRemoveFileSpecW(firstPath);
            OpenCommandPrompt(firstPath, ctrl);
            break;
        case EntryKind::BookmarkCommand:
            ToggleBookmark(model, selection, host.OwnerWindow());
            break;
        case EntryKind::Properties:
        case EntryKind::Update:
            host.OpenManager(entry->kind == EntryKind::Update);
            break;
        default: {
            if (offset >= model.jumpRange) return E_INVALIDARG;
            const std::wstring& target = model.TargetAt(offset);
            if (target.empty()) return E_INVALIDARG;  // no folder: a fixed entry, or an item without one
            if (!MoveOrCopyToBookmark(host.OwnerWindow(), firstPath, target.c_str(), ctrl, shift))
                host.JumpTo(target.c_str());
        }
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
    }
    return S_OK;
}

} // namespace dv::menu
