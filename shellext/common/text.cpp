#include "text.h"
#include "trace.h"
#include "com.h"
#include <cstdarg>
#include <cwchar>
#include <vector>

namespace dv {

int CompareFoldAZ(const wchar_t* a, const wchar_t* b) noexcept {
    return CompareFoldAZ(a, b, static_cast<size_t>(-1));
}

int CompareFoldAZ(const wchar_t* a, const wchar_t* b, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
        unsigned ca = FoldAZ(a[i]), cb = FoldAZ(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
    return 0;
}

bool CopyText(wchar_t* dst, size_t capacity, const wchar_t* src) noexcept {
    if (!dst || capacity == 0) return false;
    if (!src) src = L"";
    size_t n = 0;
    while (n + 1 < capacity && src[n]) ++n;
    bool complete = src[n] == 0;
    // Do not leave half of a surrogate pair at the end of a cut.
    if (!complete && n > 0 && IS_HIGH_SURROGATE(src[n - 1])) --n;
    wmemcpy(dst, src, n);
    dst[n] = 0;
    return complete;
}

std::wstring FormatTextV(const wchar_t* format, va_list args) noexcept {
    try {
        std::vector<wchar_t> buffer(512);
        for (;;) {
            va_list copy;
            va_copy(copy, args);
            int n = _vsnwprintf(buffer.data(), buffer.size() - 1, format, copy);
            va_end(copy);
            if (n >= 0 && static_cast<size_t>(n) < buffer.size() - 1) return std::wstring(buffer.data(), n);
            if (buffer.size() > (1u << 20)) return std::wstring();
            buffer.resize(buffer.size() * 4);
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return std::wstring();
    }
}

std::wstring FormatText(const wchar_t* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatTextV(format, args);
    va_end(args);
    return text;
}

std::wstring LoadResString(UINT id) noexcept {
    const wchar_t* text = nullptr;
    // With a zero length LoadStringW hands out a read-only pointer into the resource.
    int length = ::LoadStringW(ResourceInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return std::wstring();
    try { return std::wstring(text, length); } catch (...) { return std::wstring(); }
}

std::wstring WindowText(HWND window) {
    int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    int copied = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(copied > 0 ? copied : 0);
    return text;
}

} // namespace dv
