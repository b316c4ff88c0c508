// The trace: one line per failure that the user may notice but that nothing reports, so that "the
// menu is empty" can be diagnosed. Lines go to OutputDebugStringW, which DebugView and a debugger
// show (under Wine: WINEDEBUG=+debugstr). Tracing never throws, never shows anything and never
// fails its caller; it is called on failure paths only, so the normal path pays nothing for it.
//
//     DV_TRACE(L"tree not loaded: %ls", path);
//     DV_TRACE_HR(hr, L"IShellFolder::ParseDisplayName");
//     DV_TRACE_WIN32(::GetLastError(), L"RegCreateKeyExW Items");
//     catch (...) { DV_TRACE_EXCEPTION(); }
#pragma once
#include <windows.h>

namespace dv::trace {

// Longest line written, in characters; a longer message is cut and ends in "...".
constexpr size_t kMaxLine = 512;

// Writes "Dirvane: <file>(<line>): <message>" followed by a line feed. format as for swprintf
// (%ls for wide strings).
void Write(const char* file, int line, const wchar_t* format, ...) noexcept;

// Where lines go instead of OutputDebugStringW; null restores it. For tests in the same process.
using Sink = void (*)(const wchar_t* line) noexcept;
void SetSinkForTesting(Sink sink) noexcept;

} // namespace dv::trace

#define DV_TRACE(...) ::dv::trace::Write(__FILE__, __LINE__, __VA_ARGS__)
#define DV_TRACE_HR(hr, what) DV_TRACE(L"%ls failed: 0x%08lX", what, static_cast<unsigned long>(hr))
#define DV_TRACE_WIN32(error, what) DV_TRACE(L"%ls failed: error %lu", what, static_cast<unsigned long>(error))
#define DV_TRACE_EXCEPTION() DV_TRACE(L"exception caught (out of memory or a library failure)")
