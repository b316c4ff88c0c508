// Thin registry layer: keys are owned by unique_hkey; reads never create keys.
#pragma once
#include "handles.h"
#include <string>

namespace dv {

// Opens an existing key with the given access; empty on failure. options may be
// REG_OPTION_OPEN_LINK, which opens a symbolic link key itself instead of its target.
unique_hkey OpenRegKey(HKEY parent, const wchar_t* subKey, REGSAM access = KEY_READ, DWORD options = 0) noexcept;
// Creates or opens a key (REG_OPTION_NON_VOLATILE); empty on failure, *error gets the code and
// *disposition tells REG_CREATED_NEW_KEY from REG_OPENED_EXISTING_KEY.
unique_hkey CreateRegKey(HKEY parent, const wchar_t* subKey, REGSAM access = KEY_READ | KEY_WRITE,
                         LONG* error = nullptr, DWORD* disposition = nullptr) noexcept;

// Reads a REG_SZ/REG_EXPAND_SZ value into dst[capacity]; the text is always terminated and cut
// safely, whatever the stored bytes are (no terminator, odd byte count, too long).
// Returns false when the value is missing or of another type.
bool ReadRegString(HKEY key, const wchar_t* name, wchar_t* dst, size_t capacity) noexcept;
// Reads a REG_SZ/REG_EXPAND_SZ value only when it fits dst[capacity] whole: its text up to the
// first null must be at most capacity-1 characters and its stored size at most capacity characters.
// A value that is missing, of another type or too long gives false and an empty dst; a missing
// terminator or an odd last byte is tolerated. *wellFormed tells whether the value was stored the
// way Windows writes strings: an even byte count whose last character is a null.
bool ReadRegStringIfFits(HKEY key, const wchar_t* name, wchar_t* dst, size_t capacity,
                         bool* wellFormed = nullptr) noexcept;
// Reads a REG_DWORD value; false when missing, of another type or of another size.
bool ReadRegDword(HKEY key, const wchar_t* name, DWORD& value) noexcept;

// Writes a REG_SZ value including its terminating null.
LONG WriteRegString(HKEY key, const wchar_t* name, const wchar_t* text) noexcept;
LONG WriteRegDword(HKEY key, const wchar_t* name, DWORD value) noexcept;

} // namespace dv
