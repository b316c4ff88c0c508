// The settings outside the tree: value rules, defaults and which operations create keys.
#include "store_registry.h"
#include "store/settings.h"

using dv::store::AddOnFlags;
using dv::store::ReadAddOnFlags;
using dv::store::ReadManagerSize;
using dv::store::ReadTextEditor;
using dv::store::ReadUpdateAvailable;
using dv::store::ResetTextEditor;
using dv::store::TextEditorProgram;
using dv::store::ToggleAddOn;
using dv::store::WasUpdateCheckedOn;
using dv::store::WasUpdateCheckedToday;
using dv::store::WriteManagerSize;
using dv::store::WriteTextEditor;
using dv::store::WriteUpdateState;
using dv::store::kAddOnsKeyPath;
using dv::store::kDefaultTextEditor;
using dv::store::kProductKeyPath;

using namespace dv;
using namespace storetest;

namespace {

class SettingsTest : public StoreTest {};

TEST_F(SettingsTest, AddOnSwitchesCountOnlyAsDwordOne) {
    EXPECT_EQ(0u, DWORD(ReadAddOnFlags()));
    EXPECT_FALSE(KeyExists(kProductKeyPath));  // readers never create the key

    MakeKey(kAddOnsKeyPath);
    EXPECT_EQ(0u, DWORD(ReadAddOnFlags()));
    SetDword(kAddOnsKeyPath, L"NotepadView", 1);
    SetDword(kAddOnsKeyPath, L"RunCmd", 2);
    SetSz(kAddOnsKeyPath, L"CopyToClipboard", L"1");
    EXPECT_EQ(DWORD(AddOnFlags::NotepadView), DWORD(ReadAddOnFlags()));

    ToggleAddOn(AddOnFlags::RunCmd);  // 2 counts as off: becomes 1
    ExpectStoredDword(kAddOnsKeyPath, L"RunCmd", 1);
    ToggleAddOn(AddOnFlags::CopyToClipboard);  // the string is replaced by a DWORD
    ExpectStoredDword(kAddOnsKeyPath, L"CopyToClipboard", 1);
    ToggleAddOn(AddOnFlags::NotepadView);
    ExpectStoredDword(kAddOnsKeyPath, L"NotepadView", 0);
    EXPECT_EQ(DWORD(AddOnFlags::RunCmd | AddOnFlags::CopyToClipboard), DWORD(ReadAddOnFlags()));
}

TEST_F(SettingsTest, ToggleCreatesTheAddOnsKey) {
    ToggleAddOn(AddOnFlags::CopyToClipboard);
    ExpectStoredDword(kAddOnsKeyPath, L"CopyToClipboard", 1);
    EXPECT_EQ(DWORD(AddOnFlags::CopyToClipboard), DWORD(ReadAddOnFlags()));
}

TEST_F(SettingsTest, TextEditorFallsBackToNotepad) {
    wchar_t editor[kMaxText];
    TextEditorProgram(editor);
    EXPECT_STREQ(kDefaultTextEditor, editor);
    EXPECT_TRUE(KeyExists(kProductKeyPath));  // the editor's readers create the key

    struct Case {
        DWORD type;
        std::wstring bytes;  // stored as is, without an added terminator
        const wchar_t* program;
        bool wellFormed;
    } cases[] = {
        {REG_SZ, std::wstring(L"", 1), L"notepad.exe", true},  // empty
        {REG_SZ, L"", L"notepad.exe", false},                 // 0 bytes
        {REG_SZ, std::wstring(L"C:\\Ed\\ed.exe", 13), L"C:\\Ed\\ed.exe", true},
        {REG_EXPAND_SZ, std::wstring(L"%WINDIR%\\e.exe", 15), L"%WINDIR%\\e.exe", true},  // not expanded
        {REG_SZ, L"C:\\e.exe", L"C:\\e.exe", false},          // no terminator
        {REG_SZ, std::wstring(300, L'e') + L'\0', L"notepad.exe", false},
        {REG_DWORD, std::wstring(L"ab", 2), L"notepad.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.c_str());
        SetRaw(kProductKeyPath, L"TextEditor", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size() * 2));
        TextEditorProgram(editor);
        EXPECT_STREQ(c.program, editor);
        EXPECT_EQ(c.wellFormed, ReadTextEditor(editor));
    }

    WriteTextEditor(L"D:\\Tools\\edit.exe");
    ExpectStoredSz(kProductKeyPath, L"TextEditor", L"D:\\Tools\\edit.exe");
    ResetTextEditor();
    EXPECT_FALSE(GetValue(kProductKeyPath, L"TextEditor").exists);
    ::SHDeleteKeyW(HKEY_CURRENT_USER, kProductKeyPath);
    ResetTextEditor();  // creates the key, deletes nothing
    EXPECT_TRUE(KeyExists(kProductKeyPath));
}

TEST_F(SettingsTest, ManagerSizeNeedsBothValues) {
    SIZE size = {1, 1};
    EXPECT_FALSE(ReadManagerSize(size));
    WriteManagerSize(800, 600);  // no product key: not saved
    EXPECT_FALSE(KeyExists(kProductKeyPath));

    SetDword(kProductKeyPath, L"Width", 800);
    EXPECT_FALSE(ReadManagerSize(size));
    SetDword(kProductKeyPath, L"Height", 0);
    EXPECT_FALSE(ReadManagerSize(size));
    SetSz(kProductKeyPath, L"Height", L"600");
    EXPECT_FALSE(ReadManagerSize(size));
    SetDword(kProductKeyPath, L"Height", 0x80000000);
    EXPECT_FALSE(ReadManagerSize(size));
    EXPECT_EQ(1, size.cx);

    WriteManagerSize(640, 480);
    ExpectStoredDword(kProductKeyPath, L"Width", 640);
    ExpectStoredDword(kProductKeyPath, L"Height", 480);
    ASSERT_TRUE(ReadManagerSize(size));
    EXPECT_EQ(640, size.cx);
    EXPECT_EQ(480, size.cy);
}

TEST_F(SettingsTest, UpdateState) {
    EXPECT_FALSE(ReadUpdateAvailable());
    SetDword(kProductKeyPath, L"UpdateAvail", 5);
    EXPECT_TRUE(ReadUpdateAvailable());
    SetSz(kProductKeyPath, L"UpdateAvail", L"1");
    EXPECT_FALSE(ReadUpdateAvailable());

    SYSTEMTIME day = {};
    day.wYear = 2024, day.wMonth = 3, day.wDay = 7;
    WriteUpdateState(true, day);
    ExpectStoredSz(kProductKeyPath, L"UpdateLastCheck", L"20240307");
    ExpectStoredDword(kProductKeyPath, L"UpdateAvail", 1);
    EXPECT_TRUE(ReadUpdateAvailable());

    SYSTEMTIME before = {}, after = {};
    ::GetSystemTime(&before);
    WriteUpdateState(false);
    ::GetSystemTime(&after);
    ExpectStoredDword(kProductKeyPath, L"UpdateAvail", 0);
    std::wstring stored = GetValue(kProductKeyPath, L"UpdateLastCheck").Text();
    auto format = [](const SYSTEMTIME& t) {
        wchar_t text[16];
        swprintf(text, 16, L"%04d%02d%02d", t.wYear, t.wMonth, t.wDay);
        return std::wstring(text) + L'\0';
    };
    EXPECT_TRUE(stored == format(before) || stored == format(after));

    // Only the exact day counts as checked; anything else makes the next check due.
    EXPECT_TRUE(WasUpdateCheckedToday() || before.wDay != after.wDay);
    WriteUpdateState(false, day);
    EXPECT_TRUE(WasUpdateCheckedOn(day));
    for (const wchar_t* other : {L"20240306", L"2024037", L"202403070", L"", L"x20240307"}) {
        SetSz(kProductKeyPath, L"UpdateLastCheck", other);
        EXPECT_FALSE(WasUpdateCheckedOn(day)) << other;
    }
    SetDword(kProductKeyPath, L"UpdateLastCheck", 20240307);
    EXPECT_FALSE(WasUpdateCheckedOn(day));
}

} // namespace
