// Stand-in windows for navigation tests: windows of any class name that record what they
// receive and can answer the shell-browser message with a recording shell browser.
#pragma once
#include "common/handles.h"
#include "common/test_com.h"
#include <shobjidl.h>
#include <string>
#include <vector>

namespace navtest {

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::wstring text;  // WM_SETTEXT's text; the window's text when Enter goes down
};

// Everything recorded windows and recorded edit boxes received, in order.
std::vector<Received>& Log();
std::vector<Received> LogOf(HWND window);
bool ReceivedMessage(HWND window, UINT message, WPARAM wParam);

// A recording shell browser: BrowseObject keeps a copy of the list and the flags;
// QueryActiveShellView gives the view set in view (or fails).
class FakeShellBrowser : public dvtest::ShellBrowserStubs {
public:
    FakeShellBrowser() = default;
    FakeShellBrowser(const FakeShellBrowser&) = delete;
    FakeShellBrowser& operator=(const FakeShellBrowser&) = delete;

    std::vector<dv::unique_pidl> browsed;
    std::vector<UINT> flags;
    IShellView* view = nullptr;
    LONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE list, UINT flags) override;
    STDMETHODIMP QueryActiveShellView(IShellView** out) override;
};

// Owns every window it makes and destroys them in reverse order.
class Windows {
public:
    Windows() = default;
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;
    ~Windows();

    // A recording window of class className (registered on first use); a child when parent is given.
    HWND Make(const wchar_t* className, HWND parent = nullptr, DWORD style = 0);
    // A control of a system class (Edit, RichEdit20W, SysTreeView32) with exactly this style;
    // edit boxes record their keystrokes and text changes into Log().
    HWND Control(const wchar_t* className, HWND parent, DWORD style);
    // A chain of recording windows of class link below top, ending in a window of lastClass.
    HWND Chain(HWND top, int links, const wchar_t* lastClass);

private:
    std::vector<HWND> made_;
};

// Unregisters a recording class (all its windows must be gone), so that a name differing only
// in letter case can be registered with its own spelling.
void ForgetClass(const wchar_t* className);

// Makes the window answer the shell-browser message with browser (null: stop answering).
void AnswerWithBrowser(HWND window, IShellBrowser* browser);
// Makes the window forward the shell-browser message to another window.
void ForwardBrowserMessage(HWND window, HWND to);

// The desktop's parse of a display name; null when it does not parse.
dv::unique_pidl Parse(const std::wstring& name);
bool SameList(PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b);
// The file-system path of a list, or its parsing name for virtual folders.
std::wstring NameOf(PCUIDLIST_RELATIVE list);

// Pumps this thread's messages until nothing is queued.
void Pump();

} // namespace navtest
