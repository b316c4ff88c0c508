// Raw registry access for the store's tests: they write what any process (or damage) could leave
// under the product key and read back exactly what the store wrote.
#pragma once
#include "common/test_support.h"
#include "store/bookmarks.h"
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>
#include <string>
#include <vector>

namespace storetest {

// HKCU\...\Items, or one of its subkeys ("1\\2").
inline std::wstring ItemsPath(const std::wstring& sub = L"") {
    return sub.empty() ? std::wstring(dv::store::kItemsKeyPath) : std::wstring(dv::store::kItemsKeyPath) + L"\\" + sub;
}

inline void MakeKey(const std::wstring& path) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                               &key, nullptr));
    ::RegCloseKey(key);
}

// Stores exactly bytes. RegSetValueExW counts in a terminator that follows a string's data in
// memory, so the data is copied in front of padding that is not a null.
inline void StoreRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    std::vector<BYTE> padded(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + bytes);
    padded.insert(padded.end(), 4, 'Z');
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, type, padded.data(), bytes));
}

inline void SetRaw(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                               &key, nullptr));
    StoreRaw(key, name, type, data, bytes);
    ::RegCloseKey(key);
}

inline void SetSz(const std::wstring& path, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    SetRaw(path, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
    SetRaw(path, name, REG_DWORD, &value, sizeof(value));
}

// An item key as the store writes one; a null title leaves "Title" out.
inline void MakeItem(const std::wstring& sub, const wchar_t* address, const wchar_t* title, DWORD order) {
    SetSz(ItemsPath(sub), L"Address", address);
    if (title) SetSz(ItemsPath(sub), L"Title", title);
    SetDword(ItemsPath(sub), L"Order", order);
}

struct Value {
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    std::wstring Text() const {
        return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    }
    DWORD Dword() const { return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0xDEADBEEF; }
};

inline Value GetValue(const std::wstring& path, const wchar_t* name) {
    Value value;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &bytes) == ERROR_SUCCESS) {
        value.data.resize(bytes);
        value.exists = ::RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &bytes) == ERROR_SUCCESS;
    }
    ::RegCloseKey(key);
    return value;
}

inline bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// A string value exactly as written with its terminating null.
inline void ExpectStoredSz(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    Value value = GetValue(path, name);
    ASSERT_TRUE(value.exists) << name;
    EXPECT_EQ(DWORD(REG_SZ), value.type) << name;
    EXPECT_EQ(std::wstring(text) + L'\0', value.Text()) << name;
}

inline void ExpectStoredDword(const std::wstring& path, const wchar_t* name, DWORD expected) {
    Value value = GetValue(path, name);
    ASSERT_TRUE(value.exists) << name;
    EXPECT_EQ(DWORD(REG_DWORD), value.type) << name;
    EXPECT_EQ(expected, value.Dword()) << name;
}

inline const dv::store::BookmarkItem* Child(const dv::store::BookmarkItem& parent, const std::wstring& keyName) {
    for (const auto& child : parent.children)
        if (child->keyName == keyName) return child.get();
    return nullptr;
}

// Key names of parent's children in list order, joined by commas.
inline std::wstring ChildNames(const dv::store::BookmarkItem& parent) {
    std::wstring names;
    for (const auto& child : parent.children) names += (names.empty() ? L"" : L",") + child->keyName;
    return names;
}

// The item at a key path below the root ("1\\2"); the test fails when there is none.
inline const dv::store::BookmarkItem& ItemAt(const dv::store::BookmarkTree& tree, const std::wstring& path) {
    const dv::store::BookmarkItem* item = &tree.root;
    for (size_t start = 0; item && start <= path.size();) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        item = Child(*item, path.substr(start, end - start));
        start = end + 1;
    }
    if (!item) ADD_FAILURE() << "no item at the key path";
    return item ? *item : tree.root;
}

// A group with two sub-items and two more top-level items:
// 1 "A" C:\a (1\1 "A1" C:\a\1, 1\2 "A2" C:\a\2), 2 "B" C:\b, 3 "C" C:\c.
inline void SeedGroupTree() {
    MakeItem(L"1", L"C:\\a", L"A", 1);
    MakeItem(L"1\\1", L"C:\\a\\1", L"A1", 1);
    MakeItem(L"1\\2", L"C:\\a\\2", L"A2", 2);
    MakeItem(L"2", L"C:\\b", L"B", 2);
    MakeItem(L"3", L"C:\\c", L"C", 3);
}

// A symbolic link key at path (under HKCU) to an NT registry path; deleted again, as a link and not
// through its target, when the object goes (before the product key is cleaned).
class RegistryLink {
public:
    RegistryLink(const std::wstring& path, const std::wstring& target) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            ADD_FAILURE() << "cannot create a link key";
            return;
        }
        ::RegSetValueExW(key_, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                         static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    }
    RegistryLink(const RegistryLink&) = delete;
    RegistryLink& operator=(const RegistryLink&) = delete;
    ~RegistryLink() {
        if (!key_) return;
        using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
        auto ntDeleteKey = reinterpret_cast<NtDeleteKeyFn>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        if (ntDeleteKey) ntDeleteKey(key_);
        ::RegCloseKey(key_);
    }

private:
    HKEY key_ = nullptr;
};

// Every test starts and ends without the product key.
class StoreTest : public ::testing::Test {
    dvtest::CleanProductKey clean_;
};

} // namespace storetest
