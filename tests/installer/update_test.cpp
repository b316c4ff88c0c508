// The update dialog downloads this installer from the test run's update server and starts it, as
// a user gets it, started silently through the updater's test-only parameters.
#include "installer_support.h"
#include "updater/update_server_control.h"
#include "updater/updater_dlg.h"
#include "common/handles.h"
#include "common/text.h"
#include <gtest/gtest.h>
#include <cstdlib>

using namespace insttest;

namespace {

using updtest::Click;
using updtest::SaveDialogNameField;

// A visible dialog of the thread other than those named.
HWND FindThreadDialog(DWORD threadId, HWND notThis, HWND norThis) {
    struct Search {
        HWND skip1, skip2, found;
    } search{notThis, norThis, nullptr};
    ::EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t cls[32] = {};
            ::GetClassNameW(window, cls, 32);
            if (window == s->skip1 || window == s->skip2 || wcscmp(cls, L"#32770") != 0 || !::IsWindowVisible(window))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}


// The update dialog, modal on a thread of its own over a stand-in manager window, as the manager
// opens it.
class UpdateDialogRun {
public:
    explicit UpdateDialogRun(const std::wstring& server) : server_(server) {
        ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(::CreateThread(nullptr, 0, &UpdateDialogRun::Run, this, 0, &threadId_));
        ::WaitForSingleObject(ready_.get(), 10000);
    }
    ~UpdateDialogRun() {
        if (!Ended() && strip_) Click(strip_, IDCANCEL);
        if (::WaitForSingleObject(thread_.get(), 20000) != WAIT_OBJECT_0) ADD_FAILURE() << "the dialog did not close";
    }
    HWND WaitForStrip() {
        dvtest::WaitFor([&] { return (strip_ = FindThreadDialog(threadId_, owner_, nullptr)) != nullptr; });
        return strip_;
    }
    HWND WaitForSaveDialog() {
        HWND save = nullptr;
        dvtest::WaitFor([&] { return (save = FindThreadDialog(threadId_, owner_, strip_)) != nullptr; });
        return save;
    }
    bool Ended() const { return ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }
    INT_PTR result() const { return result_; }

private:
    static DWORD WINAPI Run(void* param) {
        auto* self = static_cast<UpdateDialogRun*>(param);
        dv::com_init com;
        self->owner_ = ::CreateWindowExW(0, L"STATIC", L"Bookmark Manager", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                                         640, 420, nullptr, nullptr, nullptr, nullptr);
        ::SetEvent(self->ready_.get());
        {
            dv::updater::CUpdaterDlg dialog(nullptr, IDS_PRODUCT_NAME, dv::store::kProductKeyPath, self->server_.c_str());
            self->result_ = dialog.DoModal(self->owner_);
        }
        ::DestroyWindow(self->owner_);
        return 0;
    }

    std::wstring server_;
    dv::unique_handle ready_, thread_;
    DWORD threadId_ = 0;
    HWND owner_ = nullptr;
    HWND strip_ = nullptr;
    volatile INT_PTR result_ = 0;
};

class UpdateDownload : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureUninstalled();
    }
    void TearDown() override {
        EndLeftWizards();
        EnsureUninstalled();
    }
    dvtest::CleanProductKey cleanKey_;
};

TEST_F(UpdateDownload, TheDownloadedInstallerInstallsTheProduct) {
    const char* dist = std::getenv("DIRVANE_DIST");
    ASSERT_TRUE(dist);
    const std::string setupName = Narrow(kSetupName);
    updtest::Scenario offer{updtest::Reply(
        "2.0.1.0", "Faster menus.", (Narrow(updtest::ServerBase()) + "/download/" + setupName).c_str(), setupName.c_str(),
        updtest::kServedSha256)};
    offer.installer = std::string(dist) + "/" + setupName;
    updtest::UseScenario(offer);

    // Silent in the test only: the product starts the installer without arguments.
    dv::updater::testing::installerParameters = L"/S";
    dvtest::ScratchFolder scratch(L"installer-download");
    const std::wstring target = scratch / kSetupName;
    {
        UpdateDialogRun run(updtest::ServerBase());
        HWND strip = run.WaitForStrip();
        ASSERT_TRUE(strip);
        ASSERT_TRUE(dvtest::WaitFor([&] { return ::IsWindowVisible(::GetDlgItem(strip, IDOK)) != FALSE; }));
        Click(strip, IDOK);
        HWND save = run.WaitForSaveDialog();
        ASSERT_TRUE(save);
        HWND name = SaveDialogNameField(save);
        ASSERT_TRUE(name);
        EXPECT_EQ(dv::WindowText(name), kSetupName);  // the name the server proposed
        ::SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
        Click(save, IDOK);
        ASSERT_TRUE(dvtest::WaitFor([&] { return run.Ended(); }, std::chrono::seconds(60)));
        EXPECT_EQ(run.result(), IDOK);
    }
    EXPECT_EQ(ReadBytes(target), ReadBytes(SetupPath()));

    dv::updater::testing::installerParameters = nullptr;
    // The dialog started the installer, which installs silently and shows no window; it has ended
    // once its file can be deleted.
    ASSERT_TRUE(dvtest::WaitFor([&] { return ::DeleteFileW(target.c_str()) != FALSE; }, std::chrono::seconds(90)));
    EXPECT_FALSE(FindTopWindow(kSetupCaption, true));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L""), Installed(L"Dirvane.dll"));
    EXPECT_EQ(_wcsicmp(LoadInNewProcess().c_str(), Installed(L"Dirvane.dll").c_str()), 0) << Narrow(LoadInNewProcess());
}

} // namespace
