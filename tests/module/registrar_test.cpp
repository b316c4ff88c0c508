// The registrar against the real registry, under a scratch key of HKCU.
#include "module/registrar.h"
#include "common/registry.h"
#include <gtest/gtest.h>
#include <shlwapi.h>

using dv::module::RunRegistryScript;
using dv::module::ScriptMode;
using dv::module::ScriptReplacements;

using namespace dv;

namespace {

constexpr const wchar_t kScratch[] = L"Software\\DirvaneRegistrarTest";

class RegistrarTest : public ::testing::Test {
protected:
    void SetUp() override { ::SHDeleteKeyW(HKEY_CURRENT_USER, kScratch); }
    void TearDown() override { ::SHDeleteKeyW(HKEY_CURRENT_USER, kScratch); }

    static HRESULT Run(const wchar_t* body, ScriptMode mode, const ScriptReplacements& r = {}) {
        std::wstring script = L"HKCU { NoRemove Software { NoRemove DirvaneRegistrarTest { ";
        script += body;
        script += L" } } }";
        return RunRegistryScript(script, mode, r);
    }
    static bool Exists(const wchar_t* sub) {
        return static_cast<bool>(OpenRegKey(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\" + sub).c_str()));
    }
    static std::wstring Value(const wchar_t* sub, const wchar_t* name) {
        unique_hkey key = OpenRegKey(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\" + sub).c_str());
        wchar_t text[260];
        return key && ReadRegString(key.get(), name, text, 260) ? text : L"<none>";
    }
    static void Put(const wchar_t* sub, const wchar_t* name, const wchar_t* value) {
        unique_hkey key = CreateRegKey(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\" + sub).c_str());
        WriteRegString(key.get(), name, value);
    }
};

TEST_F(RegistrarTest, SyntaxErrorsUnknownRootsAndReplacementsFail) {
    const ScriptReplacements r = {{L"MODULE", L"C:\\x.dll"}};
    EXPECT_EQ(RunRegistryScript(L"HKXX { A }", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(RunRegistryScript(L"HKCU { Software", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(RunRegistryScript(L"HKCU Software", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(L"A = s 'unterminated }", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(L"A = x 'wrong type'", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(L"val = s 'no name'", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(L"A = s '%UNKNOWN%'", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(L"A = s '%MODULE'", ScriptMode::Register, r), DISP_E_EXCEPTION);
    EXPECT_EQ(Run(L"A = s '%ABCDEFGHIJKLMNOPQRSTUVWXYZ123456%'", ScriptMode::Register,
                  {{L"ABCDEFGHIJKLMNOPQRSTUVWXYZ123456", L"v"}}), DISP_E_EXCEPTION);  // 32 characters
    EXPECT_EQ(RunRegistryScript(L"", ScriptMode::Register, r), S_OK);
}

TEST_F(RegistrarTest, RegistrationWritesKeysValuesAndReplacements) {
    ASSERT_EQ(Run(L"'Key One' = s '%module% is 100%% ''quoted''' { val Named = s '%APPID%' Sub {A-1} = s 'g' }",
                  ScriptMode::Register, {{L"MODULE", L"C:\\it''s.dll"}, {L"APPID", L"{A}"}}), S_OK);
    EXPECT_EQ(Value(L"Key One", nullptr), L"C:\\it's.dll is 100% 'quoted'");
    EXPECT_EQ(Value(L"Key One", L"Named"), L"{A}");
    EXPECT_TRUE(Exists(L"Key One\\Sub"));
    EXPECT_EQ(Value(L"Key One\\{A-1}", nullptr), L"g");  // a braced name is a key, not a block
}

TEST_F(RegistrarTest, ForceRemoveRewritesTheKeyButSparesProtectedNames) {
    Put(L"Handler", L"Stale", L"old");
    Put(L"Handler\\Child", L"Stale", L"old");
    Put(L"clsid", L"Stale", L"old");
    ASSERT_EQ(Run(L"ForceRemove Handler = s 'new' ForceRemove CLSID = s 'x'", ScriptMode::Register), S_OK);
    EXPECT_EQ(Value(L"Handler", nullptr), L"new");
    EXPECT_EQ(Value(L"Handler", L"Stale"), L"<none>");
    EXPECT_FALSE(Exists(L"Handler\\Child"));
    EXPECT_EQ(Value(L"clsid", L"Stale"), L"old");  // protected: never deleted
}

TEST_F(RegistrarTest, UnregistrationRemovesOnlyWhatItMayRemove) {
    const wchar_t* script =
        L"NoRemove Shared { Mine = s 'm' { val V = s 'v' } ForceRemove Forced { Inner } "
        L"Kept { val Keep = s 'k' } } Both { NoRemove val Stay = s 's' val Go = s 'g' }";
    ASSERT_EQ(Run(script, ScriptMode::Register), S_OK);
    Put(L"Shared\\Kept\\Foreign", L"F", L"f");
    Put(L"Both\\Foreign", L"F", L"f");

    ASSERT_EQ(Run(script, ScriptMode::Unregister), S_OK);
    EXPECT_TRUE(Exists(L"Shared"));        // NoRemove
    EXPECT_FALSE(Exists(L"Shared\\Mine"));
    EXPECT_FALSE(Exists(L"Shared\\Forced"));
    EXPECT_TRUE(Exists(L"Shared\\Kept"));  // still has a foreign subkey
    EXPECT_EQ(Value(L"Shared\\Kept", L"Keep"), L"<none>");
    EXPECT_TRUE(Exists(L"Both"));
    EXPECT_EQ(Value(L"Both", L"Stay"), L"s");  // NoRemove value
    EXPECT_EQ(Value(L"Both", L"Go"), L"<none>");
}

TEST_F(RegistrarTest, UnregistrationOfMissingKeysSucceedsAndCreatesNothing) {
    ::SHDeleteKeyW(HKEY_CURRENT_USER, kScratch);
    EXPECT_EQ(RunRegistryScript(L"HKCU { NoRemove Software { NoRemove DirvaneRegistrarTest { A { val V = s 'x' B } } } }",
                                ScriptMode::Unregister, {}), S_OK);
    EXPECT_FALSE(OpenRegKey(HKEY_CURRENT_USER, kScratch));
}

TEST_F(RegistrarTest, RegistrationStopsAtTheFirstFailureAndKeepsEarlierKeys) {
    EXPECT_EQ(Run(L"First Second = s 'ok' Third = s '%NOPE%'", ScriptMode::Register), DISP_E_EXCEPTION);
    // Replacements are expanded before anything runs, so nothing is written for a bad name.
    EXPECT_FALSE(Exists(L"First"));
    EXPECT_EQ(Run(L"First Second = s 'ok' Third = s", ScriptMode::Register), DISP_E_EXCEPTION);
    EXPECT_TRUE(Exists(L"Second"));
}

} // namespace
