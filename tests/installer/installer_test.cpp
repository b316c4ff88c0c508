// The installer as users run it, in a prefix of its own: silent and interactive installs, upgrades
// while a process holds the old DLL, and the uninstaller with and without the user's data.
#include "common/product_ids.h"
#include "installer_support.h"
#include "common/registry.h"
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <chrono>
#include <memory>
#include <utility>
#include <vector>

using namespace insttest;
using namespace std::chrono_literals;

namespace {

const wchar_t kClsidText[] = DVTEST_HANDLER_CLSID_TEXT;
const wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kHandlerClasses[] = {L"*",     L"Folder",    L"InternetShortcut",    L"lnkfile",
                                          L"Drive", L"Directory", L"Directory\\Background"};
// The class's key in the user's own classes (under HKCU) or the machine's (under HKLM).
const wchar_t kClassesClassKey[] = L"Software\\Classes\\CLSID\\" DVTEST_HANDLER_CLSID_TEXT;
const wchar_t kRemoveDataQuestion[] = L"Do you also want to remove your Dirvane bookmarks and settings?";

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    dv::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Files of the install folder named <name>.old-<n>.
std::vector<std::wstring> OldCopies(const wchar_t* name) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((InstallDir() + L"\\" + name + L".old-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(InstallDir() + L"\\" + data.cFileName);
    while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return found;
}

// The sources of PendingFileRenameOperations whose target is empty: files deleted at the next restart.
std::vector<std::wstring> PendingDeletes() {
    std::vector<std::wstring> result;
    dv::unique_hkey key = dv::OpenRegKey(HKEY_LOCAL_MACHINE, kSessionManagerKey);
    DWORD type = 0, size = 0;
    if (!key || ::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) !=
                    ERROR_SUCCESS || type != REG_MULTI_SZ)
        return result;
    std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return result;
    for (size_t at = 0; at < data.size();) {
        std::wstring source = data.c_str() + at;
        if (source.empty()) break;
        at += source.size() + 1;
        std::wstring target = at < data.size() ? data.c_str() + at : L"";
        at += target.size() + 1;
        if (target.empty()) result.push_back(source);
    }
    return result;
}

std::string PendingDeletesText() {
    std::string text;
    for (const std::wstring& source : PendingDeletes()) text += "\n  " + Narrow(source);
    return text.empty() ? " none" : text;
}

bool IsPendingDelete(const std::wstring& path) {
    for (std::wstring source : PendingDeletes()) {
        if (source.size() > 1 && source.back() == L'\\') source.pop_back();  // a folder may end in one
        if (_wcsicmp(source.c_str(), (L"\\??\\" + path).c_str()) == 0) return true;
    }
    return false;
}

// A folder of the test's own inside Program Files, the only place an all-users install may go.
class ProgramFilesFolder {
public:
    ProgramFilesFolder() : path_(InstallDir() + L" Test Folder") {
        dvtest::DeleteTree(path_);
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ProgramFilesFolder() { dvtest::DeleteTree(path_); }
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const wchar_t* child) const { return path_ + L"\\" + child; }
private:
    std::wstring path_;
};

// Wine grants every program administrator rights: while this lives, the setups started act as if
// they had none (their test switch in the environment), so that they ask Windows for them.
struct WithoutAdministratorRights {
    WithoutAdministratorRights() { ::SetEnvironmentVariableW(L"DIRVANE_SETUP_TEST_STANDARD_USER", L"1"); }
    ~WithoutAdministratorRights() { ::SetEnvironmentVariableW(L"DIRVANE_SETUP_TEST_STANDARD_USER", nullptr); }
};

// The folders in which an elevated setup runs Tessaly (%WINDIR%\Temp\Dirvane-Setup-*).
std::vector<std::wstring> SetupWorkFolders() {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring temp = std::wstring(windows) + L"\\Temp\\";
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((temp + L"Dirvane-Setup-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(temp + data.cFileName);
    while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return found;
}

std::wstring ProgramFiles() { return InstallDir().substr(0, InstallDir().rfind(L'\\')); }

// The folders named ns*.tmp in folder (NSIS's plug-ins folders), or those of them that hold a file
// named holding.
std::vector<std::wstring> PlugInFolders(const std::wstring& folder, const wchar_t* holding = nullptr) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\ns*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        const std::wstring path = folder + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (!holding || Exists(path + L"\\" + holding)))
            found.push_back(path);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return found;
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring path = temp;
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// A new process that creates the handler loads dll (through COM, or through the user's own classes).
void ExpectLoads(const std::wstring& dll, bool userClasses = false) {
    const std::wstring loaded = LoadInNewProcess(userClasses);
    EXPECT_EQ(_wcsicmp(loaded.c_str(), dll.c_str()), 0) << Narrow(loaded);
}

// A process that has the installed DLL loaded through COM, with a hidden captioned window.
struct Holder {
    dv::unique_handle process;
    DWORD pid = 0;
    std::wstring title;
    ~Holder() { End(); }
    void End() {
        if (process && Running(process.get())) {
            ::TerminateProcess(process.get(), 0);
            ::WaitForSingleObject(process.get(), 10000);
        }
    }
};

// program: the helper, or a copy of it under another name.
std::unique_ptr<Holder> StartHolder(const std::wstring& program = HelperPath()) {
    static int counter = 0;
    auto holder = std::make_unique<Holder>();
    const std::wstring suffix = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    holder->title = L"Installer Test Holder " + suffix;
    const std::wstring eventName = L"DirvaneInstallerHolder-" + suffix;
    dv::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    holder->process = dvtest::StartProcess(
        Quote(program) + L" hold " + eventName + L" " + Quote(holder->title), &holder->pid);
    if (!ready || !holder->process) {
        ADD_FAILURE() << "holder did not start";
        return nullptr;
    }
    HANDLE waits[] = {ready.get(), holder->process.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "holder did not load the DLL";
        return nullptr;
    }
    return holder;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Exists(SetupPath())) << "no installer in the dist folder";
        EnsureUninstalled();
    }
    void TearDown() override {
        EndLeftWizards();
        EnsureUninstalled();
        // Every setup and uninstaller, cancelled or failed too, removes the plug-ins folder it made
        // in Program Files (one that handed its work over, a moment after the one that waits).
        EXPECT_TRUE(dvtest::WaitFor([] { return PlugInFolders(ProgramFiles()).empty(); }, 30s))
            << "left behind: " << Narrow(PlugInFolders(ProgramFiles()).at(0));
        for (const std::wstring& left : PlugInFolders(ProgramFiles())) dvtest::DeleteTree(left);
    }

    static void InstallSilently() {
        ASSERT_EQ(RunSetupSilently(), 0u);
        ASSERT_EQ(ReadBytes(Installed(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
    }

    // Puts a DLL that differs from the build's in place of the installed one: the "old version".
    static std::string InstallOldDll() {
        std::string old = ReadBytes(dvtest::DistFile(L"Dirvane.dll")) + "old build";
        EXPECT_TRUE(WriteBytes(Installed(L"Dirvane.dll"), old));
        return old;
    }

    // After an upgrade that left the holder running: the new DLL is in place and loads in a new
    // process; the old one, renamed aside, waits for its removal at the next restart.
    static void ExpectOldDllRenamedAside(const std::string& old, size_t oldCopiesBefore) {
        EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
        ExpectLoads(Installed(L"Dirvane.dll"));
        std::vector<std::wstring> copies = OldCopies(L"Dirvane.dll");
        ASSERT_EQ(copies.size(), oldCopiesBefore + 1);
        const std::wstring* renamed = nullptr;
        for (const std::wstring& copy : copies)
            if (ReadBytes(copy) == old) renamed = &copy;
        ASSERT_TRUE(renamed) << "the old DLL was not renamed aside";
        EXPECT_TRUE(IsPendingDelete(*renamed)) << "not scheduled for removal: " << Narrow(*renamed);
    }
};

TEST_F(Installer, SilentInstallPlacesRegistersAndListsTheProduct) {
    ASSERT_EQ(RunSetupSilently(), 0u);

    for (const wchar_t* name : {L"Dirvane.dll", L"Tessaly.exe", L"Tessaly64.exe"})
        EXPECT_EQ(ReadBytes(Installed(name)), ReadBytes(dvtest::DistFile(name))) << Narrow(name);
    EXPECT_TRUE(Exists(Installed(L"Uninstall.exe")));
    EXPECT_NE(InstallDir().find(L"\\Program Files\\"), std::wstring::npos) << Narrow(InstallDir());

    // Registered in the 64-bit view only, naming the installed copy.
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L""),
              Installed(L"Dirvane.dll"));
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L"ThreadingModel"),
              L"Apartment");
    for (const wchar_t* cls : kHandlerClasses)
        EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::wstring(cls) + L"\\ShellEx\\ContextMenuHandlers\\OV Dirvane", L""),
                  kClsidText) << Narrow(cls);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, KEY_WOW64_32KEY));
    ExpectLoads(Installed(L"Dirvane.dll"));

    // Listed among the installed programs, with a working quiet uninstall.
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Dirvane");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), DV_VERSION);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Ostrelan");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), InstallDir());
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
              Quote(Installed(L"Uninstall.exe")) + L" /ALLUSERS");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString"),
              Quote(Installed(L"Uninstall.exe")) + L" /ALLUSERS /S");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY));
}

TEST_F(Installer, SilentUpgradeRenamesAHeldDllAsideUntilRestart) {
    InstallSilently();
    const std::string old = InstallOldDll();
    auto holder = StartHolder();
    ASSERT_TRUE(holder);

    ASSERT_EQ(RunSetupSilently(), 0u);
    EXPECT_TRUE(Running(holder->process.get())) << "a silent install closes nothing";
    ExpectOldDllRenamedAside(old, 0);

    // A restart removes the old file.
    const std::wstring renamed = OldCopies(L"Dirvane.dll").at(0);
    holder->End();
    ASSERT_EQ(dvtest::RunProcess(L"wineboot.exe -r"), 0u);
    EXPECT_FALSE(Exists(renamed));
    EXPECT_FALSE(IsPendingDelete(renamed));
    EXPECT_TRUE(Exists(Installed(L"Dirvane.dll")));
}

// A file that can be neither deleted nor renamed (opened without delete sharing) is not silently
// left at its old version: the installation stops with its own exit code and puts the files it had
// already replaced back, so the installed version stays whole; a later one works.
TEST_F(Installer, AFileThatCannotBeReplacedFailsTheInstall) {
    InstallSilently();
    const std::string oldDll = InstallOldDll();
    const std::string old = ReadBytes(Installed(L"Tessaly64.exe")) + "old build";
    ASSERT_TRUE(WriteBytes(Installed(L"Tessaly64.exe"), old));
    {
        dv::unique_hfile locked(::CreateFileW(Installed(L"Tessaly64.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_EQ(RunSetupSilently(), 5u);
        EXPECT_EQ(ReadBytes(Installed(L"Tessaly64.exe")), old);
        EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll")), oldDll);
        EXPECT_TRUE(Exists(Installed(L"Tessaly.exe")));
        EXPECT_TRUE(Exists(Installed(L"Uninstall.exe")));
        for (const wchar_t* name : {L"Dirvane.dll", L"Tessaly.exe", L"Tessaly64.exe"})
            EXPECT_TRUE(OldCopies(name).empty()) << Narrow(name);
        EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L""),
                  Installed(L"Dirvane.dll"));
    }
    EXPECT_EQ(RunSetupSilently(), 0u);
    EXPECT_EQ(ReadBytes(Installed(L"Tessaly64.exe")), ReadBytes(dvtest::DistFile(L"Tessaly64.exe")));
}

// A fresh install that fails takes away what it wrote, and only that: the user's file in its way
// stays, and nothing is registered or listed.
TEST_F(Installer, AFailedFreshInstallTakesAwayOnlyWhatItWrote) {
    ProgramFilesFolder folder;
    ASSERT_TRUE(WriteBytes(folder / L"Tessaly64.exe", "mine"));
    {
        dv::unique_hfile locked(::CreateFileW((folder / L"Tessaly64.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_EQ(RunSetupSilently(L"/D=" + folder.path()), 5u);
    }
    EXPECT_EQ(ReadBytes(folder / L"Tessaly64.exe"), "mine");
    for (const wchar_t* name : {L"Dirvane.dll", L"Tessaly.exe", L"Uninstall.exe"})
        EXPECT_FALSE(Exists(folder / name)) << Narrow(name);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(Installer, InteractiveUpgradeListsTheHoldersAndContinues) {
    InstallSilently();
    const std::string old = InstallOldDll();
    // Named like an old copy, but the setup never renamed it: it is not the setup's to delete.
    ASSERT_TRUE(WriteBytes(Installed(L"Dirvane.dll.old-1"), "not ours"));
    auto holder = StartHolder();
    ASSERT_TRUE(holder);

    dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()));
    ASSERT_TRUE(setup);
    std::vector<std::wstring> listed;
    bool choseToContinue = false;
    ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
        HWND list = ChildOfClass(page, L"ListBox");
        if (!list) return;
        listed = ListItems(list);
        HWND keep = ChildOfClass(page, L"Button", L"C&ontinue");
        choseToContinue = keep && ::SendMessageW(keep, BM_GETCHECK, 0, 0) == BST_CHECKED;  // the default
    }, [&] { return !Running(setup.get()); }));
    DWORD code = 1;
    ::GetExitCodeProcess(setup.get(), &code);
    EXPECT_EQ(code, 0u);

    EXPECT_EQ(listed, std::vector<std::wstring>{holder->title + L" (installer_helper.exe)"});
    EXPECT_TRUE(choseToContinue);
    EXPECT_TRUE(Running(holder->process.get()));
    ExpectOldDllRenamedAside(old, 1);
    EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll.old-1")), "not ours");
}

TEST_F(Installer, InteractiveUpgradeClosesTheHoldersWhenAsked) {
    InstallSilently();
    InstallOldDll();
    auto holder = StartHolder();
    ASSERT_TRUE(holder);

    dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()));
    ASSERT_TRUE(setup);
    bool sawHolders = false;
    ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
        if (!ChildOfClass(page, L"ListBox")) return;
        sawHolders = true;
        HWND close = ChildOfClass(page, L"Button", L"&Close");
        HWND keep = ChildOfClass(page, L"Button", L"C&ontinue");
        ASSERT_TRUE(close && keep);
        ::SendMessageW(keep, BM_SETCHECK, BST_UNCHECKED, 0);
        ::SendMessageW(close, BM_SETCHECK, BST_CHECKED, 0);
    }, [&] { return !Running(setup.get()); }));
    EXPECT_TRUE(sawHolders);

    EXPECT_EQ(::WaitForSingleObject(holder->process.get(), 0), WAIT_OBJECT_0) << "the holder was not closed";
    EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
    EXPECT_TRUE(OldCopies(L"Dirvane.dll").empty()) << "nothing held the DLL any more: it is simply replaced";
    ExpectLoads(Installed(L"Dirvane.dll"));
}

TEST_F(Installer, SilentUninstallKeepsTheUserDataUnlessAskedToRemoveIt) {
    dvtest::CleanProductKey clean;
    const std::wstring item = std::wstring(dvtest::kProductKey) + L"\\Items\\0001";
    for (const wchar_t* removeData : {L"", L" /REMOVEDATA"}) {
        SCOPED_TRACE(Narrow(removeData));
        InstallSilently();
        {
            dv::unique_hkey key = dv::CreateRegKey(HKEY_CURRENT_USER, item.c_str());
            ASSERT_TRUE(key);
            ASSERT_EQ(dv::WriteRegString(key.get(), L"Title", L"Kept"), ERROR_SUCCESS);
        }

        ASSERT_EQ(RunQuietUninstall(removeData), 0u);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\" DVTEST_APPID_TEXT));
        for (const wchar_t* cls : kHandlerClasses)
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(cls) + L"\\ShellEx\\ContextMenuHandlers\\OV Dirvane"))
                << Narrow(cls);
        EXPECT_FALSE(Exists(InstallDir()));
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, item), *removeData == 0);
    }
}

TEST_F(Installer, UninstallWhileExplorerHoldsTheDllFinishesAtRestart) {
    InstallSilently();
    auto holder = StartHolder();
    ASSERT_TRUE(holder);

    ASSERT_EQ(RunQuietUninstall(), 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(Exists(Installed(L"Dirvane.dll")));
    EXPECT_FALSE(Exists(Installed(L"Tessaly.exe")));
    // The held DLL left its name, so a new install before the restart is not hit by the removal.
    std::vector<std::wstring> copies = OldCopies(L"Dirvane.dll");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(IsPendingDelete(copies[0]));
    EXPECT_TRUE(IsPendingDelete(InstallDir())) << "pending deletes:" << PendingDeletesText();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Ostrelan\\Dirvane Setup")) << "records left behind";

    InstallSilently();
    EXPECT_FALSE(IsPendingDelete(Installed(L"Dirvane.dll"))) << "pending deletes:" << PendingDeletesText();
    holder->End();
    ASSERT_EQ(dvtest::RunProcess(L"wineboot.exe -r"), 0u);
    EXPECT_FALSE(Exists(copies[0]));
    EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
}

TEST_F(Installer, InteractiveUninstallAsksAboutTheUserData) {
    dvtest::CleanProductKey clean;
    InstallSilently();
    {
        dv::unique_hkey key = dv::CreateRegKey(HKEY_CURRENT_USER, dvtest::kProductKey);
        ASSERT_TRUE(key);
        ASSERT_EQ(dv::WriteRegDword(key.get(), L"AddOns", 0x10), ERROR_SUCCESS);
    }

    dv::unique_handle uninstaller = dvtest::StartProcess(Quote(Installed(L"Uninstall.exe")));
    ASSERT_TRUE(uninstaller);
    bool asked = false;
    ASSERT_TRUE(DriveWizard(kUninstallCaption, [](HWND) {}, [] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey) &&
                                                                          !FindTopWindow(kUninstallCaption, true); },
                            [&] {
                                HWND box = FindTopWindow(kUninstallCaption, false);
                                if (!box || !ChildOfClass(box, L"Static", kRemoveDataQuestion)) return;
                                asked = true;
                                ::PostMessageW(box, WM_COMMAND, IDYES, 0);
                            }));
    EXPECT_TRUE(asked);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, dvtest::kProductKey));
    EXPECT_FALSE(Exists(InstallDir()));
}

// Files of the user's in the install folder, some named like the copies the setup renames aside,
// survive install, upgrade and uninstall; the setup's own renamed copy goes once nothing holds it.
TEST_F(Installer, OnlyItsOwnFilesAreEverDeleted) {
    ProgramFilesFolder folder;
    const std::pair<const wchar_t*, const char*> userFiles[] = {
        {L"budget.old-2023.xlsx", "budget"}, {L"thesis.old-draft.docx", "thesis"}, {L"Dirvane.dll.old-7", "mine"}};
    for (const auto& file : userFiles) ASSERT_TRUE(WriteBytes(folder / file.first, file.second));
    auto expectUserFilesIntact = [&](const char* when) {
        for (const auto& file : userFiles) EXPECT_EQ(ReadBytes(folder / file.first), file.second) << when;
    };
    const std::wstring inFolder = L"/D=" + folder.path();

    ASSERT_EQ(RunSetupSilently(inFolder), 0u);
    expectUserFilesIntact("after the install");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), folder.path());

    // An upgrade while a program holds the DLL renames it aside; the next one removes that copy.
    ASSERT_TRUE(WriteBytes(folder / L"Dirvane.dll", ReadBytes(dvtest::DistFile(L"Dirvane.dll")) + "old build"));
    {
        auto holder = StartHolder();
        ASSERT_TRUE(holder);
        ASSERT_EQ(RunSetupSilently(inFolder), 0u);
        EXPECT_TRUE(Exists(folder / L"Dirvane.dll.old-1"));
    }
    ASSERT_EQ(RunSetupSilently(inFolder), 0u);
    EXPECT_FALSE(Exists(folder / L"Dirvane.dll.old-1"));
    expectUserFilesIntact("after the upgrades");

    ASSERT_EQ(RunQuietUninstall(), 0u);
    expectUserFilesIntact("after the uninstall");
    for (const wchar_t* name : {L"Dirvane.dll", L"Tessaly.exe", L"Tessaly64.exe", L"Uninstall.exe"})
        EXPECT_FALSE(Exists(folder / name)) << Narrow(name);
}

// Made by the test's wrapper (run-isolated.sh): Unix links, which Wine shows as reparse points.
const wchar_t kLinks[] = L"C:\\dirvane-test-links";
const wchar_t kLinkTarget[] = L"C:\\dirvane-test-links\\target";

// A folder that is not the product's own is refused with its exit code before anything changes,
// over an installed version too; so are contrary switches. Not its own: a drive's root, a system
// folder, for all users a folder outside Program Files (users may be able to write there), and a
// folder reached through a junction or symbolic link, or holding one in place of a file of ours.
TEST_F(Installer, RefusesAFolderThatIsNotItsOwn) {
    InstallSilently();
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring programFiles = InstallDir().substr(0, InstallDir().rfind(L'\\'));
    const std::wstring links = kLinks;
    ASSERT_TRUE(::GetFileAttributesW((links + L"\\folder").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    const std::pair<std::wstring, std::wstring> refused[] = {  // mode switch, folder
        {L"", L"C:\\"}, {L"", std::wstring(windows) + L"\\system32"}, {L"", std::wstring(windows) + L"\\Dirvane"},
        {L"", programFiles}, {L"", programFiles + L"\\..\\windows"}, {L"", L"\\\\?\\C:\\"},
        {L"/ALLUSERS ", L"C:\\Tools\\Dirvane"}, {L"/ALLUSERS ", programFiles + L"\\Dirvane Link"},
        {L"/CURRENTUSER ", links + L"\\folder"}, {L"/CURRENTUSER ", links + L"\\folder\\Dirvane"},
        {L"/CURRENTUSER ", links + L"\\with-file"}, {L"/CURRENTUSER /ALLUSERS", L""}};
    for (const auto& [mode, folder] : refused) {
        SCOPED_TRACE(Narrow(mode + folder));
        EXPECT_EQ(RunSetupSilently(mode + (folder.empty() ? L"" : L"/D=" + folder)), 2u);
        EXPECT_FALSE(Exists(folder + L"\\Uninstall.exe"));
        EXPECT_FALSE(Exists(std::wstring(kLinkTarget) + L"\\Uninstall.exe"));
        EXPECT_FALSE(Exists(L"C:\\Tools"));
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), InstallDir());
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
        EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L""),
                  Installed(L"Dirvane.dll"));
    }
    // Nor a folder that holds another program's uninstaller, which Setup would overwrite.
    {
        ProgramFilesFolder other;
        ASSERT_TRUE(WriteBytes(other / L"Uninstall.exe", "another program's"));
        EXPECT_EQ(RunSetupSilently(L"/D=" + other.path()), 2u);
        EXPECT_EQ(ReadBytes(other / L"Uninstall.exe"), "another program's");
        EXPECT_FALSE(Exists(other / L"Dirvane.dll"));
    }
    // Nor does the uninstaller delete or rename anything through a link.
    const std::wstring victim = std::wstring(kLinkTarget) + L"\\Dirvane.dll";
    ASSERT_TRUE(WriteBytes(victim, "not ours"));
    ASSERT_TRUE(::CopyFileW(Installed(L"Uninstall.exe").c_str(), (std::wstring(kLinkTarget) + L"\\Uninstall.exe").c_str(), FALSE));
    EXPECT_EQ(RunTree(Quote(links + L"\\folder\\Uninstall.exe") + L" /CURRENTUSER /S"), 2u);
    EXPECT_EQ(ReadBytes(victim), "not ours");
    EXPECT_TRUE(Exists(std::wstring(kLinkTarget) + L"\\Uninstall.exe"));
}

// Starts a holder that Wine gives the identifier of an ended process whose handles are all closed.
// Wine hands out identifiers (of processes and threads alike) from a first-in first-out free list
// once its table is full: short-lived threads walk that list until the identifier allocated just
// before the wanted one comes round, and the holder started right then gets the wanted one.
std::unique_ptr<Holder> StartHolderWithId(DWORD wanted) {
    DWORD before = 0, last = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
        DWORD id = 0;
        dv::unique_handle thread(::CreateThread(nullptr, 0, [](void*) -> DWORD { return 0; }, nullptr, 0, &id));
        if (!thread) return nullptr;
        ::WaitForSingleObject(thread.get(), INFINITE);
        thread.reset();
        if (id == wanted) before = last;
        last = id;
        if (before == 0 || id != before) continue;
        auto holder = StartHolder();
        if (!holder || holder->pid == wanted) return holder;
    }
    return nullptr;
}

// Between the holders page and the closing, the listed holder ends by itself and another process
// that holds the DLL takes its identifier: closing ends neither it nor a holder started since. A
// setup with administrator rights (under Wine, every one) does not end Explorer either.
TEST_F(Installer, ClosingEndsOnlyTheProcessesThatWereListed) {
    InstallSilently();
    InstallOldDll();
    dvtest::ScratchFolder shellFolder(L"installer-shell");
    ASSERT_TRUE(::CopyFileW(HelperPath().c_str(), (shellFolder / L"explorer.exe").c_str(), FALSE));
    auto shell = StartHolder(shellFolder / L"explorer.exe");
    auto listed = StartHolder();
    ASSERT_TRUE(listed && shell);
    const DWORD listedPid = listed->pid;
    std::unique_ptr<Holder> successor, latecomer;

    dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()));
    ASSERT_TRUE(setup);
    ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
        if (!ChildOfClass(page, L"ListBox")) return;
        listed.reset();  // ended, and its identifier free once no handle names it
        successor = StartHolderWithId(listedPid);
        latecomer = StartHolder();
        ::SendMessageW(ChildOfClass(page, L"Button", L"C&ontinue"), BM_SETCHECK, BST_UNCHECKED, 0);
        ::SendMessageW(ChildOfClass(page, L"Button", L"&Close"), BM_SETCHECK, BST_CHECKED, 0);
    }, [&] { return !Running(setup.get()); }));
    DWORD code = 1;
    ::GetExitCodeProcess(setup.get(), &code);
    EXPECT_EQ(code, 0u);

    ASSERT_TRUE(successor) << "no holder was given the listed holder's identifier";
    EXPECT_EQ(successor->pid, listedPid);
    EXPECT_TRUE(Running(successor->process.get())) << "the process that took over the identifier was ended";
    ASSERT_TRUE(latecomer);
    EXPECT_TRUE(Running(latecomer->process.get())) << "a holder started after the listing was ended";
    EXPECT_TRUE(Running(shell->process.get())) << "Explorer was ended by a setup with administrator rights";
    EXPECT_EQ(ReadBytes(Installed(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
}

// Records every change under the keys of HKLM that an install could write and in the folders of the
// machine, from construction on.
class MachineWatch {
public:
    MachineWatch() {
        for (const wchar_t* key : {L"Software", L"System\\CurrentControlSet\\Control\\Session Manager"}) {
            Watched watched{key, dv::OpenRegKey(HKEY_LOCAL_MACHINE, key, KEY_NOTIFY),
                            dv::unique_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))};
            EXPECT_EQ(::RegNotifyChangeKeyValue(watched.key.get(), TRUE,
                                                REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                                watched.event.get(), TRUE), ERROR_SUCCESS) << Narrow(key);
            keys_.push_back(std::move(watched));
        }
        wchar_t folder[MAX_PATH] = {};
        ::GetWindowsDirectoryW(folder, MAX_PATH);
        folders_.push_back(folder);
        ::GetSystemDirectoryW(folder, MAX_PATH);
        folders_.push_back(folder);
        for (const std::wstring& path : folders_)
            changes_.push_back(::FindFirstChangeNotificationW(
                path.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE));
        programFiles_ = Listing(ProgramFiles());
    }
    ~MachineWatch() {
        for (HANDLE change : changes_)
            if (change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(change);
    }
    // What changed, or "".
    std::string Changes() const {
        std::string changed;
        for (const Watched& watched : keys_)
            if (::WaitForSingleObject(watched.event.get(), 0) == WAIT_OBJECT_0) changed += " HKLM\\" + Narrow(watched.name);
        for (size_t i = 0; i < changes_.size(); ++i)
            if (changes_[i] == INVALID_HANDLE_VALUE || ::WaitForSingleObject(changes_[i], 0) == WAIT_OBJECT_0)
                changed += " " + Narrow(folders_[i]);
        // Wine gives the setup the rights to make its plug-ins folder in Program Files for a while
        // (without them, it would use the temp folder): what is there afterwards is what counts.
        if (Listing(ProgramFiles()) != programFiles_) changed += " " + Narrow(ProgramFiles());
        return changed;
    }
private:
    static std::vector<std::wstring> Listing(const std::wstring& folder) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do names.push_back(data.cFileName);
        while (::FindNextFileW(find, &data));
        ::FindClose(find);
        return names;
    }
    struct Watched {
        const wchar_t* name;
        dv::unique_hkey key;
        dv::unique_handle event;
    };
    std::vector<Watched> keys_;
    std::vector<std::wstring> folders_;
    std::vector<HANDLE> changes_;
    std::vector<std::wstring> programFiles_;
};

std::wstring InUserDir(const wchar_t* name) { return UserInstallDir() + L"\\" + name; }

// Wine gives every program administrator rights: what shows that the per-user install needs none is
// that it writes nothing of the machine's, install, upgrade and uninstall alike.
TEST_F(Installer, PerUserInstallWritesNothingOfTheMachine) {
    MachineWatch watch;
    ASSERT_EQ(RunSetupSilently(L"/CURRENTUSER"), 0u);
    EXPECT_EQ(watch.Changes(), "") << "pending deletes:" << PendingDeletesText();
    for (const wchar_t* name : {L"Dirvane.dll", L"Tessaly.exe", L"Tessaly64.exe"})
        EXPECT_EQ(ReadBytes(InUserDir(name)), ReadBytes(dvtest::DistFile(name))) << Narrow(name);
    EXPECT_FALSE(Exists(InstallDir()));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kClassesClassKey + std::wstring(L"\\InprocServer32"), L""), InUserDir(L"Dirvane.dll"));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), UserInstallDir());
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"QuietUninstallString"),
              Quote(InUserDir(L"Uninstall.exe")) + L" /CURRENTUSER /S");
    ExpectLoads(InUserDir(L"Dirvane.dll"), true);

    // Without a switch, the upgrade finds the mode that is installed.
    ASSERT_TRUE(WriteBytes(InUserDir(L"Dirvane.dll"), "old build"));
    ASSERT_EQ(RunSetupSilently(), 0u);
    EXPECT_EQ(watch.Changes(), "") << "pending deletes:" << PendingDeletesText();
    EXPECT_EQ(ReadBytes(InUserDir(L"Dirvane.dll")), ReadBytes(dvtest::DistFile(L"Dirvane.dll")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));

    const size_t pendingBefore = PendingDeletes().size();
    ASSERT_EQ(RunQuietUninstall(L"", HKEY_CURRENT_USER), 0u);
    // NSIS's uninstaller runs from a copy in the user's temp folder and asks for that copy's
    // deletion at the restart: without administrator rights the request fails and changes nothing.
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::vector<std::wstring> pending = PendingDeletes();
    for (size_t i = pendingBefore; i < pending.size(); ++i)
        EXPECT_EQ(_wcsnicmp(pending[i].c_str(), (L"\\??\\" + std::wstring(temp)).c_str(), wcslen(temp) + 4), 0)
            << Narrow(pending[i]);
    const std::string changes = watch.Changes();
    EXPECT_TRUE(changes.empty() || (changes == " HKLM\\System\\CurrentControlSet\\Control\\Session Manager" &&
                                    pending.size() > pendingBefore)) << changes;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClassesClassKey));
    EXPECT_FALSE(Exists(UserInstallDir()));
}

// The first page offers the mode; choosing the current user moves the folder to the user's own.
TEST_F(Installer, FirstPageChoosesTheCurrentUser) {
    dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()));
    ASSERT_TRUE(setup);
    bool offered = false;
    ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
        HWND me = ChildOfClass(page, L"Button", L"Only for &me");
        if (!me) return;
        offered = true;
        ::SendMessageW(ChildOfClass(page, L"Button", L"For &everyone"), BM_SETCHECK, BST_UNCHECKED, 0);
        ::SendMessageW(me, BM_SETCHECK, BST_CHECKED, 0);
    }, [&] { return !Running(setup.get()); }));
    EXPECT_TRUE(offered);
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), UserInstallDir());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    ExpectLoads(InUserDir(L"Dirvane.dll"), true);
}

// Both modes side by side, each registered in its own classes; each uninstall removes its own
// install only, and the other one goes on working.
TEST_F(Installer, BothModesLiveSideBySide) {
    ASSERT_EQ(RunSetupSilently(L"/ALLUSERS"), 0u);
    ASSERT_EQ(RunSetupSilently(L"/CURRENTUSER"), 0u);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), InstallDir());
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), UserInstallDir());
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kClassesClassKey + std::wstring(L"\\InprocServer32"), L""),
              Installed(L"Dirvane.dll"));
    ExpectLoads(InUserDir(L"Dirvane.dll"), true);

    ASSERT_EQ(RunQuietUninstall(L"", HKEY_CURRENT_USER), 0u);
    EXPECT_FALSE(Exists(UserInstallDir()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClassesClassKey));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), InstallDir());
    ExpectLoads(Installed(L"Dirvane.dll"));

    ASSERT_EQ(RunSetupSilently(L"/CURRENTUSER"), 0u);
    ASSERT_EQ(RunQuietUninstall(), 0u);
    EXPECT_FALSE(Exists(InstallDir()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClassesClassKey));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation"), UserInstallDir());
    ExpectLoads(InUserDir(L"Dirvane.dll"), true);
}

// Setup asks Windows for no rights when it starts: the per-user mode works in a folder that the
// user's own programs can write, and must not run with rights that they lack.
TEST_F(Installer, StartsWithTheRightsOfItsCaller) {
    InstallSilently();
    for (const std::wstring& program : {SetupPath(), Installed(L"Uninstall.exe")}) {
        SCOPED_TRACE(Narrow(program));
        dv::unique_hmodule module(::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module);
        HRSRC found = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
        ASSERT_TRUE(found);
        const char* text = static_cast<const char*>(::LockResource(::LoadResource(module.get(), found)));
        const std::string manifest(text, ::SizeofResource(module.get(), found));
        EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    }
}

// Without administrator rights, all users is installed and uninstalled by a copy that Windows
// started with them, given the same switches (here: silent, the mode and the folder). The
// uninstaller's copy runs from the install folder, never from the user's temp folder, and hands the
// work to a copy of its own in a folder of administrators', so that its file can go. A copy that
// was started with the rights and still lacks them does not ask again: it exits 6, changing nothing.
TEST_F(Installer, AllUsersWithoutRightsRunsACopyWithThem) {
    ProgramFilesFolder folder;
    {
        WithoutAdministratorRights standardUser;
        ASSERT_EQ(RunSetupSilently(L"/ALLUSERS /D=" + folder.path()), 0u);
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), folder.path());
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kClassesClassKey + std::wstring(L"\\InprocServer32"), L""),
                  folder / L"Dirvane.dll");
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));

        EXPECT_EQ(RunSetupSilently(L"/ALLUSERS /ELEVATED"), 6u);
        EXPECT_EQ(RunQuietUninstall(L" /ELEVATED"), 6u);
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), folder.path());
        EXPECT_TRUE(Exists(folder / L"Dirvane.dll"));

        EXPECT_EQ(RunQuietUninstall(), 0u);
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClassesClassKey));
    // The copy that did the work ends a moment after the one that waits for its exit code.
    EXPECT_TRUE(dvtest::WaitFor([&] { return !Exists(folder.path()); }, 30s));
    const std::vector<std::wstring> work = SetupWorkFolders();
    ASSERT_EQ(work.size(), 1u);
    EXPECT_TRUE(dvtest::WaitFor([&] { return IsPendingDelete(work[0]); }, 30s)) << "pending deletes:" << PendingDeletesText();
    EXPECT_TRUE(dvtest::WaitFor([&] { dvtest::DeleteTree(work[0]); return !Exists(work[0]); }, 30s));
}

// Without administrator rights, choosing "For everyone" on the first page hands the wizard over to
// a copy that Windows started with them: it goes on from the next page, without asking again, also
// when the setup was started for the current user.
TEST_F(Installer, ForEveryoneWithoutRightsGoesOnInACopyWithThem) {
    WithoutAdministratorRights standardUser;
    for (const wchar_t* switches : {L"", L" /CURRENTUSER"}) {
        SCOPED_TRACE(switches);
        dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()) + switches);
        ASSERT_TRUE(setup);
        int modePages = 0;
        ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
            HWND everyone = ChildOfClass(page, L"Button", L"For &everyone");
            if (!everyone) return;
            ++modePages;
            ::SendMessageW(ChildOfClass(page, L"Button", L"Only for &me"), BM_SETCHECK, BST_UNCHECKED, 0);
            ::SendMessageW(everyone, BM_SETCHECK, BST_CHECKED, 0);
        }, [&] { return !Running(setup.get()); }));
        DWORD code = 1;
        ::GetExitCodeProcess(setup.get(), &code);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(modePages, 1);
        EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), InstallDir());
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
    }
}

// An elevated setup (under Wine, every one) keeps what it runs where only administrators can
// change it, never in the user's temp folder, which every program of the user's can write: NSIS's
// plug-ins in a folder of its own inside Program Files, Tessaly in a folder of its own that only
// administrators can open. Both go when it ends. (Wine derives a file's access from its Unix
// permissions and keeps none that a program sets, so the folders' access cannot be read back here.)
TEST_F(Installer, AnElevatedSetupRunsNothingFromTheUsersTempFolder) {
    InstallSilently();
    InstallOldDll();
    auto holder = StartHolder();
    ASSERT_TRUE(holder);
    std::vector<std::wstring> workFolders, plugIns, inTemp;
    bool systemPlugIn = false;
    dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()));
    ASSERT_TRUE(setup);
    ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
        if (!ChildOfClass(page, L"ListBox")) return;
        workFolders = SetupWorkFolders();
        plugIns = PlugInFolders(ProgramFiles(), L"nsDialogs.dll");
        systemPlugIn = plugIns.size() == 1 && Exists(plugIns[0] + L"\\System.dll");
        for (const wchar_t* file : {L"Tessaly64.exe", L"System.dll", L"nsDialogs.dll"})
            for (const std::wstring& folder : PlugInFolders(TempFolder(), file)) inTemp.push_back(folder + L"\\" + file);
    }, [&] { return !Running(setup.get()); }));
    ASSERT_EQ(workFolders.size(), 1u);
    ASSERT_EQ(plugIns.size(), 1u);
    EXPECT_TRUE(systemPlugIn);
    EXPECT_TRUE(inTemp.empty()) << Narrow(inTemp.at(0));
    EXPECT_TRUE(SetupWorkFolders().empty()) << "left behind: " << Narrow(SetupWorkFolders().at(0));
    EXPECT_FALSE(Exists(plugIns[0]));
}

// A setup cancelled on its first page, before it changed anything, exits 1 and leaves nothing.
TEST_F(Installer, ACancelledSetupLeavesNothingBehind) {
    dv::unique_handle setup = dvtest::StartProcess(Quote(SetupPath()));
    ASSERT_TRUE(setup);
    ASSERT_TRUE(DriveWizard(kSetupCaption, [&](HWND page) {
        ::PostMessageW(::GetDlgItem(::GetParent(page), IDCANCEL), BM_CLICK, 0, 0);
    }, [&] { return !Running(setup.get()); }, [] {
        if (HWND question = FindTopWindow(kSetupCaption, false)) ::PostMessageW(::GetDlgItem(question, IDYES), BM_CLICK, 0, 0);
    }));
    DWORD code = 0;
    ::GetExitCodeProcess(setup.get(), &code);
    EXPECT_EQ(code, 1u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
}

// The uninstaller for all users works with administrator rights, so it works only on a folder
// inside Program Files: a copy of it that a user put in a folder of theirs, beside a Dirvane.dll
// of theirs, refuses (exit 2) before it asks for the rights or loads that DLL, whatever "_?=" says,
// and leaves the real install alone. Nor does a user's uninstall entry that names the all-users
// folder (the user's programs can write it) turn that uninstall into a per-user one.
TEST_F(Installer, TheAllUsersUninstallerTrustsOnlyWhatAdministratorsWrote) {
    InstallSilently();
    dvtest::ScratchFolder copy(L"installer-uninstaller-copy");
    for (const wchar_t* name : {L"Uninstall.exe", L"Dirvane.dll"})
        ASSERT_TRUE(::CopyFileW(Installed(name).c_str(), (copy / name).c_str(), FALSE)) << Narrow(name);
    // "C:\Program Files\..\<the copy's folder without its drive>": inside Program Files by its letters only.
    std::wstring disguised = ProgramFiles();
    for (wchar_t c : ProgramFiles())
        if (c == L'\\') disguised += L"\\..";
    disguised += copy.path().substr(2);
    const std::wstring switches[] = {L" /ALLUSERS /S", L" /S", L" /ALLUSERS /S _?=" + disguised};
    for (bool withRights : {true, false}) {
        std::unique_ptr<WithoutAdministratorRights> standardUser;
        if (!withRights) standardUser = std::make_unique<WithoutAdministratorRights>();
        for (const std::wstring& extra : switches) {
            SCOPED_TRACE(Narrow(extra) + (withRights ? " with rights" : " without rights"));
            EXPECT_EQ(RunTree(Quote(copy / L"Uninstall.exe") + extra), 2u);
            EXPECT_TRUE(Exists(copy / L"Dirvane.dll"));
            EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), InstallDir());
            EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kClassesClassKey + std::wstring(L"\\InprocServer32"), L""),
                      Installed(L"Dirvane.dll"));
        }
    }

    {
        dv::unique_hkey userEntry = dv::CreateRegKey(HKEY_CURRENT_USER, kUninstallKey);
        ASSERT_TRUE(userEntry);
        ASSERT_EQ(dv::WriteRegString(userEntry.get(), L"InstallLocation", InstallDir().c_str()), ERROR_SUCCESS);
    }
    EXPECT_EQ(RunTree(Quote(Installed(L"Uninstall.exe")) + L" /S"), 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kClassesClassKey));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
}

} // namespace

// The Windows version a setup sees: Wine's name for one, set for that program alone, or else the
// version in the machine's registry, set here to a Windows 11 build (Wine 8 has no name for one).
class SeenWindowsVersion {
public:
    SeenWindowsVersion(const std::wstring& setup, const wchar_t* wineName, const wchar_t* build)
        : appDefaults_(L"Software\\Wine\\AppDefaults\\" + setup.substr(setup.rfind(L'\\') + 1)) {
        for (const wchar_t* name : {L"CurrentVersion", L"CurrentBuildNumber"})
            saved_.emplace_back(name, RegText(HKEY_LOCAL_MACHINE, kVersionKey, name));
        if (build) {
            Write(HKEY_LOCAL_MACHINE, kVersionKey, L"CurrentVersion", L"10.0");
            Write(HKEY_LOCAL_MACHINE, kVersionKey, L"CurrentBuildNumber", build);
        }
        if (wineName) Write(HKEY_CURRENT_USER, appDefaults_.c_str(), L"Version", wineName);
    }
    ~SeenWindowsVersion() {
        for (const auto& [name, value] : saved_) Write(HKEY_LOCAL_MACHINE, kVersionKey, name, value.c_str());
        ::SHDeleteKeyW(HKEY_CURRENT_USER, appDefaults_.c_str());
    }
private:
    static constexpr wchar_t kVersionKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion";
    static void Write(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value) {
        EXPECT_EQ(::SHSetValueW(root, path, name, REG_SZ, value, static_cast<DWORD>((wcslen(value) + 1) * 2)), 0)
            << Narrow(path);
    }
    std::wstring appDefaults_;
    std::vector<std::pair<const wchar_t*, std::wstring>> saved_;
};

// The family name of the test package (the build writes it beside the package), as the setup records it.
std::wstring TestPackageFamily() {
    const char* packageSetup = std::getenv("DIRVANE_PACKAGE_SETUP");
    if (!packageSetup) return L"<DIRVANE_PACKAGE_SETUP names no setup>";
    std::wstring path = dvtest::WinPathFromUnix(packageSetup);
    std::string text = ReadBytes(path.substr(0, path.rfind(L'\\')) + L"\\Dirvane-Package-test.msix.family");
    return std::wstring(text.begin(), text.end());
}

void SetRecordedPackage(const std::wstring& family) {
    EXPECT_EQ(::SHSetValueW(HKEY_CURRENT_USER, kUninstallKey, L"WindowsMenuPackage", REG_SZ, family.c_str(),
                            static_cast<DWORD>((family.size() + 1) * sizeof(wchar_t))), 0);
}

// The Windows 11 package step runs only on Windows 11, and only from a setup that carries a signed
// package. Wine has no package manager (its powershell.exe does nothing): the step fails there, and
// the install succeeds with the classic menu, as it must wherever the package cannot be registered.
TEST_F(Installer, TheWindows11PackageStepRunsOnlyOnWindows11AndNeverFailsTheInstall) {
    const char* packageSetup = std::getenv("DIRVANE_PACKAGE_SETUP");
    ASSERT_TRUE(packageSetup) << "DIRVANE_PACKAGE_SETUP names no setup";
    const std::wstring signedSetup = dvtest::WinPathFromUnix(packageSetup);
    ASSERT_TRUE(Exists(signedSetup)) << Narrow(signedSetup);
    const std::wstring family = TestPackageFamily();
    struct Case {
        std::wstring setup;
        const wchar_t* wineName;
        const wchar_t* build;
        const wchar_t* outcome;
    } cases[] = {
        {signedSetup, L"win10", nullptr, L"classic menu only: Windows before Windows 11"},
        {signedSetup, nullptr, L"22000", L"classic menu only: the package could not be registered (PowerShell: 0)"},
        {SetupPath(), nullptr, L"22000", L"classic menu only: this setup carries no signed package"},
    };
    const std::wstring userClass = std::wstring(L"Software\\Classes\\CLSID\\") + kClsidText + L"\\InprocServer32";
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.setup + L" " + c.outcome));
        SeenWindowsVersion version(c.setup, c.wineName, c.build);
        ASSERT_EQ(RunTree(Quote(c.setup) + L" /S /CURRENTUSER"), 0u);
        EXPECT_EQ(RegText(HKEY_CURRENT_USER, userClass, L""), UserInstallDir() + L"\\Dirvane.dll");
        EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"WindowsMenu"), c.outcome);
        EXPECT_NE(::SHGetValueW(HKEY_CURRENT_USER, kUninstallKey, L"WindowsMenuPackage", nullptr, nullptr, nullptr), 0);
        // Had the package been registered, the uninstaller removes it; failing to (as here), it
        // still uninstalls.
        SetRecordedPackage(family);
        EXPECT_EQ(RunQuietUninstall(L"", HKEY_CURRENT_USER), 0u);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey));
        EXPECT_FALSE(Exists(UserInstallDir() + L"\\Dirvane.dll"));
    }
}

// With a stand-in for PowerShell that succeeds: what the package step gives it (its switches, an
// environment without the user's hooks into .NET and with the system's folders in the variables that
// name them, on PATH and the module path, the paths, the package), that it records the family it registered, and that the uninstaller removes
// only a family it recorded.
TEST_F(Installer, ThePackageStepGivesPowerShellNothingOfTheUsersAndRemovesOnlyTheRecordedFamily) {
    const char* standIn = std::getenv("DIRVANE_STAND_IN_SETUP");
    ASSERT_TRUE(standIn) << "DIRVANE_STAND_IN_SETUP names no setup";
    const std::wstring setup = dvtest::WinPathFromUnix(standIn);
    const std::wstring seen = setup.substr(0, setup.rfind(L'\\')) + L"\\powershell-seen.txt";
    const std::wstring family = TestPackageFamily();
    ::DeleteFileW(seen.c_str());
    SeenWindowsVersion version(setup, nullptr, L"22000");
    struct Planted {
        const wchar_t* name;
        std::wstring saved;
    } planted[] = {{L"PATH", {}}, {L"PSModulePath", {}}, {L"SystemRoot", {}}, {L"windir", {}}, {L"ProgramFiles", {}},
                   {L"ProgramData", {}}, {L"COR_PROFILER_PATH", {}}, {L"COMPlus_AltJitName", {}},
                   {L"DOTNET_STARTUP_HOOKS", {}}};
    for (Planted& p : planted) {
        wchar_t value[8192] = L"";
        ::GetEnvironmentVariableW(p.name, value, ARRAYSIZE(value));
        p.saved = value;
        ::SetEnvironmentVariableW(p.name, (L"C:\\planted;" + p.saved).c_str());
    }
    const DWORD installed = RunTree(Quote(setup) + L" /S /CURRENTUSER");
    for (const Planted& p : planted) ::SetEnvironmentVariableW(p.name, p.saved.empty() ? nullptr : p.saved.c_str());
    ASSERT_EQ(installed, 0u);
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"WindowsMenu"), L"Windows 11 menu: package Ostrelan.Dirvane registered");
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"WindowsMenuPackage"), family);
    EXPECT_EQ(family.size(), 30u) << Narrow(family);  // "Ostrelan.Dirvane_" and 13 letters of the publisher's hash
    EXPECT_EQ(RunQuietUninstall(L"", HKEY_CURRENT_USER), 0u);
    // Installed again over the record of an earlier package of ours from another publisher certificate:
    // that family is removed first. Then, with another package's family in the record, the uninstaller
    // runs nothing.
    const std::wstring earlier = L"Ostrelan.Dirvane_0123456789abc";
    SetRecordedPackage(earlier);
    ASSERT_EQ(RunTree(Quote(setup) + L" /S /CURRENTUSER"), 0u);
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, kUninstallKey, L"WindowsMenuPackage"), family);
    SetRecordedPackage(L"Other.Package_0123456789abc");
    EXPECT_EQ(RunQuietUninstall(L"", HKEY_CURRENT_USER), 0u);
    const std::string bytes = ReadBytes(seen);
    ::DeleteFileW(seen.c_str());
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    SCOPED_TRACE(Narrow(text));
    std::vector<std::wstring> calls;
    for (size_t at = text.find(L"command="); at != std::wstring::npos;) {
        const size_t next = text.find(L"command=", at + 1);
        calls.push_back(text.substr(at, next == std::wstring::npos ? std::wstring::npos : next - at));
        at = next;
    }
    ASSERT_EQ(calls.size(), 4u) << "add, remove, remove the earlier family, add; nothing for another package";
    for (const std::wstring& call : calls) {
        for (const wchar_t* expected : {L"-NoProfile", L"-NonInteractive", L"-ExecutionPolicy Bypass",
                                        L"$PSModuleAutoloadingPreference='None'", L"COR_PROFILER_PATH=<unset>",
                                        L"COMPlus_AltJitName=<unset>", L"DOTNET_STARTUP_HOOKS=<unset>"})
            EXPECT_NE(call.find(expected), std::wstring::npos) << Narrow(expected);
        EXPECT_EQ(call.find(L"planted"), std::wstring::npos);
    }
    for (size_t add : {0, 3}) {
        EXPECT_NE(calls[add].find(L"Add-AppxPackage"), std::wstring::npos);
        EXPECT_NE(calls[add].find(L"package=present"), std::wstring::npos);
        EXPECT_NE(calls[add].find(L"DIRVANE_EXTERNAL_LOCATION=" + UserInstallDir() + L"\n"), std::wstring::npos);
    }
    for (const auto& [remove, removed] : {std::pair<size_t, std::wstring>{1, family}, {2, earlier}}) {
        EXPECT_NE(calls[remove].find(L"Remove-AppxPackage"), std::wstring::npos);
        EXPECT_NE(calls[remove].find(L"DIRVANE_PACKAGE_FAMILY=" + removed + L"\n"), std::wstring::npos);
    }
}
