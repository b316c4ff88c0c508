#include "selection_data.h"
#include "handles.h"
#include <shlobj.h>
#include <cstring>

namespace dv {

namespace {

// Reads a value that may lie at any alignment.
template <class T>
T ReadAt(const BYTE* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof(T));
    return value;
}

// Size of a locked global block; zero for a handle that is not one.
size_t BlockSize(HGLOBAL memory) { return memory ? ::GlobalSize(memory) : 0; }

} // namespace

bool ParseDropFiles(const void* block, size_t size, std::vector<std::wstring>& names) {
    names.clear();
    if (!block || size < sizeof(DROPFILES)) return false;
    const BYTE* bytes = static_cast<const BYTE*>(block);
    const DROPFILES header = ReadAt<DROPFILES>(bytes, 0);
    if (header.pFiles < sizeof(DROPFILES) || header.pFiles >= size) return false;
    if (header.fWide) {
        const size_t units = (size - header.pFiles) / sizeof(wchar_t);
        std::wstring name;
        for (size_t i = 0; i < units; ++i) {
            const wchar_t unit = ReadAt<wchar_t>(bytes, header.pFiles + i * sizeof(wchar_t));
            if (unit != 0) {
                name.push_back(unit);
            } else if (name.empty()) {
                return true;  // the empty name that ends the list
            } else {
                names.push_back(std::move(name));
                name.clear();
            }
        }
    } else {
        const char* text = reinterpret_cast<const char*>(bytes + header.pFiles);
        const size_t length = size - header.pFiles;
        size_t start = 0;
        for (size_t i = 0; i < length; ++i) {
            if (text[i] != 0) continue;
            if (i == start) return true;
            const int count = static_cast<int>(i - start);
            int wide = ::MultiByteToWideChar(CP_ACP, 0, text + start, count, nullptr, 0);
            if (wide <= 0) break;
            std::wstring name(static_cast<size_t>(wide), L'\0');
            ::MultiByteToWideChar(CP_ACP, 0, text + start, count, name.data(), wide);
            names.push_back(std::move(name));
            start = i + 1;
        }
    }
    names.clear();  // no terminating empty name within the block
    return false;
}

bool IsSoundIdListArray(const void* block, size_t size) {
    if (!block || size < sizeof(UINT)) return false;
    const BYTE* bytes = static_cast<const BYTE*>(block);
    const UINT count = ReadAt<UINT>(bytes, 0);
    // The folder's offset and one per item follow the count.
    const unsigned long long offsetsEnd = (static_cast<unsigned long long>(count) + 2) * sizeof(UINT);
    if (offsetsEnd > size) return false;
    // Lists that do not overlap take at most one step per two bytes of the block; offsets that all
    // lead into one long list would make the walk quadratic, so that is refused as malformed.
    size_t steps = size / sizeof(USHORT) + 1;
    for (UINT i = 0; i <= count; ++i) {
        size_t at = ReadAt<UINT>(bytes, (i + 1) * sizeof(UINT));
        for (;;) {
            if (steps-- == 0) return false;
            if (at > size || size - at < sizeof(USHORT)) return false;
            const USHORT itemSize = ReadAt<USHORT>(bytes, at);
            if (itemSize == 0) break;
            if (itemSize < sizeof(USHORT)) return false;
            at += itemSize;
        }
    }
    return true;
}

bool ReadDropFiles(HGLOBAL memory, std::vector<std::wstring>& names) {
    names.clear();
    const size_t size = BlockSize(memory);
    global_lock<const void> locked(memory);
    return locked && ParseDropFiles(locked.get(), size, names);
}

bool IsSoundIdListArray(HGLOBAL memory) {
    const size_t size = BlockSize(memory);
    global_lock<const void> locked(memory);
    return locked && IsSoundIdListArray(locked.get(), size);
}

} // namespace dv
