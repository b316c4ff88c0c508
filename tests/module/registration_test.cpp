// Registration end to end: Wine's own regsvr32 runs the DLL's exports; the test reads HKCR.
#include "common/product_ids.h"
#include "common/registry.h"
#include "common/test_support.h"
#include <gtest/gtest.h>
#include <shlwapi.h>

using namespace dv;
using dvtest::DistFile;

namespace {

constexpr const wchar_t kClassKey[] = L"CLSID\\" DVTEST_HANDLER_CLSID_TEXT;
constexpr const wchar_t kClsidText[] = DVTEST_HANDLER_CLSID_TEXT;
// The command class of Windows 11's first-level menu: registered as a class, never as a handler.
constexpr const wchar_t kCommandClassKey[] = L"CLSID\\" DVTEST_COMMAND_CLSID_TEXT;
constexpr const wchar_t kAppIdKey[] = L"AppID\\" DVTEST_APPID_TEXT;
constexpr const wchar_t kAppIdDll[] = L"AppID\\Dirvane.DLL";
const wchar_t* const kHandlerClasses[] = {L"*", L"Folder", L"InternetShortcut", L"lnkfile",
                                          L"Drive", L"Directory", L"Directory\\Background"};

std::wstring HandlerKey(const wchar_t* cls) {
    return std::wstring(cls) + L"\\ShellEx\\ContextMenuHandlers\\OV Dirvane";
}

bool Exists(const std::wstring& sub, HKEY classes = HKEY_CLASSES_ROOT) {
    return static_cast<bool>(OpenRegKey(classes, sub.c_str()));
}

std::wstring Value(const std::wstring& sub, const wchar_t* name, HKEY classes = HKEY_CLASSES_ROOT) {
    unique_hkey key = OpenRegKey(classes, sub.c_str());
    wchar_t text[520];
    return key && ReadRegString(key.get(), name, text, 520) ? text : L"<none>";
}

DWORD Regsvr32(const std::wstring& dll, bool unregister = false) {
    return dvtest::RunProcess(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"");
}

// regsvr32 /n /i:<store>: the DLL's DllInstall, registering into one store of classes.
DWORD Regsvr32Store(const std::wstring& dll, const wchar_t* store, bool unregister = false) {
    return dvtest::RunProcess(std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"/n /i:" + store +
                              L" \"" + dll + L"\"");
}

void ExpectRegisteredAt(const std::wstring& dll, HKEY classes = HKEY_CLASSES_ROOT) {
    for (const wchar_t* cls : kHandlerClasses) EXPECT_EQ(Value(HandlerKey(cls), nullptr, classes), kClsidText) << cls;
    EXPECT_EQ(Value(kClassKey, nullptr, classes), L"Dirvane Shell Extension");
    EXPECT_EQ(Value(kClassKey, L"AppID", classes), DVTEST_APPID_TEXT);
    EXPECT_EQ(Value(std::wstring(kClassKey) + L"\\InprocServer32", nullptr, classes), dll);
    EXPECT_EQ(Value(std::wstring(kClassKey) + L"\\InprocServer32", L"ThreadingModel", classes), L"Apartment");
    EXPECT_EQ(Value(kCommandClassKey, nullptr, classes), L"Dirvane Explorer Command");
    EXPECT_EQ(Value(std::wstring(kCommandClassKey) + L"\\InprocServer32", nullptr, classes), dll);
    EXPECT_EQ(Value(std::wstring(kCommandClassKey) + L"\\InprocServer32", L"ThreadingModel", classes), L"Apartment");
    EXPECT_EQ(Value(kAppIdKey, nullptr, classes), L"OV Dirvane");
    EXPECT_EQ(Value(kAppIdDll, L"AppID", classes), DVTEST_APPID_TEXT);
}

void ExpectNothingRegistered(HKEY classes = HKEY_CLASSES_ROOT) {
    for (const wchar_t* cls : kHandlerClasses) EXPECT_FALSE(Exists(HandlerKey(cls), classes)) << cls;
    EXPECT_FALSE(Exists(kClassKey, classes));
    EXPECT_FALSE(Exists(kCommandClassKey, classes));
    EXPECT_FALSE(Exists(kAppIdKey, classes));
    EXPECT_FALSE(Exists(kAppIdDll, classes));
}

class Registration : public ::testing::Test {
protected:
    void TearDown() override {
        Regsvr32(DistFile(L"Dirvane.dll"), true);
        Regsvr32Store(DistFile(L"Dirvane.dll"), L"user", true);
        Regsvr32Store(DistFile(L"Dirvane.dll"), L"machine", true);
    }
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

// The per-user registration needs no administrator rights: it writes the user's own classes and
// nothing of the machine's; "machine" is the reverse.
TEST_F(Registration, DllInstallRegistersIntoTheNamedStoreOnly) {
    const std::wstring dll = DistFile(L"Dirvane.dll");
    unique_hkey userClasses = CreateRegKey(HKEY_CURRENT_USER, L"Software\\Classes");
    unique_hkey machineClasses = OpenRegKey(HKEY_LOCAL_MACHINE, L"Software\\Classes");
    ASSERT_TRUE(userClasses && machineClasses);
    struct Case {
        const wchar_t* store;
        HKEY written, untouched;
    } const cases[] = {{L"user", userClasses.get(), machineClasses.get()},
                       {L"machine", machineClasses.get(), userClasses.get()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.store);
        ASSERT_EQ(Regsvr32Store(dll, c.store), 0u);
        ExpectRegisteredAt(dll, c.written);
        ExpectNothingRegistered(c.untouched);

        ASSERT_EQ(Regsvr32Store(dll, c.store, true), 0u);
        ExpectNothingRegistered(c.written);
        EXPECT_TRUE(Exists(L"CLSID", c.written));
    }
    EXPECT_NE(Regsvr32Store(dll, L"elsewhere"), 0u);
    ExpectNothingRegistered();
}

} // namespace
