// Counts of the process's GDI objects, USER objects and kernel handles, for leak checks.
// Wine answers GetGuiResources and GetProcessHandleCount with 0, so the counts are taken the way
// that works on both: the GDI handle table that the PEB points to, and probing handle values.
#pragma once
#include <windows.h>
#include <winternl.h>

namespace dvtest {

struct ResourceCounts {
    unsigned gdi = 0, user = 0, kernel = 0;
    bool operator==(const ResourceCounts& o) const { return gdi == o.gdi && user == o.user && kernel == o.kernel; }
    bool operator!=(const ResourceCounts& o) const { return !(*this == o); }
};

inline unsigned CountGdiObjects() {
    // One 24-byte entry per handle (64-bit layout); a non-zero type marks a live object.
    struct Entry { UINT64 object; ULONG owner; USHORT unique; UCHAR type; UCHAR flags; UINT64 user; };
    static_assert(sizeof(void*) == 8, "64-bit layout");
    PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
    auto* table = *reinterpret_cast<const Entry* const*>(reinterpret_cast<const BYTE*>(peb) + 0xF8);
    if (!table) return ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    const ULONG pid = ::GetCurrentProcessId() & 0xFFFF;
    unsigned count = 0;
    for (unsigned i = 0; i < 0x4000; ++i) {
        ULONG owner = table[i].owner & 0xFFFF;
        if (table[i].type && (owner == pid || owner == 0)) ++count;
    }
    return count;
}

inline unsigned CountUserObjects() {
    unsigned count = 0;
    for (ULONG_PTR h = 0x20; h < 0x10000; h += 2)
        if (::IsMenu(reinterpret_cast<HMENU>(h)) || ::IsWindow(reinterpret_cast<HWND>(h))) ++count;
    return count;
}

inline unsigned CountKernelHandles() {
    unsigned count = 0;
    for (ULONG_PTR h = 4; h < 0x10000; h += 4) {
        DWORD flags;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++count;
    }
    return count;
}

inline ResourceCounts CurrentResourceCounts() {
    return {CountGdiObjects(), CountUserObjects(), CountKernelHandles()};
}

} // namespace dvtest
