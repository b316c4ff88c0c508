#include "trace.h"
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace dv::trace {

namespace {

std::atomic<Sink> g_sink{nullptr};

// The file's own name: the build's folders say nothing to whoever reads the trace.
const char* BaseName(const char* path) noexcept {
    const char* base = path ? path : "";
    for (const char* p = base; *p; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    return base;
}

} // namespace

void SetSinkForTesting(Sink sink) noexcept { g_sink = sink; }

void Write(const char* file, int line, const wchar_t* format, ...) noexcept {
    const DWORD savedError = ::GetLastError();  // callers often read it after tracing
    wchar_t text[kMaxLine + 2] = {};
    int prefix = std::swprintf(text, kMaxLine, L"Dirvane: %hs(%d): ", BaseName(file), line);
    if (prefix < 0) prefix = 0;
    va_list args;
    va_start(args, format);
    const size_t room = kMaxLine - static_cast<size_t>(prefix);
    int written = std::vswprintf(text + prefix, room, format ? format : L"", args);
    va_end(args);
    size_t end = static_cast<size_t>(prefix);
    if (written >= 0 && static_cast<size_t>(written) < room) {
        end += static_cast<size_t>(written);
    } else {
        // Cut on purpose: what fitted, marked as cut. vswprintf reports too long a text as an error.
        end = wcsnlen(text, kMaxLine - 1);
        if (end > kMaxLine - 4) end = kMaxLine - 4;
        wmemcpy(text + end, L"...", 3);
        end += 3;
    }
    text[end] = L'\n';
    text[end + 1] = 0;
    if (Sink sink = g_sink.load()) sink(text);
    else ::OutputDebugStringW(text);
    ::SetLastError(savedError);
}

} // namespace dv::trace
