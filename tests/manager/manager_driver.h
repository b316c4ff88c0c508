// Drives the bookmark manager as a user would: it runs on a thread of its own (as in a host
// program), and the test thread finds its windows, posts keystrokes and presses buttons.
#pragma once
#include "common/handles.h"
#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <string>
#include <vector>

namespace mgrtest {

constexpr wchar_t kManagerTitle[] = L"Properties - Dirvane";
constexpr wchar_t kItemTitle[] = L"Item Properties - Dirvane";
constexpr wchar_t kRemoveTitle[] = L"Remove Item - Dirvane";

// Runs open() on a new thread and waits for the manager's window. The destructor
// closes every window of that thread (nested dialogs and message boxes first) and waits for it.
class ManagerSession {
public:
    // With withOle false the thread starts without OLE, as rundll32 does.
    explicit ManagerSession(std::function<void()> open, bool withOle = true);
    ~ManagerSession();
    ManagerSession(const ManagerSession&) = delete;
    ManagerSession& operator=(const ManagerSession&) = delete;

    HWND window() const { return window_; }
    HWND control(int id) const { return ::GetDlgItem(window_, id); }
    DWORD threadId() const { return threadId_; }
    // True once open() has returned.
    bool ended() const;
    // Waits until open() returns (after the manager was closed); false on time-out.
    bool WaitEnded(DWORD milliseconds = 10000) const;

    // A visible top-level window of the manager's thread with this title (null after the time limit).
    HWND WaitForWindow(const wchar_t* title, DWORD milliseconds = 10000) const;
    HWND FindWindowOfThread(const wchar_t* title) const;
    // Waits until no window with this title is left on the manager's thread.
    bool WaitGone(const wchar_t* title, DWORD milliseconds = 10000) const;

    // Ends every window of the thread; true when the thread has finished.
    bool CloseAll(DWORD milliseconds = 15000);

private:
    static DWORD WINAPI ThreadMain(void* self);
    std::function<void()> open_;
    bool withOle_;
    dv::unique_handle thread_;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// A key press as the thread's queue would deliver it (no modifier keys).
void PostKey(HWND window, UINT vk);
// A button click as the dialog receives it.
void Click(HWND dialog, int id);

// One node of a tree view, read from any thread of the process.
struct Node {
    HTREEITEM handle;
    std::wstring text;
    int image, selectedImage, stateImage;
    bool expanded;
    LPARAM data;
    int depth;
};
// Every node in display order (depth first).
std::vector<Node> ReadTree(HWND tree);
std::vector<std::wstring> Texts(const std::vector<Node>& nodes);
HTREEITEM FindNode(HWND tree, const std::wstring& text);
void SelectNode(HWND tree, HTREEITEM node);

// The text of a message box's message.
std::wstring MessageBoxText(HWND box);

// Writes a screenshot of the whole screen as a BMP file into the folder named by the environment
// variable DIRVANE_SCREENSHOTS (a Unix path); does nothing when it is not set.
void Screenshot(const char* name);

// Puts a file list (CF_HDROP) on the Clipboard, owned by a message-only window of the test thread;
// an empty list empties the Clipboard, as does the destructor. PutBlock puts any bytes there.
class ClipboardFiles {
public:
    ClipboardFiles();
    ~ClipboardFiles();
    void Put(const std::vector<std::wstring>& files);
    void PutBlock(const std::vector<BYTE>& block);

private:
    dv::unique_hwnd owner_;
};

// Registry helpers under HKCU\Software\Ostrelan\Dirvane\Items.
void SeedItem(const std::wstring& relativeKey, const wchar_t* address, const wchar_t* title, DWORD order,
              DWORD color = 0);
bool ItemKeyExists(const std::wstring& relativeKey);
std::wstring ItemString(const std::wstring& relativeKey, const wchar_t* value);
DWORD ItemDword(const std::wstring& relativeKey, const wchar_t* value, DWORD fallback = 0xFFFFFFFF);

} // namespace mgrtest
