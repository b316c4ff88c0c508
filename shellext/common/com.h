// The small COM layer of the DLL: module lock count, reference-counted objects with an
// interface table, and a cached class factory.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <new>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace dv {

// The module's resource instance: the binary this code is linked into (the DLL, or a test program).
inline HINSTANCE ResourceInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// Process-wide module state: the lock count behind DllCanUnloadNow, and the lock that
// serialises lazy creation of class objects.
class ModuleState {
public:
    ModuleState() noexcept;
    ~ModuleState();
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    LONG Lock() noexcept { return ::InterlockedIncrement(&lockCount_); }
    LONG Unlock() noexcept { return ::InterlockedDecrement(&lockCount_); }
    LONG GetLockCount() const noexcept { return lockCount_; }
    bool IsInitialized() const noexcept { return initialized_; }
    CRITICAL_SECTION& CreationLock() noexcept { return creationLock_; }

private:
    volatile LONG lockCount_ = 0;
    bool initialized_ = false;
    CRITICAL_SECTION creationLock_{};
};

ModuleState& Module() noexcept;

// RAII module lock, for threads and objects that must keep the DLL loaded.
class ModuleLock {
public:
    ModuleLock() noexcept { Module().Lock(); }
    ModuleLock(const ModuleLock&) noexcept { Module().Lock(); }
    ModuleLock& operator=(const ModuleLock&) noexcept { return *this; }
    ~ModuleLock() { Module().Unlock(); }
};

// The one IUnknown of our objects. Base provides
//   static const QITAB* InterfaceTable();   // null-terminated, IUnknown answered by the first entry
// QueryInterface searches that table; AddRef and Release keep a thread-safe count. With
// deleteOnLastRelease the last Release deletes the object (made with new); without, its owner
// decides its lifetime (a member of another object) and the count only answers COM's bookkeeping.
template <class Base, bool deleteOnLastRelease = true>
class RefCountedUnknown : public Base {
public:
    using Base::Base;
    virtual ~RefCountedUnknown() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return ::QISearch(static_cast<Base*>(this), const_cast<QITAB*>(Base::InterfaceTable()), iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refCount_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count = ::InterlockedDecrement(&refCount_);
        if constexpr (deleteOnLastRelease) {
            if (count == 0) delete this;
        } else if (count < 0) {
            ::InterlockedExchange(&refCount_, 0);  // more releases than references: stay at none
            count = 0;
        }
        return static_cast<ULONG>(count);
    }

private:
    volatile LONG refCount_ = 0;
};

// A heap object around T (see RefCountedUnknown) that holds one module lock for its lifetime.
template <class T>
class ComObject final : public RefCountedUnknown<T> {
public:
    template <class... Args>
    explicit ComObject(Args&&... args) : RefCountedUnknown<T>(static_cast<Args&&>(args)...) { Module().Lock(); }
    ~ComObject() override { Module().Unlock(); }

    // Creates an object and asks it for an interface; the object is destroyed again on failure.
    template <class... Args>
    static HRESULT CreateInstance(REFIID iid, void** out, Args&&... args) noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        auto* object = new (std::nothrow) ComObject(static_cast<Args&&>(args)...);
        if (!object) return E_OUTOFMEMORY;
        object->AddRef();
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
};

// The class object: created once per process, kept until unload. Its module lock follows the
// cached-object rule: a lock while a client (beyond the module's own reference) holds it.
template <class T>
class CachedClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        LONG count = ::InterlockedIncrement(&refCount_);
        if (count == 2) Module().Lock();
        return static_cast<ULONG>(count);
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count = ::InterlockedDecrement(&refCount_);
        if (count == 0) delete this;
        else if (count == 1) Module().Unlock();
        return static_cast<ULONG>(count);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return ComObject<T>::CreateInstance(iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) Module().Lock(); else Module().Unlock();
        return S_OK;
    }

private:
    volatile LONG refCount_ = 0;
};

} // namespace dv
