// The update check against the test run's update server on 127.0.0.1: the request, the reply's
// keys, the version comparison, the registry outcome, the temporary file, progress and cancellation.
#include "update_server_control.h"
#include "updater/updater.h"
#include "updater/transfer.h"
#include "updater/update_reply.h"
#include "common/com.h"
#include "common/registry.h"
#include "common/system.h"
#include "store/settings.h"
#include <gtest/gtest.h>
#include <chrono>

using dv::store::kProductKeyPath;
using dv::updater::BuildUpdateRequestUrl;
using dv::updater::CUpdater;
using dv::updater::CUpdaterBindStatusCallback;
using dv::updater::DecodeReplyText;
using dv::updater::DefaultUpdateServer;
using dv::updater::HashBytes;
using dv::updater::IsAllowedDownloadUrl;
using dv::updater::IsNewerVersion;
using dv::updater::ModuleVersion;
using dv::updater::ParseSha256Hex;
using dv::updater::ParseUpdateReply;
using dv::updater::ParseVersion;
using dv::updater::ReduceToBareFileName;
using dv::updater::Sha256Hex;
using dv::updater::UpdateReply;
using dv::updater::UpdaterOfferProblem;
using dv::updater::UpdaterPhase;

using namespace dv;
using namespace updtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kDl = "http://127.0.0.1:1/download/DirvaneSetup.exe";
constexpr const char* kSha = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08";  // of "test"

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(L"2.0.0.26", GetModuleVersionString(ResourceInstance()));  // the program's version block
        tempFilesBefore_ = CountTempReplyFiles();
        dv::updater::testing::ForgetFailedBackgroundCheck();
    }
    void TearDown() override {
        // Every check removes its temporary reply file, whatever its outcome.
        EXPECT_EQ(tempFilesBefore_, CountTempReplyFiles());
        EXPECT_EQ(0, Module().GetLockCount());
    }

    // Runs one check to its end, as the dialog would: with a window for the notifications.
    std::unique_ptr<CUpdater> Check(const std::wstring& server = ServerBase()) {
        auto updater = std::make_unique<CUpdater>(recorder_.window(), 100, kProductKeyPath, server.c_str());
        recorder_.Clear();
        updater->StartCheck();
        EXPECT_TRUE(dvtest::WaitFor([&] { return recorder_.Completed(); }));
        EXPECT_TRUE(dvtest::WaitFor([&] { return !updater->IsWorkerRunning(); }));
        EXPECT_FALSE(updater->IsBusy());
        EXPECT_EQ(UpdaterPhase::Checked, updater->Phase());
        return updater;
    }

    dvtest::CleanProductKey cleanKey_;
    NotificationRecorder recorder_;
    int tempFilesBefore_ = 0;
};

TEST(UpdateRequest, PathIsExactlyBelowTheServersRoot) {
    for (const wchar_t* base : {L"http://127.0.0.1:8080", L"http://127.0.0.1:8080/", L"http://127.0.0.1:8080//",
                                L"http://127.0.0.1:8080/ignored/path/"}) {
        EXPECT_EQ(L"http://127.0.0.1:8080/cgi-bin/update.pl?key=Dirvane", BuildUpdateRequestUrl(base, L"Dirvane"))
            << base;
    }
    EXPECT_EQ(L"https://update.example/cgi-bin/update.pl?key=a b&c",
              BuildUpdateRequestUrl(L"https://update.example/", L"a b&c"));  // the key is not encoded
    EXPECT_EQ(0u, std::wstring(DefaultUpdateServer()).find(L"https://"));
}

TEST(UpdateRequest, VersionsCompareComponentByComponentAsUnsigned) {
    EXPECT_TRUE(IsNewerVersion(L"2.0.1.0", L"2.0.0.26"));
    EXPECT_FALSE(IsNewerVersion(L"2.0.0.26", L"2.0.0.26"));
    EXPECT_FALSE(IsNewerVersion(L"1.9.0.30", L"2.0.0.26"));  // later components do not outweigh
    EXPECT_TRUE(IsNewerVersion(L"3", L"2.0.0.26"));
    EXPECT_FALSE(IsNewerVersion(L"2", L"2.0.0.0"));
    EXPECT_TRUE(IsNewerVersion(L"2.0.0.4294967295", L"2.0.0.26"));
    EXPECT_EQ(0xFFFFFFFFu, ParseVersion(L"99999999999.1").part[0]);  // saturates, never wraps
    EXPECT_EQ(1u, ParseVersion(L"99999999999.1").part[1]);
    ModuleVersion junk = ParseVersion(L"v2.1");
    EXPECT_EQ(0u, junk.part[0] | junk.part[1] | junk.part[2] | junk.part[3]);
}

TEST(UpdateRequest, ProposedFileNameIsReducedToABareName) {
    struct Case {
        const wchar_t* offered;
        const wchar_t* kept;
    } cases[] = {
        {L"DirvaneSetup.exe", L"DirvaneSetup.exe"},
        {L"C:\\Windows\\System32\\setup.exe", L"setup.exe"},
        {L"../../dist/setup-2.0.exe", L"setup-2.0.exe"},
        {L"\\\\server\\share\\Dirvane Setup.exe", L"Dirvane Setup.exe"},
        {L"C:setup.exe", L""},
        {L"dist/", L""},
        {L"..", L""},
        {L"setup?.exe", L""},
        {L"CON", L""},
        {L"nul.exe", L""},
        {L"com7.txt", L""},
        {L"console.exe", L"console.exe"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t name[kMaxText];
        CopyText(name, kMaxText, c.offered);
        ReduceToBareFileName(name);
        EXPECT_STREQ(c.kept, name) << c.offered;
    }
}

TEST(UpdateReplyText, KeysAreReadAsTheSystemsIniReaderReadsThem) {
    UpdateReply reply = ParseUpdateReply(
        L"; comment\r\n[Other]\r\nVer=9.9\r\n[ info ]\r\n ver = 2.0.1.0 \r\nDSC=\"Quoted news\"\r\nDl=https://m.example/a.exe\n"
        L"fn=Setup.exe\r\nVer=3.0\r\nsha256 = " + std::wstring(kSha, kSha + 64) + L"\r\n");
    EXPECT_EQ(L"2.0.1.0", reply.version);  // the first occurrence in the section counts
    EXPECT_EQ(L"Quoted news", reply.description);
    EXPECT_EQ(L"https://m.example/a.exe", reply.downloadUrl);
    EXPECT_EQ(L"Setup.exe", reply.fileName);
    ASSERT_TRUE(reply.hasSha256);
    unsigned char test[32];
    ASSERT_TRUE(HashBytes("test", 4, test));
    EXPECT_EQ(0, memcmp(test, reply.sha256, 32));
    EXPECT_EQ(L"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08", Sha256Hex(reply.sha256));

    EXPECT_EQ(L"", ParseUpdateReply(L"Ver=2.0\r\n").version);  // outside the section
    EXPECT_EQ(L"caf\u00e9", DecodeReplyText("caf\xc3\xa9"));     // UTF-8
    EXPECT_EQ(L"caf\u00e9", DecodeReplyText("\xef\xbb\xbf" "caf\xc3\xa9"));
    EXPECT_EQ(L"caf\u00e9", DecodeReplyText("caf\xe9"));  // not UTF-8: the ANSI code page (1252)
}

TEST(UpdateReplyText, OnlySixtyFourHexDigitsAreAHash) {
    const std::wstring good(kSha, kSha + 64);
    unsigned char digest[32];
    for (const std::wstring& text : {good, L"  " + good + L"\t"}) EXPECT_TRUE(ParseSha256Hex(text, digest));
    for (const std::wstring& text : {std::wstring(), good.substr(1), good + L"0", L"g" + good.substr(1),
                                     good.substr(0, 32) + L" " + good.substr(33), L"0x" + good.substr(2)}) {
        EXPECT_FALSE(ParseSha256Hex(text, digest)) << text.c_str();
    }
}

// The https-built variant is tested here, white-box: Wine's TLS cannot be made to trust a test
// certificate in the test run.
TEST(UpdateReplyText, DownloadAddressRule) {
    const wchar_t* https = L"https://update.dirvane.example/";
    const wchar_t* http = L"http://127.0.0.1:8080";
    struct Case {
        const wchar_t* url;
        bool fromHttps, fromHttp;
    } cases[] = {
        {L"https://update.dirvane.example/download/Setup.exe", true, true},
        {L"HTTPS://mirror.example:8443/Setup.exe?x=1", true, true},  // another host: a mirror
        {L"http://update.dirvane.example/download/Setup.exe", false, true},
        {L"file:///C:/Windows/Temp/Setup.exe", false, false},
        {L"file://attacker.example/share/Setup.exe", false, false},
        {L"\\\\attacker.example\\share\\Setup.exe", false, false},
        {L"//attacker.example/share/Setup.exe", false, false},
        {L"https:\\\\attacker.example\\Setup.exe", false, false},
        {L"ftp://mirror.example/Setup.exe", false, false},
        {L"C:\\Setup.exe", false, false},
        {L"https:///Setup.exe", false, false},
        {L"https://:443/Setup.exe", false, false},
        {L"https://update.dirvane.example@attacker.example/Setup.exe", false, false},
        {L"https://mirror.example/Set up.exe", false, false},
        {L"https://mirror.example/Setup.exe\r\nHost: x", false, false},
        {L"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.fromHttps, IsAllowedDownloadUrl(c.url, https)) << c.url;
        EXPECT_EQ(c.fromHttp, IsAllowedDownloadUrl(c.url, http)) << c.url;
    }
}

TEST_F(UpdateCheck, NewerVersionIsAvailableAndStored) {
    StoreUpdateState(0, L"20000101");
    UseScenario({Reply("2.0.1.0", "Faster menus.", kDl, "DirvaneSetup.exe", kSha)});
    auto updater = Check();
    EXPECT_EQ(UpdaterOfferProblem::Downloadable, updater->OfferProblem());
    EXPECT_EQ(std::vector<std::string>{"GET /cgi-bin/update.pl?key=Dirvane"}, Requests());
    EXPECT_EQ(1u, updater->Callback()->AddRef());  // the transfer kept no reference to the callback
    updater->Callback()->Release();
    EXPECT_STREQ(L"Dirvane", updater->Key());
    EXPECT_STREQ(L"2.0.0.26", updater->CurrentVersion());
    EXPECT_FALSE(updater->IsError());
    EXPECT_TRUE(updater->IsAvailable());
    EXPECT_STREQ(L"2.0.1.0", updater->NewVersion());
    EXPECT_STREQ(L"Faster menus.", updater->Description());
    EXPECT_STREQ(L"http://127.0.0.1:1/download/DirvaneSetup.exe", updater->DownloadUrl());
    EXPECT_STREQ(L"DirvaneSetup.exe", updater->InstallerFile());
    DWORD avail = 7;
    std::wstring day;
    EXPECT_TRUE(StoredUpdateAvail(avail));
    EXPECT_EQ(1u, avail);
    EXPECT_TRUE(StoredLastCheck(day));
    EXPECT_EQ(TodayUtc(), day);
    EXPECT_TRUE(updater->IsUpdateAvailable());
    // Only a program is ever started: a file saved under another type is not downloaded at all.
    dvtest::ScratchFolder folder(L"DirvaneUpdateNotAProgram");
    for (const wchar_t* name : {L"DirvaneSetup.txt", L"DirvaneSetup", L"DirvaneSetup.exe.lnk", L".exe"})
        EXPECT_FALSE(updater->StartDownload((folder / name).c_str())) << name;
    EXPECT_FALSE(updater->IsWorkerRunning());
}

// Without a well-formed hash, or with an address the rule refuses, the news is shown and stored,
// but nothing can be downloaded.
TEST_F(UpdateCheck, OffersWithoutAVerifiableDownload) {
    struct Case {
        const char* dl;
        const char* sha;
        UpdaterOfferProblem problem;
    } cases[] = {
        {kDl, nullptr, UpdaterOfferProblem::WithoutHash},
        {kDl, "12345", UpdaterOfferProblem::WithoutHash},
        {"file:///C:/Windows/Temp/DirvaneSetup.exe", kSha, UpdaterOfferProblem::UnsafeAddress},
        {"\\\\127.0.0.1\\share\\DirvaneSetup.exe", kSha, UpdaterOfferProblem::UnsafeAddress},
        {"ftp://127.0.0.1/DirvaneSetup.exe", kSha, UpdaterOfferProblem::UnsafeAddress},
    };
    for (const Case& c : cases) {
        StoreUpdateState(0, L"20000101");
        UseScenario({Reply("2.0.1.0", "News", c.dl, "DirvaneSetup.exe", c.sha)});
        auto updater = Check();
        EXPECT_FALSE(updater->IsError()) << c.dl;
        EXPECT_TRUE(updater->IsAvailable()) << c.dl;
        EXPECT_EQ(c.problem, updater->OfferProblem()) << c.dl;
        EXPECT_TRUE(updater->IsUpdateAvailable()) << c.dl;
        dvtest::ScratchFolder folder(L"DirvaneUpdateCheck");
        EXPECT_FALSE(updater->StartDownload((folder / L"DirvaneSetup.exe").c_str())) << c.dl;
        EXPECT_FALSE(updater->IsWorkerRunning());
    }
}

// The handler's quiet check: once a day by "UpdateLastCheck", one at a time per process.
TEST_F(UpdateCheck, BackgroundCheckRunsOnceADay) {
    struct Case {
        const wchar_t* lastCheck;  // null: no value
        bool starts;
    } cases[] = {{nullptr, true}, {L"20000101", true}, {L"garbage", true}, {L"", true}};
    for (const Case& c : cases) {
        if (c.lastCheck) StoreUpdateState(0, c.lastCheck);
        UseScenario({Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe", kSha)});
        CUpdater first(nullptr, 100, kProductKeyPath, ServerBase().c_str());
        EXPECT_EQ(c.starts, first.StartBackgroundCheck());
        ASSERT_TRUE(dvtest::WaitFor([&] { return !first.IsWorkerRunning(); }));
        EXPECT_FALSE(CUpdater::BackgroundCheckRunning());
        EXPECT_EQ(1u, Requests().size());
        // The same day, a second handler sends nothing and shows the stored outcome.
        CUpdater second(nullptr, 100, kProductKeyPath, ServerBase().c_str());
        EXPECT_FALSE(second.StartBackgroundCheck());
        EXPECT_FALSE(second.IsWorkerRunning());
        EXPECT_TRUE(second.IsUpdateAvailable());
        EXPECT_EQ(1u, Requests().size());
        dvtest::CleanProductKey clean;
    }
    // The manager's check always runs.
    StoreUpdateState(0, TodayUtc().c_str());
    UseScenario({Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe", kSha)});
    Check();
    EXPECT_EQ(1u, Requests().size());
}

// A check that ends without a result stores no date: the next right-clicks of the hour start none
// (no network must not cost a thread per right-click), whether it failed or its menu closed first,
// as it does on a network that answers too slowly.
TEST_F(UpdateCheck, ACheckWithoutResultPausesTheNextForAnHour) {
    Scenario stall;
    stall.stall = true;
    stall.stallSeconds = 1;
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "failed");
        dv::updater::testing::ForgetFailedBackgroundCheck();
        UseScenario(stall);
        {
            CUpdater first(nullptr, 100, kProductKeyPath, (cancel ? ServerBase() : DownServerBase()).c_str());
            ASSERT_TRUE(first.StartBackgroundCheck());
            if (cancel) ASSERT_TRUE(dvtest::WaitFor([] { return !Requests().empty(); }));
            else ASSERT_TRUE(dvtest::WaitFor([&] { return !first.IsWorkerRunning(); }));
        }
        ASSERT_TRUE(dvtest::WaitFor([] { return !CUpdater::BackgroundCheckRunning(); }, std::chrono::seconds(20)));
        UseScenario({Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe", kSha)});
        EXPECT_FALSE(CUpdater::BackgroundCheckMayStart());
        CUpdater paused(nullptr, 100, kProductKeyPath, ServerBase().c_str());
        EXPECT_FALSE(paused.StartBackgroundCheck());
        EXPECT_TRUE(Requests().empty());
        EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; }, std::chrono::seconds(20)));
    }
    dv::updater::testing::ForgetFailedBackgroundCheck();
    CUpdater resumed(nullptr, 100, kProductKeyPath, ServerBase().c_str());
    EXPECT_TRUE(resumed.StartBackgroundCheck());
    ASSERT_TRUE(dvtest::WaitFor([&] { return !resumed.IsWorkerRunning(); }));
    EXPECT_EQ(1u, Requests().size());
}

TEST_F(UpdateCheck, FiftyHandlersWithAStalledServerStartOneWorker) {
    Scenario stall;
    stall.stall = true;
    stall.stallSeconds = 2;
    UseScenario(stall);
    std::vector<std::unique_ptr<CUpdater>> handlers;
    int started = 0;
    for (int i = 0; i < 50; ++i) {
        handlers.push_back(std::make_unique<CUpdater>(nullptr, 100, kProductKeyPath, ServerBase().c_str()));
        started += handlers.back()->StartBackgroundCheck() ? 1 : 0;
    }
    EXPECT_EQ(1, started);
    EXPECT_TRUE(CUpdater::BackgroundCheckRunning());
    ASSERT_TRUE(dvtest::WaitFor([] { return !Requests().empty(); }));
    handlers.clear();  // returns at once; the one worker ends by itself
    EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; }, std::chrono::seconds(20)));
    EXPECT_FALSE(CUpdater::BackgroundCheckRunning());
    EXPECT_EQ(1u, Requests().size());
}

// Earlier versions left their reply file in %TEMP% when the host ended mid-check; the next check
// removes such files and nothing else.
TEST_F(UpdateCheck, LeftoverReplyFilesAreRemovedByTheNextCheck) {
    wchar_t temp[MAX_PATH];
    ASSERT_TRUE(::GetTempPathW(MAX_PATH, temp));
    auto make = [&](const wchar_t* name, const char* content, bool old) {
        const std::wstring path = std::wstring(temp) + name;
        dv::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), content, static_cast<DWORD>(strlen(content)), &written, nullptr);
        if (old) {
            FILETIME longAgo = {0, 0x01000000};
            ::SetFileTime(file.get(), nullptr, nullptr, &longAgo);
        }
        return path;
    };
    const std::wstring cutShort = make(L"updA1F.tmp", "[Info]\r\nVer=2.0.1.0\r\n", false);
    const std::wstring emptyOld = make(L"upd7.tmp", "", true);
    const std::wstring emptyNew = make(L"upd8.tmp", "", false);  // perhaps another program's, just made
    const std::wstring foreign = make(L"updB0B.tmp", "other program's data", true);
    const std::wstring otherName = make(L"update-notes.tmp", "[Info]\r\n", true);
    UseScenario({Reply("2.0.0.26", "", kDl, "DirvaneSetup.exe", kSha)});
    Check();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(cutShort.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(emptyOld.c_str()));
    for (const std::wstring& kept : {emptyNew, foreign, otherName}) {
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(kept.c_str())) << kept.c_str();
        ::DeleteFileW(kept.c_str());
    }
}

TEST_F(UpdateCheck, SameOrOlderVersionIsNotAvailable) {
    for (const char* version : {"2.0.0.26", "1.9.0.30"}) {
        StoreUpdateState(1, L"20000101");
        UseScenario({Reply(version, "", kDl, "DirvaneSetup.exe")});
        auto updater = Check();
        EXPECT_FALSE(updater->IsError()) << version;
        EXPECT_FALSE(updater->IsAvailable()) << version;
        DWORD avail = 7;
        std::wstring day;
        EXPECT_TRUE(StoredUpdateAvail(avail));
        EXPECT_EQ(0u, avail) << version;  // the menu item goes away
        EXPECT_TRUE(StoredLastCheck(day));
        EXPECT_EQ(TodayUtc(), day);
        EXPECT_FALSE(updater->IsUpdateAvailable());
    }
}

TEST_F(UpdateCheck, ReplyWithoutAnAnnouncedLength) {
    Scenario scenario{Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe", kSha)};
    scenario.noLength = true;
    UseScenario(scenario);
    auto updater = Check();
    EXPECT_FALSE(updater->IsError());
    EXPECT_TRUE(updater->IsAvailable());
    EXPECT_EQ(UpdaterOfferProblem::Downloadable, updater->OfferProblem());
}

TEST_F(UpdateCheck, SingleNumberVersionCountsAsMajor) {
    UseScenario({Reply("3", "", kDl, "DirvaneSetup.exe")});
    auto updater = Check();
    EXPECT_FALSE(updater->IsError());
    EXPECT_TRUE(updater->IsAvailable());
    EXPECT_STREQ(L"3", updater->NewVersion());
}

TEST_F(UpdateCheck, ReplyWithoutFileNameOrWithAPath) {
    UseScenario({Reply("2.0.1.0", "", kDl, nullptr)});
    auto updater = Check();
    EXPECT_FALSE(updater->IsError());
    EXPECT_TRUE(updater->IsAvailable());
    EXPECT_STREQ(L"", updater->InstallerFile());  // the user names the file

    UseScenario({Reply("2.0.1.0", "", kDl, "C:\\Windows\\System32\\DirvaneSetup.exe")});
    updater = Check();
    EXPECT_STREQ(L"DirvaneSetup.exe", updater->InstallerFile());
}

TEST_F(UpdateCheck, UnusableRepliesAreErrorsAndStoreNothing) {
    struct Case {
        std::string reply;
        int status;
        const wchar_t* description;
    } cases[] = {
        {Reply(nullptr, nullptr, kDl, "DirvaneSetup.exe"), 200, L"Unknown data file format."},  // no "Ver"
        {Reply("2.0.1.0", "News", nullptr, "DirvaneSetup.exe"), 200, L"News"},                // no "DL"
        {Reply(nullptr, "Server is down for maintenance.", nullptr, nullptr), 200,
         L"Server is down for maintenance."},  // the server's own error
        {"", 200, L"Unknown data file format."},
        {"<html>Internal error</html>", 500, L"Unknown data file format."},
    };
    for (const Case& c : cases) {
        StoreUpdateState(1, L"20000101");
        Scenario scenario{c.reply};
        scenario.status = c.status;
        UseScenario(scenario);
        auto updater = Check();
        EXPECT_TRUE(updater->IsError()) << c.reply;
        EXPECT_STREQ(c.description, updater->Description()) << c.reply;
        DWORD avail = 0;
        std::wstring day;
        EXPECT_TRUE(StoredUpdateAvail(avail));
        EXPECT_EQ(1u, avail);  // an earlier offer stays
        EXPECT_TRUE(StoredLastCheck(day));
        EXPECT_EQ(L"20000101", day);
        EXPECT_TRUE(updater->IsUpdateAvailable());
    }
}

TEST_F(UpdateCheck, ServerThatIsDownGivesAnError) {
    auto updater = Check(DownServerBase());
    EXPECT_TRUE(updater->IsError());
    EXPECT_STREQ(L"Unknown data file format.", updater->Description());
    DWORD avail = 0;
    EXPECT_FALSE(StoredUpdateAvail(avail));
    EXPECT_FALSE(updater->IsUpdateAvailable());
}

TEST_F(UpdateCheck, OwnerlessCheckRunsInTheBackgroundAndHoldsTheModule) {
    UseScenario({Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe")});
    CUpdater updater(nullptr, 100, kProductKeyPath, ServerBase().c_str());
    EXPECT_FALSE(updater.IsUpdateAvailable());
    updater.StartCheck();
    EXPECT_TRUE(updater.IsBusy());
    EXPECT_GT(Module().GetLockCount(), 0);
    ASSERT_TRUE(dvtest::WaitFor([&] { return !updater.IsWorkerRunning(); }));
    EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; }));
    EXPECT_TRUE(updater.IsAvailable());
    EXPECT_TRUE(updater.IsUpdateAvailable());
}

TEST_F(UpdateCheck, AvailabilityComesFromTheRegistryOnly) {
    CUpdater updater(nullptr, 100, kProductKeyPath, ServerBase().c_str());
    EXPECT_FALSE(updater.IsUpdateAvailable());
    StoreUpdateState(5, L"x");
    EXPECT_TRUE(updater.IsUpdateAvailable());
    StoreUpdateState(0, L"x");
    EXPECT_FALSE(updater.IsUpdateAvailable());
    dv::unique_hkey key = dv::CreateRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
    dv::WriteRegString(key.get(), L"UpdateAvail", L"1");
    EXPECT_FALSE(updater.IsUpdateAvailable());
}

// A server that accepts the connection and then says nothing must not hold up the host: letting go
// of the updater returns at once, and the module stays locked until the worker has given up.
TEST_F(UpdateCheck, StalledServerDoesNotHoldUpTheRelease) {
    StoreUpdateState(1, L"20000101");
    Scenario stall;
    stall.stall = true;
    stall.stallSeconds = 2;
    UseScenario(stall);
    auto updater = std::make_unique<CUpdater>(nullptr, 100, kProductKeyPath, ServerBase().c_str());
    updater->StartCheck();
    ASSERT_TRUE(dvtest::WaitFor([] { return !Requests().empty(); }));  // the transfer hangs on the server

    auto start = Clock::now();
    updater.reset();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(took.count(), 200);
    EXPECT_GT(Module().GetLockCount(), 0);  // DllCanUnloadNow would say S_FALSE
    EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; }, std::chrono::seconds(20)));
    DWORD avail = 0;
    std::wstring day;
    EXPECT_TRUE(StoredUpdateAvail(avail));
    EXPECT_EQ(1u, avail);
    EXPECT_TRUE(StoredLastCheck(day));
    EXPECT_EQ(L"20000101", day);
}

// CancelAndWait on the owner's thread while the worker sends it progress: the wait keeps the
// thread's messages flowing, so neither waits for the other.
TEST_F(UpdateCheck, CancelAndWaitOnTheOwnersThreadDoesNotDeadlock) {
    Scenario slow{Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe")};
    UseScenario(slow);
    auto updater = std::make_unique<CUpdater>(recorder_.window(), 100, kProductKeyPath, ServerBase().c_str());
    updater->StartCheck();
    // Without pumping: wait until the worker sits in a send to this thread.
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) && Clock::now() < deadline) ::Sleep(1);
    ASSERT_TRUE(HIWORD(::GetQueueStatus(QS_SENDMESSAGE)));
    EXPECT_TRUE(recorder_.notifications().empty());
    updater->CancelAndWait();
    EXPECT_FALSE(updater->IsWorkerRunning());
    EXPECT_TRUE(updater->IsCancelled());
    EXPECT_TRUE(updater->IsError());
    EXPECT_FALSE(recorder_.ProgressPercents().empty());  // the pending send was delivered during the wait

    // The cancel event stays signalled: a later check of the same object is aborted too.
    UseScenario(slow);
    recorder_.Clear();
    updater->StartCheck();
    ASSERT_TRUE(dvtest::WaitFor([&] { return recorder_.Completed() && !updater->IsWorkerRunning(); }));
    EXPECT_TRUE(updater->IsError());
    EXPECT_TRUE(Requests().empty());
}

TEST_F(UpdateCheck, ProgressIsReportedFromEachTransfersStart) {
    UseScenario({Reply("2.0.1.0", "", kDl, "DirvaneSetup.exe")});
    auto updater = Check();
    std::vector<int> first = recorder_.ProgressPercents();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(100, first.back());
    for (size_t i = 1; i < first.size(); ++i) EXPECT_NE(first[i - 1], first[i]);  // only changes are sent

    recorder_.Clear();
    updater->StartCheck();  // the same object again: the first percentage is reported afresh
    ASSERT_TRUE(dvtest::WaitFor([&] { return recorder_.Completed() && !updater->IsWorkerRunning(); }));
    EXPECT_EQ(first, recorder_.ProgressPercents());
}

TEST_F(UpdateCheck, CallbackPercentagesAbortAndComSlots) {
    CUpdater updater(recorder_.window(), 100, kProductKeyPath, ServerBase().c_str());
    CUpdaterBindStatusCallback* callback = updater.Callback();
    auto progress = [&](ULONG done, ULONG max, ULONG status) {
        recorder_.Clear();
        EXPECT_EQ(S_OK, callback->OnProgress(done, max, status, nullptr));
        std::vector<int> sent = recorder_.ProgressPercents();  // sent synchronously on this thread
        return sent.empty() ? -2 : sent.back();
    };
    EXPECT_EQ(0, progress(0, 0, BINDSTATUS_CONNECTING));
    EXPECT_EQ(-2, progress(5, 0, BINDSTATUS_SENDINGREQUEST));  // still 0: nothing sent
    EXPECT_EQ(25, progress(50, 200, BINDSTATUS_DOWNLOADINGDATA));
    EXPECT_EQ(99, progress(0xFFFFFFF0u, 0xFFFFFFFFu, BINDSTATUS_DOWNLOADINGDATA));  // no overflow
    EXPECT_EQ(100, progress(30, 20, BINDSTATUS_DOWNLOADINGDATA));  // more than announced stays at 100
    EXPECT_EQ(-2, progress(40, 20, BINDSTATUS_DOWNLOADINGDATA));
    EXPECT_EQ(-2, progress(7, 9, BINDSTATUS_ENDDOWNLOADDATA));  // 100 again: not sent...
    EXPECT_EQ(100, progress(0, 0, BINDSTATUS_ENDDOWNLOADDATA));  // ...but the end reset the memory
    EXPECT_EQ(0, progress(0, 10, BINDSTATUS_BEGINDOWNLOADDATA));
    EXPECT_FALSE(callback->TransferIncomplete());
    EXPECT_EQ(100, progress(5, 10, BINDSTATUS_ENDDOWNLOADDATA));  // ended short of the announced size
    EXPECT_TRUE(callback->TransferIncomplete());
    callback->ResetProgress();
    EXPECT_FALSE(callback->TransferIncomplete());
    progress(10, 10, BINDSTATUS_ENDDOWNLOADDATA);
    EXPECT_FALSE(callback->TransferIncomplete());

    EXPECT_EQ(E_POINTER, callback->QueryInterface(IID_IUnknown, nullptr));
    void* out = nullptr;
    EXPECT_EQ(E_NOINTERFACE, callback->QueryInterface(IID_IBinding, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(S_OK, callback->QueryInterface(IID_IBindStatusCallback, &out));
    EXPECT_EQ(static_cast<IBindStatusCallback*>(callback), out);
    EXPECT_EQ(2u, callback->AddRef());
    EXPECT_EQ(1u, callback->Release());
    EXPECT_EQ(0u, callback->Release());
    EXPECT_EQ(0u, callback->Release());  // never below zero, never deleted
    EXPECT_EQ(E_NOTIMPL, callback->OnStartBinding(0, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback->OnStopBinding(S_OK, nullptr));

    DWORD flags = 0;
    BINDINFO info = {};
    EXPECT_EQ(E_POINTER, callback->GetBindInfo(nullptr, &info));
    EXPECT_EQ(E_POINTER, callback->GetBindInfo(&flags, nullptr));
    info.cbSize = 127;
    EXPECT_EQ(E_INVALIDARG, callback->GetBindInfo(&flags, &info));
    info.cbSize = sizeof(info);
    info.dwBindVerb = BINDVERB_POST;
    EXPECT_EQ(E_NOTIMPL, callback->GetBindInfo(&flags, &info));
    info.dwBindVerb = BINDVERB_PUT;
    EXPECT_EQ(E_UNEXPECTED, callback->GetBindInfo(&flags, &info));
    EXPECT_EQ(0u, flags);

    updater.Cancel();
    recorder_.Clear();
    EXPECT_EQ(E_ABORT, callback->OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_TRUE(recorder_.notifications().empty());
}

} // namespace
