// Owning wrappers for Windows handles and COM pointers: every handle has exactly one owner,
// so no early return can leak it.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <utility>

namespace dv {

// A movable, non-copyable owner of one handle value; Traits says what "empty" is and how to close.
template <class Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;
    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For out-parameters: frees the current value and hands out the slot.
    pointer* put() noexcept { reset(); return &value_; }

private:
    pointer value_ = Traits::invalid();
};

#define DV_HANDLE_TRAITS(Name, Type, Invalid, CloseExpr)              \
    struct Name {                                                      \
        using pointer = Type;                                          \
        static pointer invalid() noexcept { return Invalid; }          \
        static void close(pointer h) noexcept { CloseExpr; }           \
    }

DV_HANDLE_TRAITS(hkey_traits, HKEY, nullptr, ::RegCloseKey(h));
DV_HANDLE_TRAITS(handle_traits, HANDLE, nullptr, ::CloseHandle(h));
DV_HANDLE_TRAITS(file_traits, HANDLE, INVALID_HANDLE_VALUE, ::CloseHandle(h));
DV_HANDLE_TRAITS(hmenu_traits, HMENU, nullptr, ::DestroyMenu(h));
DV_HANDLE_TRAITS(hicon_traits, HICON, nullptr, ::DestroyIcon(h));
DV_HANDLE_TRAITS(hbitmap_traits, HBITMAP, nullptr, ::DeleteObject(h));
DV_HANDLE_TRAITS(hbrush_traits, HBRUSH, nullptr, ::DeleteObject(h));
DV_HANDLE_TRAITS(hfont_traits, HFONT, nullptr, ::DeleteObject(h));
DV_HANDLE_TRAITS(hpen_traits, HPEN, nullptr, ::DeleteObject(h));
DV_HANDLE_TRAITS(hdc_traits, HDC, nullptr, ::DeleteDC(h));
DV_HANDLE_TRAITS(himagelist_traits, HIMAGELIST, nullptr, ::ImageList_Destroy(h));
DV_HANDLE_TRAITS(haccel_traits, HACCEL, nullptr, ::DestroyAcceleratorTable(h));
DV_HANDLE_TRAITS(hhook_traits, HHOOK, nullptr, ::UnhookWindowsHookEx(h));
DV_HANDLE_TRAITS(hmodule_traits, HMODULE, nullptr, ::FreeLibrary(h));
DV_HANDLE_TRAITS(pidl_traits, LPITEMIDLIST, nullptr, ::CoTaskMemFree(h));
DV_HANDLE_TRAITS(cotaskmem_traits, void*, nullptr, ::CoTaskMemFree(h));
DV_HANDLE_TRAITS(hglobal_traits, HGLOBAL, nullptr, ::GlobalFree(h));
DV_HANDLE_TRAITS(hwnd_traits, HWND, nullptr, ::DestroyWindow(h));

using unique_hkey = unique_any<hkey_traits>;
using unique_handle = unique_any<handle_traits>;
using unique_hfile = unique_any<file_traits>;
using unique_hmenu = unique_any<hmenu_traits>;
using unique_hicon = unique_any<hicon_traits>;
using unique_hbitmap = unique_any<hbitmap_traits>;
using unique_hbrush = unique_any<hbrush_traits>;
using unique_hfont = unique_any<hfont_traits>;
using unique_hpen = unique_any<hpen_traits>;
using unique_hdc = unique_any<hdc_traits>;
using unique_himagelist = unique_any<himagelist_traits>;
using unique_haccel = unique_any<haccel_traits>;
using unique_hhook = unique_any<hhook_traits>;
using unique_hmodule = unique_any<hmodule_traits>;
using unique_pidl = unique_any<pidl_traits>;
using unique_cotaskmem = unique_any<cotaskmem_traits>;
using unique_hglobal = unique_any<hglobal_traits>;
using unique_hwnd = unique_any<hwnd_traits>;

// A window DC obtained with GetDC, released with ReleaseDC.
class window_dc {
public:
    explicit window_dc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    ~window_dc() { if (dc_) ::ReleaseDC(window_, dc_); }
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }
private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a DC for the life of the scope.
class select_object {
public:
    select_object(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
    select_object(const select_object&) = delete;
    select_object& operator=(const select_object&) = delete;
    ~select_object() { if (old_) ::SelectObject(dc_, old_); }
private:
    HDC dc_;
    HGDIOBJ old_;
};

// Memory of a global handle, locked for the life of the scope.
template <class T>
class global_lock {
public:
    explicit global_lock(HGLOBAL memory) noexcept : memory_(memory), data_(static_cast<T*>(::GlobalLock(memory))) {}
    global_lock(const global_lock&) = delete;
    global_lock& operator=(const global_lock&) = delete;
    ~global_lock() { if (data_) ::GlobalUnlock(memory_); }
    T* get() const noexcept { return data_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }
private:
    HGLOBAL memory_;
    T* data_;
};

// A slim reader/writer lock held exclusively for the life of the scope.
class srw_exclusive {
public:
    explicit srw_exclusive(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    srw_exclusive(const srw_exclusive&) = delete;
    srw_exclusive& operator=(const srw_exclusive&) = delete;
    ~srw_exclusive() { ::ReleaseSRWLockExclusive(&lock_); }
private:
    SRWLOCK& lock_;
};

// A STGMEDIUM released with ReleaseStgMedium.
struct unique_stgmedium : STGMEDIUM {
    unique_stgmedium() noexcept : STGMEDIUM{} {}
    unique_stgmedium(const unique_stgmedium&) = delete;
    unique_stgmedium& operator=(const unique_stgmedium&) = delete;
    ~unique_stgmedium() { if (tymed != TYMED_NULL) ::ReleaseStgMedium(this); }
};

// CoInitializeEx/CoUninitialize for a thread's scope.
class com_init {
public:
    explicit com_init(DWORD model = COINIT_APARTMENTTHREADED) noexcept : hr_(::CoInitializeEx(nullptr, model)) {}
    com_init(const com_init&) = delete;
    com_init& operator=(const com_init&) = delete;
    ~com_init() { if (SUCCEEDED(hr_)) ::CoUninitialize(); }
    HRESULT result() const noexcept { return hr_; }
private:
    HRESULT hr_;
};

// Reference-owning COM pointer.
template <class T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    explicit com_ptr(T* p, bool addRef = true) noexcept : p_(p) { if (p_ && addRef) p_->AddRef(); }
    com_ptr(const com_ptr& o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    com_ptr& operator=(com_ptr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~com_ptr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { if (T* p = std::exchange(p_, nullptr)) p->Release(); }
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    T** put() noexcept { reset(); return &p_; }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    template <class U>
    com_ptr<U> query() const noexcept {
        com_ptr<U> result;
        if (p_) p_->QueryInterface(__uuidof(U), result.put_void());
        return result;
    }

private:
    T* p_ = nullptr;
};

} // namespace dv
