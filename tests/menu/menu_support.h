// Helpers for the menu tests: reading a built menu, seeding bookmarks, holding keys, answering
// message boxes from another thread, a shell-browser window with a folder view, and processes
// started by the commands.
#pragma once
#include "common/handles.h"
#include <windows.h>
#include <shobjidl.h>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace menutest {

// One item of a menu, depth-first with its submenus.
struct Row {
    int depth = 0;
    std::wstring text;       // empty for separators
    UINT id = 0;
    bool separator = false;
    bool grayed = false;
    bool submenu = false;
    HBITMAP image = nullptr;    // hbmpItem (HBMMENU_CALLBACK for owner-drawn images)
    HBITMAP checkMark = nullptr;  // the unchecked check-mark bitmap
};
std::vector<Row> ReadMenu(HMENU menu);
// The first row whose text equals text; null when none.
const Row* Find(const std::vector<Row>& rows, const std::wstring& text);
// The rows as text, one per line, for readable failures.
std::wstring Describe(const std::vector<Row>& rows);

// Holds Ctrl and/or Shift in this thread's key state; restores the previous state.
class HeldKeys {
public:
    HeldKeys(bool ctrl, bool shift);
    ~HeldKeys();
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;
private:
    BYTE saved_[256] = {};
};

// Watches, from a thread of its own, for a message box of this process with the given caption and
// answers it with the button (IDYES or IDNO) once; keeps the text it showed.
class Answerer {
public:
    Answerer(const wchar_t* caption, int button);
    ~Answerer();
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;
    bool Answered() const { return answered_; }
    std::wstring Text() const;
private:
    void Run();
    std::wstring caption_;
    int button_;
    std::atomic<bool> stop_{false}, answered_{false};
    std::wstring text_;
    std::thread thread_;
};

// A top-level window that answers WM_USER + 7 with a shell browser. The browser records the
// folders it is asked to browse to; its active view shows the named items of folder, all selected,
// in the given order.
class BrowserWindow {
public:
    BrowserWindow();
    ~BrowserWindow();
    BrowserWindow(const BrowserWindow&) = delete;
    BrowserWindow& operator=(const BrowserWindow&) = delete;
    HWND window() const { return window_; }
    // Folder and names as the desktop parses them ("" for the desktop itself).
    void ShowSelection(const std::wstring& folder, const std::vector<std::wstring>& names);
    // The paths (or parsing names) of the folders browsed to, in order.
    std::vector<std::wstring> Browsed() const;
    // The BrowseObject flags of each of them.
    std::vector<UINT> BrowseFlags() const;
    // Its shell browser (not add-referenced: it lives as long as the window).
    IShellBrowser* browser() const;
    bool MakeForeground();
    struct Impl;
private:
    HWND window_ = nullptr;
    std::unique_ptr<Impl> impl_;
};

// The file-system path of an item list, or its parsing name.
std::wstring NameOf(PCIDLIST_ABSOLUTE list);

// A UTF-8 text file (with or without its byte-order mark) as wide text; empty when unreadable.
std::wstring ReadTextFile(const std::wstring& path);

// Text on the Clipboard as Unicode text; empty when there is none.
std::wstring ClipboardText();
void SetClipboardText(const std::wstring& text);

// What a started program received.
struct StartedProgram {
    std::wstring image;             // the full path of its executable
    std::wstring commandLine;
    std::wstring currentDirectory;  // with its trailing backslash
    // The command line after the program's name and the blanks behind it.
    std::wstring Parameters() const;
};
// A child process of this process named exeName (e.g. L"cmd.exe") that appeared, read until it has
// a command line and settled holds for it (or ten seconds passed), then ended. Empty when none
// appeared in time.
StartedProgram NewChild(const wchar_t* exeName, const std::function<bool(const StartedProgram&)>& settled = nullptr);

} // namespace menutest
