#include "installer_support.h"
#include "common/registry.h"
#include "common/text.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <fstream>
#include <iterator>

namespace insttest {

using namespace std::chrono_literals;

std::wstring SetupPath() { return dvtest::DistFile(kSetupName); }
std::wstring HelperPath() { return dvtest::ProgramFolder() + L"\\installer_helper.exe"; }
std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

namespace {
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR folder = nullptr;
    std::wstring result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &folder))) result = folder;
    ::CoTaskMemFree(folder);
    return result;
}
} // namespace

std::wstring InstallDir() { return KnownFolder(FOLDERID_ProgramFilesX64) + L"\\Dirvane"; }
std::wstring Installed(const wchar_t* name) { return InstallDir() + L"\\" + name; }
std::wstring UserInstallDir() { return KnownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Dirvane"; }

std::string Narrow(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                                  static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? n : 0);
    return out;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    return static_cast<bool>(dv::OpenRegKey(root, path.c_str(), KEY_READ | view));
}

std::wstring RegText(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
    dv::unique_hkey key = dv::OpenRegKey(root, path.c_str(), KEY_READ | view);
    wchar_t text[1024];
    if (!key || !dv::ReadRegString(key.get(), name, text, ARRAYSIZE(text))) return L"<missing>";
    return text;
}

bool Running(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

DWORD RunTree(const std::wstring& line, DWORD timeoutMs) {
    DWORD pid = 0;
    dv::unique_handle process = dvtest::StartProcess(line, &pid);
    if (!process) return 0xDEAD0001;
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return 0xDEAD0002;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    // A process that names the ended one's identifier as its parent is its child only when it was
    // created after it: Wine reuses identifiers, and the desktop's Explorer may name an ended
    // process whose identifier this one was given.
    auto created = [](HANDLE handle) {
        FILETIME creation = {}, unused = {};
        ::GetProcessTimes(handle, &creation, &unused, &unused, &unused);
        return (static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    };
    const ULONGLONG parentCreated = created(process.get());
    dv::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {sizeof(entry)};
    if (snapshot.get() == INVALID_HANDLE_VALUE) return 0xDEAD0003;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != pid) continue;
        dv::unique_handle child(
            ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!child || created(child.get()) < parentCreated) continue;
        if (::WaitForSingleObject(child.get(), timeoutMs) != WAIT_OBJECT_0) return 0xDEAD0004;
        ::GetExitCodeProcess(child.get(), &code);
    }
    return code;
}

DWORD RunSetupSilently(const std::wstring& switches) {
    return RunTree(Quote(SetupPath()) + L" /S" + (switches.empty() ? L"" : L" " + switches));
}
DWORD RunQuietUninstall(const std::wstring& extra, HKEY root) {
    std::wstring line = RegText(root, kUninstallKey, L"QuietUninstallString");
    return RunTree(line + extra);
}

std::wstring LoadInNewProcess(bool userClasses) {
    dvtest::ScratchFolder scratch(L"installer-probe");
    const std::wstring output = scratch / L"loaded.txt";
    DWORD code = dvtest::RunProcess(Quote(HelperPath()) + (userClasses ? L" probe-user " : L" probe ") + Quote(output));
    if (code != 0) return L"<probe failed with " + std::to_wstring(code) + L">";
    std::string bytes = ReadBytes(output);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

namespace {

// The page shown inside the wizard: its visible child dialog.
HWND CurrentPage(HWND wizard) {
    for (HWND child = ::GetWindow(wizard, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        ::GetClassNameW(child, cls, 64);
        if (wcscmp(cls, L"#32770") == 0 && ::IsWindowVisible(child)) return child;
    }
    return nullptr;
}

struct TopSearch {
    const wchar_t* caption;
    bool wizard;  // the wizard itself (it shows a page), not a message box with its caption
    HWND found;
};

BOOL CALLBACK FindTop(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<TopSearch*>(param);
    wchar_t cls[64] = {};
    ::GetClassNameW(window, cls, 64);
    // Pages may add a subcaption to the wizard's caption.
    if (wcscmp(cls, L"#32770") != 0 || !::IsWindowVisible(window) ||
        dv::WindowText(window).rfind(search.caption, 0) != 0)
        return TRUE;
    if ((CurrentPage(window) != nullptr) != search.wizard) return TRUE;
    search.found = window;
    return FALSE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

} // namespace

HWND FindTopWindow(const wchar_t* caption, bool wizard) {
    TopSearch search = {caption, wizard, nullptr};
    ::EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    ::EnumChildWindows(parent, CollectChildren, reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND ChildOfClass(HWND parent, const wchar_t* className, const std::wstring& textPrefix) {
    for (HWND child : Children(parent)) {
        wchar_t cls[64] = {};
        ::GetClassNameW(child, cls, 64);
        if (_wcsicmp(cls, className) == 0 && ::IsWindowVisible(child) &&
            dv::WindowText(child).compare(0, textPrefix.size(), textPrefix) == 0)
            return child;
    }
    return nullptr;
}

std::vector<std::wstring> ListItems(HWND list) {
    std::vector<std::wstring> items;
    const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        items.push_back(text);
    }
    return items;
}

// Clicks through a wizard until finished() holds: every new page is shown to onPage, then its Next
// (Install, Uninstall, Finish, Close) button is clicked once it is enabled. onIdle runs on every
// round, for message boxes. False when the time is up.
bool DriveWizard(const wchar_t* caption, const std::function<void(HWND page)>& onPage,
                 const std::function<bool()>& finished, const std::function<void()>& onIdle) {
    HWND lastPage = nullptr;
    const bool done = dvtest::WaitFor([&] {
        if (finished()) return true;
        if (onIdle) onIdle();
        HWND wizard = FindTopWindow(caption, true);
        if (!wizard || !::IsWindowEnabled(wizard)) return false;
        HWND page = CurrentPage(wizard);
        HWND next = ::GetDlgItem(wizard, IDOK);
        if (!page || page == lastPage || !::IsWindowVisible(next) || !::IsWindowEnabled(next)) return false;
        onPage(page);
        lastPage = page;
        ::PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(next));
        return false;
    }, 180s);
    if (!done) {
        HWND wizard = FindTopWindow(caption, true);
        std::string report = wizard ? "wizard stuck; its windows:" : "no wizard window; top-level windows:";
        std::vector<HWND> windows;
        if (wizard) {
            windows = Children(wizard);
        } else {
            ::EnumWindows(CollectChildren, reinterpret_cast<LPARAM>(&windows));
        }
        for (HWND child : windows) {
            wchar_t cls[64] = {};
            ::GetClassNameW(child, cls, 64);
            report += "\n  " + Narrow(cls) + " id " + std::to_string(::GetDlgCtrlID(child)) +
                      (::IsWindowVisible(child) ? " visible" : "") + (::IsWindowEnabled(child) ? " enabled" : "") +
                      " \"" + Narrow(dv::WindowText(child)) + "\"";
        }
        ADD_FAILURE() << report;
    }
    return done;
}

void EndLeftWizards() {
    for (const wchar_t* caption : {kSetupCaption, kUninstallCaption}) {
        for (bool wizard : {false, true}) {
            HWND window;
            while ((window = FindTopWindow(caption, wizard)) != nullptr) {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(window, &pid);
                dv::unique_handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
                if (!process || !::TerminateProcess(process.get(), 1)) break;
                ::WaitForSingleObject(process.get(), 10000);
            }
        }
    }
}

void EnsureUninstalled() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        if (KeyExists(root, kUninstallKey)) {
            EXPECT_EQ(RunQuietUninstall(L" /REMOVEDATA", root), 0u);
        }
        ::SHDeleteKeyW(root, L"Software\\Ostrelan\\Dirvane Setup");
    }
    dvtest::DeleteTree(InstallDir());
    dvtest::DeleteTree(UserInstallDir());
}

} // namespace insttest
