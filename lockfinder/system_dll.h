// System functions that only some runs need, bound on first use: a run that matches nothing loads
// no DLL beyond those it imports (KERNEL32, msvcrt), which keeps the tool's start at an empty program's.
#pragma once
#include <windows.h>

namespace tessaly {

// The function from the DLL in the system folder (never the tool's folder or the current one),
// loaded once and kept for the life of the process; null when either is missing.
FARPROC SystemProcAddress(const wchar_t* dll, const char* name) noexcept;

// Typed: SystemFunction<decltype(&::EnumWindows)>(L"user32.dll", "EnumWindows").
template <class Fn>
Fn SystemFunction(const wchar_t* dll, const char* name) noexcept {
    return reinterpret_cast<Fn>(SystemProcAddress(dll, name));
}

// Fills a typed pointer: BindSystemFunction(enumWindows, L"user32.dll", "EnumWindows").
template <class Fn>
void BindSystemFunction(Fn& slot, const wchar_t* dll, const char* name) noexcept {
    slot = SystemFunction<Fn>(dll, name);
}

} // namespace tessaly
