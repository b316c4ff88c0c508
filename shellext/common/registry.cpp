#include "registry.h"
#include "trace.h"
#include <cwchar>

namespace dv {

unique_hkey OpenRegKey(HKEY parent, const wchar_t* subKey, REGSAM access, DWORD options) noexcept {
    unique_hkey key;
    if (::RegOpenKeyExW(parent, subKey, options, access, key.put()) != ERROR_SUCCESS) key.release();
    return key;
}

unique_hkey CreateRegKey(HKEY parent, const wchar_t* subKey, REGSAM access, LONG* error,
                         DWORD* disposition) noexcept {
    unique_hkey key;
    DWORD how = 0;
    LONG rc = ::RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(),
                                &how);
    if (rc != ERROR_SUCCESS) {
        key.release();
        DV_TRACE(L"RegCreateKeyExW %ls failed: error %ld", subKey ? subKey : L"", rc);
    }
    if (error) *error = rc;
    if (disposition) *disposition = rc == ERROR_SUCCESS ? how : 0;
    return key;
}

bool ReadRegString(HKEY key, const wchar_t* name, wchar_t* dst, size_t capacity) noexcept {
    if (!dst || capacity == 0) return false;
    dst[0] = 0;
    if (!key) return false;
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>((capacity - 1) * sizeof(wchar_t));
    LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(dst), &bytes);
    if (rc == ERROR_MORE_DATA && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        // Longer than the buffer: read it whole elsewhere, then cut.
        DWORD full = 0;
        if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &full) != ERROR_SUCCESS) return false;
        std::wstring whole(full / sizeof(wchar_t) + 1, L'\0');
        full = static_cast<DWORD>(whole.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(whole.data()), &full) !=
            ERROR_SUCCESS)
            return false;
        whole.resize(full / sizeof(wchar_t));
        size_t n = wcsnlen(whole.c_str(), whole.size());
        if (n > capacity - 1) n = capacity - 1;
        if (n > 0 && IS_HIGH_SURROGATE(whole[n - 1])) --n;
        wmemcpy(dst, whole.data(), n);
        dst[n] = 0;
        return true;
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        dst[0] = 0;
        return false;
    }
    size_t chars = bytes / sizeof(wchar_t);  // an odd last byte is dropped
    if (chars > capacity - 1) chars = capacity - 1;
    dst[chars] = 0;
    return true;
}

bool ReadRegStringIfFits(HKEY key, const wchar_t* name, wchar_t* dst, size_t capacity, bool* wellFormed) noexcept {
    if (wellFormed) *wellFormed = false;
    if (!dst || capacity == 0) return false;
    dst[0] = 0;
    if (!key || capacity > 0x7FFFFFFF / sizeof(wchar_t)) return false;
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
    // One query: a value larger than the buffer fails with ERROR_MORE_DATA and counts as unreadable.
    LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(dst), &bytes);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        dst[0] = 0;
        return false;
    }
    size_t chars = bytes / sizeof(wchar_t);  // an odd last byte is dropped
    size_t length = wcsnlen(dst, chars);
    if (length >= capacity) {  // no room left for the terminator
        dst[0] = 0;
        return false;
    }
    if (wellFormed) *wellFormed = bytes % sizeof(wchar_t) == 0 && chars > 0 && dst[chars - 1] == 0;
    dst[length] = 0;
    return true;
}

bool ReadRegDword(HKEY key, const wchar_t* name, DWORD& value) noexcept {
    if (!key) return false;
    DWORD type = 0, data = 0, bytes = sizeof(data);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof(data))
        return false;
    value = data;
    return true;
}

LONG WriteRegString(HKEY key, const wchar_t* name, const wchar_t* text) noexcept {
    if (!text) text = L"";
    DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    if (rc != ERROR_SUCCESS) DV_TRACE(L"RegSetValueExW %ls failed: error %ld", name ? name : L"", rc);
    return rc;
}

LONG WriteRegDword(HKEY key, const wchar_t* name, DWORD value) noexcept {
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (rc != ERROR_SUCCESS) DV_TRACE(L"RegSetValueExW %ls failed: error %ld", name ? name : L"", rc);
    return rc;
}

} // namespace dv
