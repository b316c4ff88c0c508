// IUnknown for the small COM objects of the tests: one interface, created with one reference,
// deleted by its last Release.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

namespace dvtest {

template <class Interface>
class SingleInterfaceObject : public Interface {
public:
    virtual ~SingleInterfaceObject() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

private:
    ULONG refs_ = 1;
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
