// Navigation against the real thing: Wine's Open dialog and folder browser, and the shell
// opening a folder window when nothing can be steered.
#include "navigate/navigate.h"
#include "nav_windows.h"
#include "common/test_support.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <functional>
#include <string>

using namespace dv::nav;
using dvtest::FindForeignWindow;
using dvtest::ShellWindowCloser;

namespace {

constexpr wchar_t kComputer[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";
constexpr UINT_PTR kWatchdogTimer = 0xD1;
constexpr UINT kRunSteps = WM_APP + 1;
constexpr UINT kWatchdogMs = 30000;

std::wstring FolderPathOf(HWND dialog) {
    wchar_t path[MAX_PATH] = L"";
    if (::SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(path)) <= 0) return L"";
    return path;
}

dv::unique_pidl FolderListOf(HWND dialog) {
    BYTE buffer[2048] = {};
    LRESULT size = ::SendMessageW(dialog, CDM_GETFOLDERIDLIST, sizeof(buffer), reinterpret_cast<LPARAM>(buffer));
    if (size <= 0 || size > LRESULT(sizeof(buffer))) return dv::unique_pidl();
    return dv::unique_pidl(::ILClone(reinterpret_cast<PCIDLIST_ABSOLUTE>(buffer)));
}

dv::unique_pidl ComputerList() {
    dv::unique_pidl list;
    ::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()));
    return list;
}

// The folder an IFolderView shows, as an item identifier list.
dv::unique_pidl FolderOfView(IFolderView* view) {
    dv::unique_pidl list;
    dv::com_ptr<IPersistFolder2> folder;
    if (view && SUCCEEDED(view->GetFolder(IID_IPersistFolder2, folder.put_void())) && folder)
        folder->GetCurFolder(reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()));
    return list;
}

// Runs steps inside a modal Open dialog once it is ready, then cancels it. A watchdog cancels
// the dialog if the steps never finish.
struct OpenDialogRun {
    std::function<void(HWND dialog)> steps;
    bool ran = false;
    bool timedOut = false;
};

UINT_PTR CALLBACK OpenDialogHook(HWND hook, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* run = reinterpret_cast<OpenDialogRun*>(::GetWindowLongPtrW(hook, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrW(hook, GWLP_USERDATA, reinterpret_cast<OPENFILENAMEW*>(lParam)->lCustData);
        ::SetTimer(hook, kWatchdogTimer, kWatchdogMs, nullptr);
        break;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->code == CDN_INITDONE) ::PostMessageW(hook, kRunSteps, 0, 0);
        break;
    case kRunSteps:
        if (run && !run->ran) {
            run->ran = true;
            run->steps(::GetParent(hook));
        }
        ::PostMessageW(::GetParent(hook), WM_COMMAND, IDCANCEL, 0);
        break;
    case WM_TIMER:
        if (wParam == kWatchdogTimer && run) {
            run->timedOut = true;
            ::PostMessageW(::GetParent(hook), WM_COMMAND, IDCANCEL, 0);
        }
        break;
    }
    return 0;
}

void RunInOpenDialog(const std::wstring& startFolder, OpenDialogRun& run) {
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW ofn = {sizeof(ofn)};
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = startFolder.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    ofn.lpfnHook = OpenDialogHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&run);
    ::GetOpenFileNameW(&ofn);
}


} // namespace

TEST(OpenDialog, BrowsesInPlaceAndShowsItsFolderView) {
    dv::com_init com;
    dvtest::ScratchFolder scratch(L"dvnav-open-dialog");
    std::wstring start = scratch.MakeFolder(L"Start");
    std::wstring target = scratch.MakeFolder(L"Target Folder");
    std::wstring missing = scratch / L"Missing";

    OpenDialogRun run;
    run.steps = [&](HWND dialog) {
        ASSERT_EQ(TargetWindowKind::ShellBrowserWindow, ClassifyTargetWindow(dialog));
        ASSERT_EQ(start, FolderPathOf(dialog));

        // The same dialog shows the folder.
        JumpToFolder(dialog, target.c_str());
        EXPECT_EQ(target, FolderPathOf(dialog));

        // Its folder view, asked directly and through a tab window that has the browser.
        navtest::Windows windows;
        dv::com_ptr<IFolderView> view;
        EXPECT_EQ(S_OK, GetFolderView(dialog, view));
        ASSERT_TRUE(view);
        EXPECT_TRUE(navtest::SameList(navtest::Parse(target).get(), FolderOfView(view.get()).get()));
        HWND host = windows.Make(L"DvNavHost");
        navtest::ForwardBrowserMessage(windows.Make(L"ShellTabWindowClass", host), dialog);
        dv::com_ptr<IFolderView> tabView;
        EXPECT_EQ(S_OK, GetFolderView(host, tabView));
        EXPECT_TRUE(tabView);

        // A plain window has no folder view, and the caller's old view does not survive.
        HWND plain = windows.Make(L"DvNavPlain");
        EXPECT_EQ(E_FAIL, GetFolderView(plain, tabView));
        EXPECT_FALSE(tabView);
        // Nor has a shell browser without an active view.
        navtest::FakeShellBrowser viewless;
        navtest::AnswerWithBrowser(plain, &viewless);
        EXPECT_EQ(E_FAIL, GetFolderView(plain, tabView));

        // A folder that does not exist changes nothing.
        JumpToFolder(dialog, missing.c_str());
        EXPECT_EQ(target, FolderPathOf(dialog));

        // The Computer folder by its namespace path.
        JumpToFolder(dialog, kComputer);
        dv::unique_pidl shown = FolderListOf(dialog);
        EXPECT_TRUE(navtest::SameList(ComputerList().get(), shown.get())) << navtest::NameOf(shown.get());
    };
    RunInOpenDialog(start, run);
    EXPECT_TRUE(run.ran);
    EXPECT_FALSE(run.timedOut);
}

TEST(OpenDialog, ForegroundWindowIsAskedWhenNoWindowIsGiven) {
    dv::com_init com;
    navtest::Windows windows;
    HWND plain = windows.Make(L"DvNavPlain", nullptr, WS_POPUP | WS_VISIBLE);
    ::SetForegroundWindow(plain);
    ASSERT_TRUE(dvtest::WaitFor([&] { return ::GetForegroundWindow() == plain; }));
    dv::com_ptr<IFolderView> view;
    EXPECT_EQ(E_FAIL, GetFolderView(nullptr, view));
    EXPECT_TRUE(navtest::ReceivedMessage(plain, kGetShellBrowserMessage, 0));

    navtest::FakeShellBrowser browser;
    navtest::AnswerWithBrowser(plain, &browser);
    EXPECT_EQ(E_FAIL, GetFolderView(nullptr, view));  // a browser, but no active view
}

namespace {

struct PickerRun {
    std::wstring start, target, missing;
    std::vector<std::wstring> selections;
    bool timedOut = false;
};

PickerRun* g_picker = nullptr;

void CALLBACK PickerWatchdog(HWND dialog, UINT, UINT_PTR, DWORD) {
    ::KillTimer(dialog, kWatchdogTimer);
    if (g_picker) g_picker->timedOut = true;
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

int CALLBACK PickerCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
    auto* run = reinterpret_cast<PickerRun*>(data);
    if (message == BFFM_INITIALIZED) {
        ::SetTimer(dialog, kWatchdogTimer, kWatchdogMs, PickerWatchdog);
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(run->start.c_str()));
        run->selections.clear();
        SelectInFolderBrowser(dialog, (run->target + L"\\").c_str());
        SelectInFolderBrowser(dialog, (run->missing + L"\\").c_str());
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    } else if (message == BFFM_SELCHANGED) {
        run->selections.push_back(navtest::NameOf(reinterpret_cast<PCUIDLIST_RELATIVE>(lParam)));
    }
    return 0;
}

} // namespace

TEST(FolderBrowser, SelectsTheFolderInARealPicker) {
    dv::com_init com;
    dvtest::ScratchFolder scratch(L"dvnav-picker");
    PickerRun run;
    run.start = scratch.MakeFolder(L"Start");
    run.target = scratch.MakeFolder(L"Deep\\Target");
    run.missing = scratch / L"Missing";
    g_picker = &run;

    BROWSEINFOW info = {};
    info.lpszTitle = L"Navigation test";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = PickerCallback;
    info.lParam = reinterpret_cast<LPARAM>(&run);
    dv::unique_pidl chosen(reinterpret_cast<LPITEMIDLIST>(::SHBrowseForFolderW(&info)));
    g_picker = nullptr;

    EXPECT_FALSE(run.timedOut);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(run.target, navtest::NameOf(chosen.get()));
    ASSERT_FALSE(run.selections.empty());
    EXPECT_EQ(run.target, run.selections.back());
}

TEST(Fallback, WindowsWithoutShellBrowserOpenTheFolderThroughTheShell) {
    dv::com_init com;
    navtest::Windows windows;
    dvtest::ScratchFolder scratch(L"dvnav-fallback");
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());

    // A window that does not answer the shell-browser message.
    const std::wstring name = L"DvNavOpened" + pid;
    std::wstring folder = scratch.MakeFolder(name.c_str());
    ShellWindowCloser closer(name);
    HWND plain = windows.Make(L"DvNavPlain");
    JumpToFolder(plain, folder.c_str());
    EXPECT_TRUE(navtest::ReceivedMessage(plain, kGetShellBrowserMessage, 0));
    HWND opened = nullptr;
    EXPECT_TRUE(dvtest::WaitFor([&] { return (opened = FindForeignWindow(name)) != nullptr; }));
    if (opened) {
        ::PostMessageW(opened, WM_CLOSE, 0, 0);
        EXPECT_TRUE(dvtest::WaitFor([&] { return !::IsWindow(opened); }));
    }

    // No window at all.
    const std::wstring name2 = L"DvNavNoOwner" + pid;
    std::wstring folder2 = scratch.MakeFolder(name2.c_str());
    ShellWindowCloser closer2(name2);
    JumpToFolder(nullptr, folder2.c_str());
    HWND opened2 = nullptr;
    EXPECT_TRUE(dvtest::WaitFor([&] { return (opened2 = FindForeignWindow(name2)) != nullptr; }));
    if (opened2) {
        ::PostMessageW(opened2, WM_CLOSE, 0, 0);
        EXPECT_TRUE(dvtest::WaitFor([&] { return !::IsWindow(opened2); }));
    }
}

TEST(ForeignWindows, AreNeverAskedForPointers) {
    dv::com_init com;
    dvtest::ScratchFolder scratch(L"dvnav-foreign");
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    const std::wstring title = L"DvNavForeign" + pid;
    DWORD processId = 0;
    dv::unique_handle process = dvtest::StartProcess(
        L"\"" + dvtest::ProgramFolder() + L"\\nav_foreign_window.exe\" " + title, &processId);
    ASSERT_TRUE(process);
    // The program makes its top window first and the tree inside it afterwards: wait for both.
    HWND top = nullptr, tree = nullptr;
    bool found = dvtest::WaitFor([&] {
        top = FindForeignWindow(title);
        tree = top ? ::FindWindowExW(::FindWindowExW(top, nullptr, L"SHBrowseForFolder ShellNameSpace Control", nullptr),
                                     nullptr, WC_TREEVIEWW, nullptr)
                   : nullptr;
        return tree != nullptr;
    });
    if (!found) ::TerminateProcess(process.get(), 1);
    ASSERT_TRUE(found);

    // Its answer would be a pointer into the other process: the window is not asked at all.
    dv::com_ptr<IFolderView> view;
    EXPECT_EQ(E_FAIL, GetFolderView(top, view));
    ASSERT_EQ(TargetWindowKind::FolderBrowserTree, ClassifyTargetWindow(tree));
    std::wstring folder = scratch.MakeFolder((L"DvNavForeignJump" + pid).c_str());
    JumpToFolder(tree, folder.c_str());

    // Nothing to steer in place: the folder opens through the shell.
    const std::wstring name = L"DvNavForeignJump" + pid;
    ShellWindowCloser closer(name);
    JumpToFolder(top, folder.c_str());
    EXPECT_TRUE(dvtest::WaitFor([&] { return FindForeignWindow(name) != nullptr; }));

    ::PostMessageW(top, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 99);
    DWORD received = 99;
    ::GetExitCodeProcess(process.get(), &received);
    EXPECT_EQ(0u, received);  // neither the browser message nor a selection arrived
}
