#include "nav_windows.h"
#include "navigate/navigate.h"
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <map>
#include <set>

namespace navtest {

namespace {

std::map<HWND, IShellBrowser*>& Answers() {
    static std::map<HWND, IShellBrowser*> answers;
    return answers;
}

std::map<HWND, HWND>& Forwards() {
    static std::map<HWND, HWND> forwards;
    return forwards;
}

bool IsRecorded(UINT message) {
    switch (message) {
    case WM_KEYDOWN: case WM_KEYUP: case WM_CHAR: case WM_SETTEXT: case BFFM_SETSELECTIONW:
    case dv::nav::kGetShellBrowserMessage:
        return true;
    default:
        return false;
    }
}

void Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Received entry{window, message, wParam, lParam, {}};
    if (message == WM_SETTEXT && lParam) entry.text = reinterpret_cast<const wchar_t*>(lParam);
    if (message == WM_KEYDOWN && wParam == VK_RETURN) entry.text = dv::WindowText(window);
    // The list is freed once the message returns: keep its name instead.
    if (message == BFFM_SETSELECTIONW)
        entry.text = wParam ? reinterpret_cast<const wchar_t*>(lParam)
                            : NameOf(reinterpret_cast<PCUIDLIST_RELATIVE>(lParam));
    Log().push_back(entry);
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsRecorded(message)) Record(window, message, wParam, lParam);
    if (message == dv::nav::kGetShellBrowserMessage) {
        auto answer = Answers().find(window);
        if (answer != Answers().end()) return reinterpret_cast<LRESULT>(answer->second);
        auto forward = Forwards().find(window);
        if (forward != Forwards().end()) return ::SendMessageW(forward->second, message, wParam, lParam);
        return 0;
    }
    if (message == BFFM_SETSELECTIONW) return TRUE;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK RecordingSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (IsRecorded(message)) Record(window, message, wParam, lParam);
    return ::DefSubclassProc(window, message, wParam, lParam);
}

std::set<std::wstring>& Registered() {
    static std::set<std::wstring> registered;
    return registered;
}

void RegisterRecordingClass(const wchar_t* className) {
    if (!Registered().insert(className).second) return;
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    ::RegisterClassExW(&wc);
}

} // namespace

std::vector<Received>& Log() {
    static std::vector<Received> log;
    return log;
}

std::vector<Received> LogOf(HWND window) {
    std::vector<Received> result;
    for (const Received& entry : Log())
        if (entry.window == window) result.push_back(entry);
    return result;
}

bool ReceivedMessage(HWND window, UINT message, WPARAM wParam) {
    for (const Received& entry : Log())
        if (entry.window == window && entry.message == message && entry.wParam == wParam) return true;
    return false;
}

STDMETHODIMP FakeShellBrowser::QueryInterface(REFIID iid, void** out) {
    if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IShellBrowser) {
        *out = static_cast<IShellBrowser*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FakeShellBrowser::BrowseObject(PCUIDLIST_RELATIVE list, UINT browseFlags) {
    browsed.emplace_back(list ? ::ILClone(list) : nullptr);
    flags.push_back(browseFlags);
    return S_OK;
}

STDMETHODIMP FakeShellBrowser::QueryActiveShellView(IShellView** out) {
    *out = view;
    if (!view) return E_FAIL;
    view->AddRef();
    return S_OK;
}

Windows::~Windows() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        Answers().erase(*it);
        Forwards().erase(*it);
        if (::IsWindow(*it)) ::DestroyWindow(*it);
    }
    Pump();
    Log().clear();
}

HWND Windows::Make(const wchar_t* className, HWND parent, DWORD style) {
    RegisterRecordingClass(className);
    // Hidden top-level windows: Wine waits two seconds for a window manager when a shown one goes.
    if (!style) style = parent ? (WS_CHILD | WS_VISIBLE) : WS_POPUP;
    HWND window = ::CreateWindowExW(0, className, className, style, 10, 10, parent ? 200 : 500,
                                    parent ? 150 : 400, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window) made_.push_back(window);
    return window;
}

HWND Windows::Control(const wchar_t* className, HWND parent, DWORD style) {
    static bool loaded = false;
    if (!loaded) {
        INITCOMMONCONTROLSEX init = {sizeof(init), ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&init);
        ::LoadLibraryW(L"riched20.dll");  // kept for the life of the test program
        loaded = true;
    }
    HWND window = ::CreateWindowExW(0, className, L"", style, 5, 5, 180, 24, parent, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (!window) return nullptr;
    made_.push_back(window);
    if (::lstrcmpW(className, L"SysTreeView32") != 0) ::SetWindowSubclass(window, RecordingSubclass, 1, 0);
    return window;
}

HWND Windows::Chain(HWND top, int links, const wchar_t* lastClass) {
    HWND window = top;
    for (int i = 0; i < links; ++i) window = Make(L"DvNavLink", window);
    return Make(lastClass, window);
}

void ForgetClass(const wchar_t* className) {
    ::UnregisterClassW(className, ::GetModuleHandleW(nullptr));
    Registered().erase(className);
}

void AnswerWithBrowser(HWND window, IShellBrowser* browser) {
    if (browser) Answers()[window] = browser;
    else Answers().erase(window);
}

void ForwardBrowserMessage(HWND window, HWND to) { Forwards()[window] = to; }

dv::unique_pidl Parse(const std::wstring& name) {
    dv::com_ptr<IShellFolder> desktop;
    dv::unique_pidl list;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return list;
    std::wstring buffer = name;
    PIDLIST_RELATIVE parsed = nullptr;
    if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, buffer.data(), nullptr, &parsed, nullptr)))
        list.reset(reinterpret_cast<LPITEMIDLIST>(parsed));
    else
        ::CoTaskMemFree(parsed);
    return list;
}

bool SameList(PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) {
    return a && b && ::ILIsEqual(reinterpret_cast<PCIDLIST_ABSOLUTE>(a), reinterpret_cast<PCIDLIST_ABSOLUTE>(b));
}

std::wstring NameOf(PCUIDLIST_RELATIVE list) {
    if (!list) return L"";
    wchar_t path[MAX_PATH] = L"";
    if (::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(list), path) && path[0]) return path;
    dv::com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return L"";
    STRRET name = {};
    if (FAILED(desktop->GetDisplayNameOf(reinterpret_cast<PCUITEMID_CHILD>(list), SHGDN_FORPARSING, &name)))
        return L"";
    dv::unique_cotaskmem text;
    if (FAILED(::StrRetToStrW(&name, reinterpret_cast<PCUITEMID_CHILD>(list),
                              reinterpret_cast<LPWSTR*>(text.put()))))
        return L"";
    return static_cast<const wchar_t*>(text.get());
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

} // namespace navtest
