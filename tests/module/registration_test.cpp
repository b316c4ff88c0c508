// Registration end to end: Wine's own regsvr32 runs the DLL's exports; the test reads HKCR.
#include "common/registry.h"
#include "common/test_support.h"
#include <gtest/gtest.h>
#include <shlwapi.h>

using namespace dv;
using dvtest::DistFile;

namespace {

constexpr const wchar_t kClassKey[] = L"CLSID\\{5E2A7C41-3B9D-4F08-A6C2-71D0E4B98F35}";
constexpr const wchar_t kClsidText[] = L"{5E2A7C41-3B9D-4F08-A6C2-71D0E4B98F35}";
constexpr const wchar_t kAppIdKey[] = L"AppID\\{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}";
constexpr const wchar_t kAppIdDll[] = L"AppID\\Dirvane.DLL";
const wchar_t* const kHandlerClasses[] = {L"*", L"Folder", L"InternetShortcut", L"lnkfile",
                                          L"Drive", L"Directory", L"Directory\\Background"};

std::wstring HandlerKey(const wchar_t* cls) {
    return std::wstring(cls) + L"\\ShellEx\\ContextMenuHandlers\\OV Dirvane";
}

bool Exists(const std::wstring& sub) { return static_cast<bool>(OpenRegKey(HKEY_CLASSES_ROOT, sub.c_str())); }

std::wstring Value(const std::wstring& sub, const wchar_t* name) {
    unique_hkey key = OpenRegKey(HKEY_CLASSES_ROOT, sub.c_str());
    wchar_t text[520];
    return key && ReadRegString(key.get(), name, text, 520) ? text : L"<none>";
}

DWORD Regsvr32(const std::wstring& dll, bool unregister = false) {
    return dvtest::RunProcess(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"");
}

void ExpectRegisteredAt(const std::wstring& dll) {
    for (const wchar_t* cls : kHandlerClasses) EXPECT_EQ(Value(HandlerKey(cls), nullptr), kClsidText) << cls;
    EXPECT_EQ(Value(kClassKey, nullptr), L"Dirvane Shell Extension");
    EXPECT_EQ(Value(kClassKey, L"AppID"), L"{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}");
    EXPECT_EQ(Value(std::wstring(kClassKey) + L"\\InprocServer32", nullptr), dll);
    EXPECT_EQ(Value(std::wstring(kClassKey) + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Value(kAppIdKey, nullptr), L"OV Dirvane");
    EXPECT_EQ(Value(kAppIdDll, L"AppID"), L"{B18D2F6E-9A47-4C3B-8E05-2F6A9C7D14E0}");
}

void ExpectNothingRegistered() {
    for (const wchar_t* cls : kHandlerClasses) EXPECT_FALSE(Exists(HandlerKey(cls))) << cls;
    EXPECT_FALSE(Exists(kClassKey));
    EXPECT_FALSE(Exists(kAppIdKey));
    EXPECT_FALSE(Exists(kAppIdDll));
}

class Registration : public ::testing::Test {
protected:
    void TearDown() override { Regsvr32(DistFile(L"Dirvane.dll"), true); }
};

TEST_F(Registration, RegisterWritesEveryKeyAndUnregisterRemovesThemButNotSharedOnes) {
    const std::wstring dll = DistFile(L"Dirvane.dll");
    ASSERT_EQ(Regsvr32(dll), 0u);
    ExpectRegisteredAt(dll);

    ASSERT_EQ(Regsvr32(dll, true), 0u);
    ExpectNothingRegistered();
    EXPECT_TRUE(Exists(L"Directory\\Background\\ShellEx\\ContextMenuHandlers"));
    EXPECT_TRUE(Exists(L"CLSID"));
    EXPECT_TRUE(Exists(L"AppID"));
}

TEST_F(Registration, RegisteringTwiceLeavesOneFreshSet) {
    const std::wstring dll = DistFile(L"Dirvane.dll");
    ASSERT_EQ(Regsvr32(dll), 0u);
    {
        unique_hkey handler = OpenRegKey(HKEY_CLASSES_ROOT, HandlerKey(L"Folder").c_str(), KEY_READ | KEY_WRITE);
        unique_hkey cls = OpenRegKey(HKEY_CLASSES_ROOT, kClassKey, KEY_READ | KEY_WRITE);
        ASSERT_TRUE(handler && cls);
        WriteRegString(handler.get(), L"Stale", L"x");
        WriteRegString(cls.get(), L"Stale", L"x");
    }
    ASSERT_EQ(Regsvr32(dll), 0u);
    ExpectRegisteredAt(dll);
    EXPECT_EQ(Value(HandlerKey(L"Folder"), L"Stale"), L"<none>");
    EXPECT_EQ(Value(kClassKey, L"Stale"), L"<none>");
}

TEST_F(Registration, UnregisteringLeavesAForeignSubkeyAndItsClassKey) {
    const std::wstring dll = DistFile(L"Dirvane.dll");
    ASSERT_EQ(Regsvr32(dll), 0u);
    const std::wstring foreign = std::wstring(kClassKey) + L"\\ForeignSubkey";
    ASSERT_TRUE(CreateRegKey(HKEY_CLASSES_ROOT, foreign.c_str()));

    ASSERT_EQ(Regsvr32(dll, true), 0u);
    EXPECT_TRUE(Exists(foreign));
    EXPECT_TRUE(Exists(kClassKey));
    EXPECT_FALSE(Exists(std::wstring(kClassKey) + L"\\InprocServer32"));
    EXPECT_EQ(Value(kClassKey, L"AppID"), L"<none>");
    EXPECT_FALSE(Exists(HandlerKey(L"*")));
    ::SHDeleteKeyW(HKEY_CLASSES_ROOT, kClassKey);
}

TEST_F(Registration, UnregisteringWhenNothingIsRegisteredSucceedsAndCreatesNothing) {
    const std::wstring dll = DistFile(L"Dirvane.dll");
    Regsvr32(dll, true);
    ExpectNothingRegistered();
    EXPECT_EQ(Regsvr32(dll, true), 0u);
    ExpectNothingRegistered();
}

TEST_F(Registration, APathWithASingleQuoteIsWrittenAsItIs) {
    dvtest::ScratchFolder folder(L"it's here");
    const std::wstring copy = folder / L"Dirvane.dll";
    ASSERT_TRUE(::CopyFileW(DistFile(L"Dirvane.dll").c_str(), copy.c_str(), FALSE));
    ASSERT_EQ(Regsvr32(copy), 0u);
    EXPECT_EQ(Value(std::wstring(kClassKey) + L"\\InprocServer32", nullptr), copy);
    ASSERT_EQ(Regsvr32(copy, true), 0u);
    ExpectNothingRegistered();
}

} // namespace
