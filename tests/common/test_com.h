// The small COM objects of the tests: one interface, created with one reference, deleted by its
// last Release, on the product's own IUnknown.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>
#include "common/com.h"

namespace dvtest {

// The interface table of an object with one interface (see dv::RefCountedUnknown).
template <class Interface>
class SingleInterfaceTable : public Interface {
public:
    static const QITAB* InterfaceTable() noexcept {
        static const QITAB table[] = {{&__uuidof(Interface), 0}, {nullptr, 0}};
        return table;
    }
};

// Made with new holding the caller's one reference; deleted by its last Release.
template <class Interface>
class SingleInterfaceObject : public dv::RefCountedUnknown<SingleInterfaceTable<Interface>> {
public:
    SingleInterfaceObject() noexcept { this->AddRef(); }
};

// A shell browser whose slots the tests do not use answer E_NOTIMPL; a test's browser adds
// IUnknown, BrowseObject and QueryActiveShellView.
class ShellBrowserStubs : public IShellBrowser {
public:
    virtual ~ShellBrowserStubs() = default;
    STDMETHODIMP GetWindow(HWND* window) override { *window = nullptr; return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModelessSB(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream** stream) override { *stream = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetControlWindow(UINT, HWND* window) override { *window = nullptr; return E_NOTIMPL; }
    STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }
};

} // namespace dvtest
