// Text helpers shared by every subsystem: A-to-Z-only case folding, bounded copies,
// formatting and strings from the module's resources.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>

namespace dv {

// Buffers of 260 characters hold paths, captions, registry strings and edit texts (259 + null).
constexpr size_t kMaxText = 260;

inline wchar_t FoldAZ(wchar_t c) noexcept { return (c >= L'A' && c <= L'Z') ? wchar_t(c + (L'a' - L'A')) : c; }

// Compares by code unit after folding only A-Z to a-z; <0, 0 or >0.
int CompareFoldAZ(const wchar_t* a, const wchar_t* b) noexcept;
int CompareFoldAZ(const wchar_t* a, const wchar_t* b, size_t count) noexcept;
inline bool EqualsFoldAZ(const wchar_t* a, const wchar_t* b) noexcept { return CompareFoldAZ(a, b) == 0; }

// Copies src into dst[capacity], cut to capacity-1 characters, always terminated.
// A cut never splits a surrogate pair. Returns false when the text was cut.
bool CopyText(wchar_t* dst, size_t capacity, const wchar_t* src) noexcept;

// printf-style formatting with the Windows meaning of %s (a wide string); no length limit.
std::wstring FormatText(const wchar_t* format, ...) noexcept;
std::wstring FormatTextV(const wchar_t* format, va_list args) noexcept;

// A string from the module's string table; empty when absent.
std::wstring LoadResString(UINT id) noexcept;

// Text of a window (no length limit).
std::wstring WindowText(HWND window);

// The shell's test for a namespace path: the first two characters are "::" (nav::HasNamespaceSegment
// finds "::" anywhere).
inline bool IsNamespacePath(const wchar_t* path) noexcept { return path && path[0] == L':' && path[1] == L':'; }

} // namespace dv
