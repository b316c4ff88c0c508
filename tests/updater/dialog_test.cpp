// The update strip over a stand-in manager window, against the test run's update server: placement,
// the strip's colour and text in each state (read back from the screen; screenshots go to
// <build>/updater-shots), the Download button, the Save dialog, the download and the installer start.
#include "update_server_control.h"
#include "updater/transfer.h"
#include "updater/updater_dlg.h"
#include "common/com.h"
#include "ui/manager_shortcuts.h"
#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

using dv::store::kProductKeyPath;
using dv::ui::ManagerAcceleratorsSuspended;
using dv::updater::CUpdaterDlg;
using dv::updater::ShowUpdaterDialog;
using dv::updater::UpdateHomepage;
using dv::updater::UpdaterRefusal;
using dv::updater::kReceiveTimeoutMs;

using namespace dv;
using namespace updtest;

namespace {

using updtest::Click;
using updtest::SaveDialogNameField;

std::string BuildUnix() {
    const char* build = std::getenv("DIRVANE_BUILD");
    return build ? build : ".";
}

std::string FakeInstallerUnix() { return BuildUnix() + "/tests/updater/updater_fake_installer.exe"; }

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

// A visible dialog window of the thread owned by owner.
HWND FindOwnedDialog(DWORD threadId, HWND owner) {
    struct Search {
        HWND owner, found;
    } search{owner, nullptr};
    ::EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t cls[32];
            ::GetClassNameW(window, cls, 32);
            if (wcscmp(cls, L"#32770") == 0 && ::GetWindow(window, GW_OWNER) == s->owner && ::IsWindowVisible(window)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int CountOwnedDialogs(DWORD threadId, HWND owner) {
    struct Count {
        HWND owner;
        int count;
    } count{owner, 0};
    ::EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM param) -> BOOL {
            auto* c = reinterpret_cast<Count*>(param);
            wchar_t cls[32];
            ::GetClassNameW(window, cls, 32);
            if (wcscmp(cls, L"#32770") == 0 && ::GetWindow(window, GW_OWNER) == c->owner) ++c->count;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.count;
}


COLORREF ScreenPixel(int x, int y) {
    HDC screen = ::GetDC(nullptr);
    COLORREF color = ::GetPixel(screen, x, y);
    ::ReleaseDC(nullptr, screen);
    return color;
}

// Copies a rectangle of the screen into <build>/updater-shots/<name>.bmp.
void Screenshot(const RECT& rect, const char* name) {
    dvtest::WriteScreenBitmap(dvtest::WinPathFromUnix(BuildUnix() + "/updater-shots"), name, &rect);
}

// The strip run modally on a thread of its own over a stand-in manager window, as the manager
// would; the test thread watches and drives it.
class StripRun {
public:
    explicit StripRun(const std::wstring& server, bool throughHelper = false)
        : server_(server), throughHelper_(throughHelper) {
        ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(::CreateThread(nullptr, 0, &StripRun::Run, this, 0, &threadId_));
        ::WaitForSingleObject(ready_.get(), 10000);
    }
    ~StripRun() {
        if (!Ended() && strip_) Click(strip_, IDCANCEL);
        if (::WaitForSingleObject(thread_.get(), 20000) != WAIT_OBJECT_0) ADD_FAILURE() << "the strip did not close";
    }

    bool WaitForStrip() {
        return dvtest::WaitFor([&] { return (strip_ = FindOwnedDialog(threadId_, owner_)) != nullptr; });
    }
    // The strip is there and offers the Download button.
    bool WaitForOffer() {
        return WaitForStrip() &&
               dvtest::WaitFor([&] { return ::IsWindowVisible(::GetDlgItem(strip_, IDOK)) != FALSE; });
    }
    bool WaitForStatus(const wchar_t* text) {
        return dvtest::WaitFor([&] { return dialog_ && wcscmp(dialog_->StatusText(), text) == 0; });
    }
    // The strip's colour where no text is, as the screen shows it.
    bool WaitForScreenColor(COLORREF color) {
        return dvtest::WaitFor([&] {
            RECT r;
            ::GetWindowRect(strip_, &r);
            return ScreenPixel(r.left + 3, r.bottom - 4) == color;
        });
    }
    bool WaitForEnd() {
        return dvtest::WaitFor([&] { return Ended(); }, std::chrono::seconds(20));
    }
    bool Ended() const { return ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }
    HWND WaitForSaveDialog() {
        HWND save = nullptr;
        dvtest::WaitFor([&] { return (save = FindOwnedDialog(threadId_, strip_)) != nullptr; });
        return save;
    }
    // Takes a screenshot once the strip and its buttons have nothing left to paint.
    void Shoot(const char* name) {
        dvtest::WaitFor([&] {
            RECT dirty;
            return !::GetUpdateRect(strip_, &dirty, FALSE) &&
                   !::GetUpdateRect(::GetDlgItem(strip_, IDCANCEL), &dirty, FALSE) &&
                   !::GetUpdateRect(::GetDlgItem(strip_, IDOK), &dirty, FALSE);
        });
        RECT r;
        ::GetWindowRect(owner_, &r);
        Screenshot(r, name);
    }

    HWND owner() const { return owner_; }
    HWND strip() const { return strip_; }
    DWORD threadId() const { return threadId_; }
    CUpdaterDlg* dialog() const { return dialog_; }
    INT_PTR result() const { return result_; }
    bool suspendedWhileOpen = false;

private:
    static DWORD WINAPI Run(void* param) {
        auto* self = static_cast<StripRun*>(param);
        com_init com;
        // Topmost, away from where other tests' windows appear, so the screen shows what we read back.
        self->owner_ = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"Bookmark Manager", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                         560, 520, 640, 420, nullptr, nullptr, nullptr, nullptr);
        ::SetEvent(self->ready_.get());
        if (self->throughHelper_) {
            self->result_ = ShowUpdaterDialog(self->owner_, self->server_.c_str());
        } else {
            CUpdaterDlg dialog(nullptr, 100, kProductKeyPath, self->server_.c_str());
            self->dialog_ = &dialog;
            self->result_ = dialog.DoModal(self->owner_);
            self->dialog_ = nullptr;
        }
        ::DestroyWindow(self->owner_);
        return 0;
    }

    std::wstring server_;
    bool throughHelper_;
    unique_handle ready_, thread_;
    DWORD threadId_ = 0;
    HWND owner_ = nullptr;
    HWND strip_ = nullptr;
    CUpdaterDlg* volatile dialog_ = nullptr;
    volatile INT_PTR result_ = 0;
};

class UpdateStrip : public ::testing::Test {
protected:
    void SetUp() override { tempFilesBefore_ = CountTempReplyFiles(); }
    void TearDown() override {
        EXPECT_EQ(tempFilesBefore_, CountTempReplyFiles());
        EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; }));
    }
    std::string DownloadUrl(const char* servedName = "updater_fake_installer.exe") const {
        std::wstring base = ServerBase();
        return std::string(base.begin(), base.end()) + "/download/" + servedName;
    }
    Scenario Offer(const char* fileName = "DirvaneSetup.exe") const {
        Scenario s{Reply("2.0.1.0", "Faster menus.", DownloadUrl().c_str(), fileName, kServedSha256)};
        s.installer = FakeInstallerUnix();
        return s;
    }
    // Presses Download, names the file in the Save dialog and saves.
    void DownloadTo(StripRun& run, const std::wstring& path) {
        Click(run.strip(), IDOK);
        HWND save = run.WaitForSaveDialog();
        ASSERT_TRUE(save);
        HWND name = SaveDialogNameField(save);
        ASSERT_TRUE(name);
        ::SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        Click(save, IDOK);
    }

    dvtest::CleanProductKey cleanKey_;
    dvtest::ScratchFolder scratch_{L"DirvaneUpdateStrip"};
    int tempFilesBefore_ = 0;
};

TEST_F(UpdateStrip, LiesOverTheManagerAndShowsTheLatestVersionInGreen) {
    UseScenario({Reply("2.0.0.26", "", "http://127.0.0.1:1/x.exe", "x.exe")});
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForStrip());
    RECT owner, strip, client;
    ::GetWindowRect(run.owner(), &owner);
    ::GetWindowRect(run.strip(), &strip);
    ::GetClientRect(run.strip(), &client);
    EXPECT_EQ(owner.left + 2, strip.left);
    EXPECT_EQ(owner.top + ::GetSystemMetrics(SM_CYCAPTION), strip.top);
    EXPECT_EQ(owner.right - owner.left - 4, strip.right - strip.left);
    EXPECT_LT(strip.bottom - strip.top, 100);  // the template's height
    RECT cancel, download;
    ::GetWindowRect(::GetDlgItem(run.strip(), IDCANCEL), &cancel);
    ::GetWindowRect(::GetDlgItem(run.strip(), IDOK), &download);
    EXPECT_EQ(strip.right - 4 - (cancel.right - cancel.left), cancel.left);  // the right edge
    EXPECT_EQ(cancel.left, download.left);
    EXPECT_LT(cancel.top, download.top);

    // Cancel is the default button; the dialog manager's DM_SETDEFID (WM_USER + 1, like the
    // updater's notifications) still reaches it.
    EXPECT_EQ(MAKELRESULT(IDCANCEL, DC_HASDEFID), ::SendMessageW(run.strip(), DM_GETDEFID, 0, 0));
    ::SendMessageW(run.strip(), DM_SETDEFID, IDOK, 0);
    EXPECT_EQ(MAKELRESULT(IDOK, DC_HASDEFID), ::SendMessageW(run.strip(), DM_GETDEFID, 0, 0));
    ::SendMessageW(run.strip(), DM_SETDEFID, IDCANCEL, 0);

    ASSERT_TRUE(run.WaitForStatus(L"You are running the latest version."));
    EXPECT_EQ(CUpdaterDlg::kUpToDateColor, run.dialog()->StripColor());
    EXPECT_TRUE(run.WaitForScreenColor(CUpdaterDlg::kUpToDateColor));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(run.strip(), IDOK)));
    run.Shoot("up-to-date");
    Click(run.strip(), IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(IDCANCEL, run.result());
}

TEST_F(UpdateStrip, ServerErrorsAreShownInSalmon) {
    struct Case {
        std::wstring server;
        std::string reply;
        const wchar_t* text;
        const char* shot;
    } cases[] = {
        {ServerBase(), Reply(nullptr, "Server is down for maintenance.", nullptr, nullptr),
         L"Error:\nServer is down for maintenance.", "error-from-server"},
        {DownServerBase(), "", L"Error:\nUnknown data file format.", "error-server-down"},
    };
    for (const Case& c : cases) {
        UseScenario({c.reply});
        StripRun run(c.server);
        ASSERT_TRUE(run.WaitForStrip());
        ASSERT_TRUE(run.WaitForStatus(c.text));
        EXPECT_EQ(CUpdaterDlg::kErrorColor, run.dialog()->StripColor());
        EXPECT_TRUE(run.WaitForScreenColor(CUpdaterDlg::kErrorColor));
        EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(run.strip(), IDOK)));
        run.Shoot(c.shot);
    }
}

// While the check runs the strip is busy-coloured; Enter presses Cancel, which ends the strip
// within a second although the server stays silent for 30; the worker gives up by itself.
TEST_F(UpdateStrip, EnterCancelsAStalledCheck) {
    Scenario stall;
    stall.stall = true;
    stall.stallSeconds = 30;
    UseScenario(stall);
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForStrip());
    ASSERT_TRUE(dvtest::WaitFor([] { return !Requests().empty(); }));
    EXPECT_EQ(::GetSysColor(COLOR_INFOBK), run.dialog()->StripColor());
    EXPECT_TRUE(run.WaitForScreenColor(::GetSysColor(COLOR_INFOBK)));
    const std::wstring text = run.dialog()->StatusText();
    EXPECT_TRUE(text == L"Starting up..." || text.rfind(L"Checking for updates: ", 0) == 0) << text.c_str();
    run.Shoot("checking");

    HWND focus = ::GetDlgItem(run.strip(), IDCANCEL);
    const auto pressed = std::chrono::steady_clock::now();
    ::PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageW(focus, WM_KEYUP, VK_RETURN, 0xC0000001);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(1));
    EXPECT_EQ(IDCANCEL, run.result());
    EXPECT_FALSE(::IsWindow(run.strip()));
    // The worker ends by itself once the receive time-out has passed, long before the stall would.
    EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; },
                                std::chrono::milliseconds(kReceiveTimeoutMs + 5000)));
}

// A download whose server sends its headers and then nothing: Cancel still closes the strip
// within a second, and the partial file goes once the worker has given up.
TEST_F(UpdateStrip, CancelDuringAStalledDownloadReturnsAtOnce) {
    UseScenario(Offer());
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForOffer());
    Scenario stall = Offer();
    stall.stallAfterHeaders = true;
    stall.stallSeconds = 30;
    UseScenario(stall);
    DownloadTo(run, scratch_ / L"DirvaneSetup.exe");
    ASSERT_TRUE(dvtest::WaitFor([] { return !Requests().empty(); }));
    const auto pressed = std::chrono::steady_clock::now();
    Click(run.strip(), IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(1));
    EXPECT_EQ(IDCANCEL, run.result());
    EXPECT_TRUE(dvtest::WaitFor([] { return Module().GetLockCount() == 0; },
                                std::chrono::milliseconds(kReceiveTimeoutMs + 5000)));
    EXPECT_TRUE(FilesIn(scratch_.path()).empty());
}

// The installer is started only when its SHA-256 is the reply's: otherwise it is deleted and the
// strip says why; a reply without a hash or with a refused address offers no Download at all.
TEST_F(UpdateStrip, InstallerWithTheWrongHashIsDeletedNotStarted) {
    Scenario offer = Offer();
    offer.reply = Reply("2.0.1.0", "Faster menus.", DownloadUrl().c_str(), "DirvaneSetup.exe",
                        "0000000000000000000000000000000000000000000000000000000000000000");
    UseScenario(offer);
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForOffer());
    const std::wstring target = scratch_.MakeFile(L"DirvaneSetup.exe", "old installer");
    DownloadTo(run, target);
    HWND save = FindOwnedDialog(run.threadId(), run.strip());
    HWND confirm = nullptr;
    ASSERT_TRUE(dvtest::WaitFor([&] { return (confirm = FindOwnedDialog(run.threadId(), save)) != nullptr; }));
    Click(confirm, IDYES);  // replace the old file
    ASSERT_TRUE(run.WaitForStatus(L"Error:\nThe downloaded installer is not the one the update server announced. "
                                  L"It was deleted and not started."));
    EXPECT_TRUE(run.WaitForScreenColor(CUpdaterDlg::kErrorColor));
    run.Shoot("hash-mismatch");
    EXPECT_FALSE(run.Ended());
    // The refused download never took the old file's place.
    EXPECT_EQ(std::vector<std::wstring>{L"DirvaneSetup.exe"}, FilesIn(scratch_.path()));
    EXPECT_EQ("old installer", ReadFileBytes(target));
    ::DeleteFileW(target.c_str());
    Click(run.strip(), IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_FALSE(FileExists(target + L".ran"));
}

// With pinned signers, only an installer whose valid signature comes from one of them is started.
TEST_F(UpdateStrip, PinnedSignerDecidesWhetherTheInstallerStarts) {
    TrustedTestRoot root;
    ASSERT_TRUE(root.ok());
    const std::wstring pinned = Thumbprint("publisher");
    struct PinnedForTheTest {
        explicit PinnedForTheTest(const wchar_t* signers) { dv::updater::testing::pinnedSigners = signers; }
        ~PinnedForTheTest() { dv::updater::testing::pinnedSigners = nullptr; }
    } pin(pinned.c_str());
    struct Case {
        const char* file;
        bool starts;
    } cases[] = {{"publisher.exe", true}, {"other.exe", false}, {"unsigned.exe", false}, {"tampered.exe", false}};
    for (const Case& c : cases) {
        Scenario offer;
        offer.installer = SignedFileUnix(c.file);
        offer.reply = Reply("2.0.1.0", "Faster menus.", DownloadUrl(c.file).c_str(), "DirvaneSetup.exe", kServedSha256);
        UseScenario(offer);
        StripRun run(ServerBase());
        ASSERT_TRUE(run.WaitForOffer());
        const std::wstring target = scratch_ / L"DirvaneSetup.exe";
        DownloadTo(run, target);
        if (c.starts) {
            ASSERT_TRUE(run.WaitForEnd());
            EXPECT_EQ(IDOK, run.result());
            EXPECT_TRUE(dvtest::WaitFor([&] { return FileExists(target + L".ran"); })) << c.file;
            dvtest::WaitFor([&] { return ::DeleteFileW(target.c_str()) != FALSE; });
            ::DeleteFileW((target + L".ran").c_str());
            continue;
        }
        EXPECT_TRUE(run.WaitForStatus(L"Error:\nThe downloaded installer is not signed by the publisher. "
                                      L"It was deleted and not started."))
            << c.file;
        if (c.file == std::string("other.exe")) run.Shoot("signer-refused");
        EXPECT_TRUE(FilesIn(scratch_.path()).empty()) << c.file;
        Click(run.strip(), IDCANCEL);
        ASSERT_TRUE(run.WaitForEnd());
        EXPECT_FALSE(FileExists(target + L".ran")) << c.file;
    }
}

TEST_F(UpdateStrip, OfferWithoutAVerifiableInstallerSendsTheUserToTheHomepage) {
    struct Case {
        std::string dl;
        const char* sha;
        const wchar_t* text;
        const char* shot;
    } cases[] = {
        {DownloadUrl(), nullptr, L"the update server did not say how to verify it", "no-hash"},
        {"\\\\127.0.0.1\\share\\DirvaneSetup.exe", kServedSha256, L"from an unsafe download address",
         "unsafe-address"},
    };
    for (const Case& c : cases) {
        Scenario offer = Offer();
        offer.reply = Reply("2.0.1.0", "Faster menus.", c.dl.c_str(), "DirvaneSetup.exe", c.sha);
        UseScenario(offer);
        StripRun run(ServerBase());
        ASSERT_TRUE(run.WaitForStrip());
        ASSERT_TRUE(dvtest::WaitFor([&] { return wcsstr(run.dialog()->StatusText(), c.text) != nullptr; }));
        const std::wstring text = run.dialog()->StatusText();
        EXPECT_NE(std::wstring::npos, text.find(UpdateHomepage())) << text.c_str();
        EXPECT_NE(std::wstring::npos, text.find(L"\nFaster menus.")) << text.c_str();
        EXPECT_TRUE(run.WaitForScreenColor(CUpdaterDlg::kAvailableColor));
        EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(run.strip(), IDOK)));
        run.Shoot(c.shot);
        Click(run.strip(), IDOK);  // a stray Download does nothing
        EXPECT_EQ(0, CountOwnedDialogs(run.threadId(), run.strip()));
    }
}

TEST_F(UpdateStrip, NewVersionOffersDownloadOnceAndTheSaveDialogCanBeCancelled) {
    StoreUpdateState(0, L"20000101");
    UseScenario(Offer());
    StripRun run(ServerBase(), true);  // as the manager opens it
    ASSERT_TRUE(run.WaitForStrip());
    EXPECT_TRUE(ManagerAcceleratorsSuspended);
    HWND download = ::GetDlgItem(run.strip(), IDOK);
    ASSERT_TRUE(dvtest::WaitFor([&] { return ::IsWindowVisible(download) != FALSE; }));
    EXPECT_TRUE(::IsWindowEnabled(download));
    EXPECT_TRUE(run.WaitForScreenColor(CUpdaterDlg::kAvailableColor));
    run.Shoot("update-available");

    Click(run.strip(), IDOK);
    HWND save = run.WaitForSaveDialog();
    ASSERT_TRUE(save);
    EXPECT_FALSE(::IsWindowEnabled(download));
    EXPECT_EQ(L"DirvaneSetup.exe", WindowText(SaveDialogNameField(save)));
    // A second press does nothing (were it to open another Save dialog, the send would not return).
    DWORD_PTR ignored = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(run.strip(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                      reinterpret_cast<LPARAM>(download), SMTO_NORMAL, 3000, &ignored));
    EXPECT_EQ(1, CountOwnedDialogs(run.threadId(), run.strip()));

    Click(save, IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(IDCANCEL, run.result());
    EXPECT_FALSE(ManagerAcceleratorsSuspended);
    DWORD avail = 0;
    EXPECT_TRUE(StoredUpdateAvail(avail));
    EXPECT_EQ(1u, avail);
}

// A long description wraps within the strip and is cut at its bottom edge; the strip keeps its size.
TEST_F(UpdateStrip, TextAndColourOfAnOffer) {
    const std::string news =
        "Faster menus & fewer clicks. Bookmarks now open in place in every file dialog, the manager remembers its "
        "size, colour marks are sharper, and the update check no longer delays the first right-click.";
    Scenario offer = Offer(nullptr);
    offer.reply = Reply("2.0.1.0", news.c_str(), DownloadUrl().c_str(), nullptr, kServedSha256);
    UseScenario(offer);
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForStrip());
    RECT before, after;
    ::GetWindowRect(run.strip(), &before);
    const std::wstring text = L"New version 2.0.1.0 is available!\n" + std::wstring(news.begin(), news.end());
    ASSERT_TRUE(run.WaitForStatus(text.c_str()));
    EXPECT_EQ(CUpdaterDlg::kAvailableColor, run.dialog()->StripColor());
    EXPECT_TRUE(run.WaitForScreenColor(CUpdaterDlg::kAvailableColor));
    ::GetWindowRect(run.strip(), &after);
    EXPECT_TRUE(::EqualRect(&before, &after));
    run.Shoot("long-description");

    Click(run.strip(), IDOK);
    HWND save = run.WaitForSaveDialog();
    ASSERT_TRUE(save);
    EXPECT_EQ(L"", WindowText(SaveDialogNameField(save)));  // no "FN": the user names the file
    Click(save, IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(IDCANCEL, run.result());
}

TEST_F(UpdateStrip, CompletedDownloadStartsTheInstaller) {
    Scenario offer = Offer();
    offer.chunk = 4096;
    offer.delay = 0.05;
    UseScenario(offer);
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForOffer());

    const std::wstring target = scratch_ / L"DirvaneSetup.exe";
    DownloadTo(run, target);
    ASSERT_TRUE(dvtest::WaitFor([&] {
        return run.Ended() || std::wstring(run.dialog()->StatusText()).rfind(L"Downloading: ", 0) == 0;
    }));
    if (!run.Ended()) {
        EXPECT_EQ(::GetSysColor(COLOR_INFOBK), run.dialog()->StripColor());
        run.Shoot("downloading");
    }
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(IDOK, run.result());
    EXPECT_TRUE(dvtest::WaitFor([&] { return FileExists(target + L".ran"); }));
    EXPECT_TRUE(ReadFileBytes(dvtest::WinPathFromUnix(FakeInstallerUnix())) == ReadFileBytes(target));
    dvtest::WaitFor([&] { return ::DeleteFileW(target.c_str()) != FALSE; });  // once the installer has ended
    ::DeleteFileW((target + L".ran").c_str());
    EXPECT_TRUE(FilesIn(scratch_.path()).empty());
}

// A download broken off mid-way (which the platform may report as a success) or one whose server
// is down leaves nothing behind, starts nothing, and a file the user chose to replace survives it.
// Without an announced length, Wine's WinINet takes the broken-off connection for the body's end:
// there the hash refuses the half file, and the strip says so instead of closing.
TEST_F(UpdateStrip, FailedDownloadDeletesThePartialFile) {
    struct Case {
        const char* what;
        bool brokenOff, announced;
    } cases[] = {{"broken off", true, true}, {"broken off, no length", true, false}, {"server down", false, true}};
    for (const Case& c : cases) {
        Scenario offer = Offer();
        offer.partial = c.brokenOff;
        offer.noLength = !c.announced;
        if (!c.brokenOff) {
            std::wstring down = DownServerBase() + L"/download/DirvaneSetup.exe";
            offer.reply = Reply("2.0.1.0", "Faster menus.", std::string(down.begin(), down.end()).c_str(),
                                "DirvaneSetup.exe", kServedSha256);
        }
        UseScenario(offer);
        const std::wstring target = scratch_.MakeFile(L"DirvaneSetup.exe", "old installer");
        StripRun run(ServerBase());
        ASSERT_TRUE(run.WaitForOffer());
        DownloadTo(run, target);
        // The Save dialog asks before replacing the file: Yes.
        HWND save = FindOwnedDialog(run.threadId(), run.strip());
        HWND confirm = nullptr;
        ASSERT_TRUE(dvtest::WaitFor([&] { return run.Ended() || (confirm = FindOwnedDialog(run.threadId(), save)); }));
        if (confirm) Click(confirm, IDYES);
        UpdaterRefusal refusal = UpdaterRefusal::None;
        ASSERT_TRUE(dvtest::WaitFor([&] {
            CUpdaterDlg* dialog = run.dialog();
            if (dialog && dialog->Updater()) refusal = dialog->Updater()->Refusal();
            return run.Ended() || refusal != UpdaterRefusal::None;
        }));
        if (refusal != UpdaterRefusal::None) {
            EXPECT_FALSE(c.announced) << c.what;
            EXPECT_EQ(UpdaterRefusal::HashMismatch, refusal) << c.what;
            Click(run.strip(), IDCANCEL);
        }
        ASSERT_TRUE(run.WaitForEnd());
        if (c.announced) {
            EXPECT_EQ(IDOK, run.result()) << c.what;
        }
        EXPECT_EQ(std::vector<std::wstring>{L"DirvaneSetup.exe"}, FilesIn(scratch_.path())) << c.what;
        EXPECT_EQ("old installer", ReadFileBytes(target)) << c.what;
        EXPECT_FALSE(FileExists(target + L".ran")) << c.what;
    }
}

TEST_F(UpdateStrip, CancelDuringTheDownloadDeletesThePartialFile) {
    Scenario offer = Offer();
    offer.chunk = 1024;
    offer.delay = 0.2;
    UseScenario(offer);
    StripRun run(ServerBase());
    ASSERT_TRUE(run.WaitForOffer());
    const std::wstring target = scratch_ / L"DirvaneSetup.exe";
    DownloadTo(run, target);
    ASSERT_TRUE(dvtest::WaitFor([&] {
        const std::wstring text = run.dialog()->StatusText();
        return text.rfind(L"Downloading: ", 0) == 0 && text != L"Downloading: 0% done";
    }));
    Click(run.strip(), IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(IDCANCEL, run.result());
    EXPECT_TRUE(FilesIn(scratch_.path()).empty());
}

} // namespace
