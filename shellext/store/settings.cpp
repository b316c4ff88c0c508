#include "settings.h"
#include "common/trace.h"
#include "common/registry.h"
#include <climits>
#include <cwchar>

namespace dv::store {

namespace {

const wchar_t* AddOnValueName(AddOnFlags addOn) noexcept {
    switch (addOn) {
    case AddOnFlags::NotepadView: return L"NotepadView";
    case AddOnFlags::RunCmd: return L"RunCmd";
    case AddOnFlags::CopyToClipboard: return L"CopyToClipboard";
    default: return nullptr;
    }
}

} // namespace

AddOnFlags ReadAddOnFlags() noexcept {
    unique_hkey key = OpenRegKey(HKEY_CURRENT_USER, kAddOnsKeyPath, KEY_READ);
    if (!key) return AddOnFlags::None;
    AddOnFlags flags = AddOnFlags::None;
    for (AddOnFlags addOn : {AddOnFlags::NotepadView, AddOnFlags::RunCmd, AddOnFlags::CopyToClipboard}) {
        DWORD value = 0;
        if (ReadRegDword(key.get(), AddOnValueName(addOn), value) && value == 1) flags |= addOn;
    }
    return flags;
}

void ToggleAddOn(AddOnFlags addOn) noexcept {
    const wchar_t* name = AddOnValueName(addOn);
    if (!name) return;
    const bool wasOn = HasAddOn(ReadAddOnFlags(), addOn);
    unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, kAddOnsKeyPath, KEY_READ | KEY_WRITE);
    if (key) WriteRegDword(key.get(), name, wasOn ? 0 : 1);
}

bool ReadTextEditor(wchar_t (&editor)[kMaxText]) noexcept {
    editor[0] = 0;
    unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, kProductKeyPath, KEY_READ | KEY_WRITE);
    bool wellFormed = false;
    if (key) ReadRegStringIfFits(key.get(), L"TextEditor", editor, kMaxText, &wellFormed);
    return wellFormed;
}

void TextEditorProgram(wchar_t (&program)[kMaxText]) noexcept {
    ReadTextEditor(program);
    if (!program[0]) CopyText(program, kMaxText, kDefaultTextEditor);
}

void WriteTextEditor(const wchar_t* path) noexcept {
    wchar_t text[kMaxText];
    CopyText(text, kMaxText, path);
    unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, kProductKeyPath, KEY_READ | KEY_WRITE);
    if (key) WriteRegString(key.get(), L"TextEditor", text);
}

void ResetTextEditor() noexcept {
    unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, kProductKeyPath, KEY_READ | KEY_WRITE);
    if (!key) return;
    const LONG rc = ::RegDeleteValueW(key.get(), L"TextEditor");
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) DV_TRACE_WIN32(rc, L"RegDeleteValueW TextEditor");
}

bool ReadManagerSize(SIZE& size) noexcept {
    unique_hkey key = OpenRegKey(HKEY_CURRENT_USER, kProductKeyPath, KEY_READ);
    DWORD width = 0, height = 0;
    if (!key || !ReadRegDword(key.get(), L"Width", width) || !ReadRegDword(key.get(), L"Height", height)) return false;
    // A size beyond LONG would reach the window as a negative one.
    if (width == 0 || height == 0 || width > LONG_MAX || height > LONG_MAX) return false;
    size.cx = static_cast<LONG>(width);
    size.cy = static_cast<LONG>(height);
    return true;
}

void WriteManagerSize(LONG width, LONG height) noexcept {
    unique_hkey key = OpenRegKey(HKEY_CURRENT_USER, kProductKeyPath, KEY_WRITE);
    if (!key) return;  // no product key: nothing installed to remember the size for
    WriteRegDword(key.get(), L"Width", static_cast<DWORD>(width));
    WriteRegDword(key.get(), L"Height", static_cast<DWORD>(height));
}

namespace {

bool UpdateAvailableIn(HKEY key) noexcept {
    DWORD value = 0;
    return key && ReadRegDword(key, L"UpdateAvail", value) && value != 0;
}

} // namespace

bool ReadUpdateAvailable(const wchar_t* keyPath) noexcept {
    return UpdateAvailableIn(OpenRegKey(HKEY_CURRENT_USER, keyPath, KEY_READ).get());
}

void WriteUpdateState(bool available, const wchar_t* keyPath) noexcept {
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    WriteUpdateState(available, now, keyPath);
}

namespace {

void FormatUpdateDay(const SYSTEMTIME& utcDay, wchar_t (&date)[16]) noexcept {
    swprintf(date, 16, L"%04d%02d%02d", utcDay.wYear, utcDay.wMonth, utcDay.wDay);
}

} // namespace

namespace {

bool UpdateCheckedIn(HKEY key, const SYSTEMTIME& utcDay) noexcept {
    wchar_t stored[16], today[16];
    if (!key || !ReadRegStringIfFits(key, L"UpdateLastCheck", stored, ARRAYSIZE(stored))) return false;
    FormatUpdateDay(utcDay, today);
    return wcscmp(stored, today) == 0;
}

SYSTEMTIME UtcNow() noexcept {
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    return now;
}

} // namespace

bool WasUpdateCheckedOn(const SYSTEMTIME& utcDay, const wchar_t* keyPath) noexcept {
    return UpdateCheckedIn(OpenRegKey(HKEY_CURRENT_USER, keyPath, KEY_READ).get(), utcDay);
}

bool WasUpdateCheckedToday(const wchar_t* keyPath) noexcept { return WasUpdateCheckedOn(UtcNow(), keyPath); }

StoredUpdateState ReadStoredUpdateState(const wchar_t* keyPath) noexcept {
    unique_hkey key = OpenRegKey(HKEY_CURRENT_USER, keyPath, KEY_READ);
    return {UpdateCheckedIn(key.get(), UtcNow()), UpdateAvailableIn(key.get())};
}

void WriteUpdateState(bool available, const SYSTEMTIME& utcDay, const wchar_t* keyPath) noexcept {
    unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, keyPath, KEY_READ | KEY_WRITE);
    if (!key) return;
    wchar_t date[16];
    FormatUpdateDay(utcDay, date);
    WriteRegString(key.get(), L"UpdateLastCheck", date);
    WriteRegDword(key.get(), L"UpdateAvail", available ? 1 : 0);
}

} // namespace dv::store
