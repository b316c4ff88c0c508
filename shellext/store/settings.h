// The user's settings outside the bookmark tree. There is no settings object: each call opens the
// key, reads or writes one thing and closes it again, so every reader sees the last writer's value.
// Failures are silent: a value that cannot be read gives its default, one that cannot be written
// keeps its stored state.
#pragma once
#include "common/text.h"
#include <windows.h>

namespace dv::store {

// Under HKEY_CURRENT_USER.
constexpr wchar_t kProductKeyPath[] = L"Software\\Ostrelan\\Dirvane";
constexpr wchar_t kAddOnsKeyPath[] = L"Software\\Ostrelan\\Dirvane\\AddOns";

// The add-on switches as one bit set; the values are the ones earlier versions stored and compared.
enum class AddOnFlags : DWORD {
    None = 0,
    NotepadView = 0x1,        // "NotepadView": "Open in Editor"
    RunCmd = 0x10,            // "RunCmd": "Command prompt from this folder"
    CopyToClipboard = 0x100,  // "CopyToClipboard": "Copy paths to Clipboard"
};
constexpr AddOnFlags operator|(AddOnFlags a, AddOnFlags b) noexcept {
    return AddOnFlags(DWORD(a) | DWORD(b));
}
constexpr AddOnFlags& operator|=(AddOnFlags& a, AddOnFlags b) noexcept { return a = a | b; }
// True when every switch of addOn is on in flags.
constexpr bool HasAddOn(AddOnFlags flags, AddOnFlags addOn) noexcept {
    return addOn != AddOnFlags::None && (DWORD(flags) & DWORD(addOn)) == DWORD(addOn);
}

// The switches that are on. A switch is on only as a REG_DWORD of exactly 1; the key is never created.
AddOnFlags ReadAddOnFlags() noexcept;
// Flips one switch (a single AddOnFlags value): writes 1 when it was off, 0 when it was on.
// Creates the AddOns key when missing.
void ToggleAddOn(AddOnFlags addOn) noexcept;

constexpr wchar_t kDefaultTextEditor[] = L"notepad.exe";
// Reads "TextEditor" into editor, creating the product key when missing as the editor's readers do.
// The text is empty when the value is missing, of 0 bytes, not a string or longer than 259
// characters; it is not expanded. Returns true only for a string stored whole, with an even size
// ending in a null.
bool ReadTextEditor(wchar_t (&editor)[kMaxText]) noexcept;
// The program that "Open in Editor" starts: the stored editor, or "notepad.exe" when there is none.
void TextEditorProgram(wchar_t (&program)[kMaxText]) noexcept;
// Stores the editor's full path as REG_SZ, creating the product key when missing.
void WriteTextEditor(const wchar_t* path) noexcept;
// Deletes "TextEditor", so that "notepad.exe" is used again.
void ResetTextEditor() noexcept;

// The manager's saved outer size in pixels; true only when "Width" and "Height" are both REG_DWORD
// values other than 0 (and fit a window size). Only the size is kept, never the position.
bool ReadManagerSize(SIZE& size) noexcept;
// Saves the size when the product key exists; the key is not created for it.
void WriteManagerSize(LONG width, LONG height) noexcept;

// True when "UpdateAvail" is a REG_DWORD other than 0.
bool ReadUpdateAvailable(const wchar_t* keyPath = kProductKeyPath) noexcept;
// Records a completed update check: "UpdateLastCheck" = the day as "%04d%02d%02d" (UTC), then
// "UpdateAvail" = 1 or 0. Creates the key when missing.
void WriteUpdateState(bool available, const wchar_t* keyPath = kProductKeyPath) noexcept;
void WriteUpdateState(bool available, const SYSTEMTIME& utcDay, const wchar_t* keyPath = kProductKeyPath) noexcept;
// True when "UpdateLastCheck" is a string of exactly today's date (UTC) as WriteUpdateState
// writes it; missing, malformed or another day gives false. The key is never created.
bool WasUpdateCheckedOn(const SYSTEMTIME& utcDay, const wchar_t* keyPath = kProductKeyPath) noexcept;
bool WasUpdateCheckedToday(const wchar_t* keyPath = kProductKeyPath) noexcept;
// Both of the above with one opening of the key (each right-click reads them).
struct StoredUpdateState {
    bool checkedToday = false;
    bool available = false;
};
StoredUpdateState ReadStoredUpdateState(const wchar_t* keyPath = kProductKeyPath) noexcept;

} // namespace dv::store
