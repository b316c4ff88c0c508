// Signer pinning under Wine: a test root made by openssl in this run (make_signed.sh), trusted in
// the prefix for the test's duration, and files signed with osslsigncode through the build's own
// signing script.
#include "updater/trust.h"
#include "common/handles.h"
#include "update_server_control.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

using dv::updater::IsSignedBy;
using dv::updater::ParseThumbprints;
using dv::updater::VerifiedSignerThumbprint;

using namespace dv;
using namespace updtest;

namespace {

struct Verdict {
    bool accepted;
    std::wstring signer;
    LONG hr;
};

Verdict Check(const char* file, const std::wstring& signers) {
    const std::wstring path = SignedFile(file);
    unique_hfile handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(handle) << file;
    Verdict verdict{IsSignedBy(path.c_str(), handle.get(), signers.c_str()), L"", 0};
    verdict.signer = VerifiedSignerThumbprint(path.c_str(), handle.get(), verdict.hr);
    return verdict;
}

TEST(InstallerSigner, ThumbprintListsAreAllOrNothing) {
    const std::wstring a(64, L'a'), b(64, L'B');
    std::vector<std::wstring> list;
    EXPECT_TRUE(ParseThumbprints(L"", list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(ParseThumbprints((a + L"; " + b + L",").c_str(), list));
    EXPECT_EQ((std::vector<std::wstring>{a, std::wstring(64, L'b')}), list);
    EXPECT_FALSE(ParseThumbprints((a + L";" + b.substr(1)).c_str(), list));
    EXPECT_FALSE(ParseThumbprints(L"sha256:abc", list));
    // A list that cannot be read pins nothing and so accepts nothing.
    EXPECT_FALSE(IsSignedBy(L"C:\\nothing.exe", INVALID_HANDLE_VALUE, L"not a thumbprint"));
}

TEST(InstallerSigner, OnlyTheWholeFileSignedByAPinnedSignerIsAccepted) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.ok());
    const std::wstring publisher = Thumbprint("publisher"), other = Thumbprint("other");
    ASSERT_EQ(64u, publisher.size());

    Verdict signedByPublisher = Check("publisher.exe", publisher);
    EXPECT_TRUE(signedByPublisher.accepted) << std::hex << signedByPublisher.hr;
    EXPECT_EQ(publisher, signedByPublisher.signer);
    EXPECT_TRUE(Check("publisher.exe", other + L";" + publisher).accepted);
    EXPECT_TRUE(Check("unsigned.exe", L"").accepted);  // nothing pinned: nothing required

    struct Case {
        const char* file;
        const wchar_t* why;
    } refused[] = {
        {"other.exe", L"another signer"},
        {"unsigned.exe", L"no signature"},
        {"tampered.exe", L"changed after signing"},
    };
    for (const Case& c : refused) {
        Verdict verdict = Check(c.file, publisher);
        std::printf("%s: WinVerifyTrust 0x%08lX\n", c.file, static_cast<unsigned long>(verdict.hr));
        EXPECT_FALSE(verdict.accepted) << c.why << " " << std::hex << verdict.hr;
    }
    Verdict signedByOther = Check("other.exe", publisher);
    EXPECT_EQ(other, signedByOther.signer);  // valid, just not pinned
}

bool RunningUnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Without the test root trusted, Windows refuses both signatures (CERT_E_UNTRUSTEDROOT, or
// CERT_E_CHAINING for the self-signed one). Wine 8 accepts them: its WinVerifyTrust checks the
// file's digest and the signature but not whether the chain ends in a trusted root. Pinning
// still holds there, since only the pinned certificate's key can make an accepted signature.
TEST(InstallerSigner, SignaturesWithoutATrustedRoot) {
    for (const char* who : {"publisher", "stranger"}) {
        const std::string file = std::string(who) + ".exe";
        Verdict pinned = Check(file.c_str(), Thumbprint(who));
        EXPECT_FALSE(Check(file.c_str(), Thumbprint(who == std::string("publisher") ? "stranger" : "publisher")).accepted);
        if (RunningUnderWine()) {
            std::printf("Wine: %s.exe without a trusted root: WinVerifyTrust 0x%08lX, %s\n", who,
                        static_cast<unsigned long>(pinned.hr), pinned.accepted ? "accepted" : "refused");
            continue;
        }
        EXPECT_FALSE(pinned.accepted) << who << " " << std::hex << pinned.hr;
        EXPECT_TRUE(pinned.signer.empty()) << who;
    }
}

} // namespace
