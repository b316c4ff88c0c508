// White-box tests of Tessaly's pieces: masks, records, device paths, list growth, titles, arguments.
#include "tessaly.h"
#include "common/test_support.h"
#include <gtest/gtest.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <algorithm>
#include <fstream>
#include <iterator>

using namespace tessaly;

namespace {

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

ModuleRecord MakeRecord(DWORD pid, const wchar_t* module, const wchar_t* title, const wchar_t* image) {
    ModuleRecord r = {};
    r.processId = pid;
    wcscpy(r.modulePath, module);
    wcscpy(r.title, title);
    wcscpy(r.imagePath, image);
    return r;
}

// A helper process that waits to be ended; the caller owns its handle.
dv::unique_handle StartHelper(DWORD& pid) {
    static int counter = 0;
    const std::wstring folder = dvtest::ProgramFolder();
    const std::wstring event = L"TessalyLogicReady-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                               std::to_wstring(++counter);
    dv::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    dv::unique_handle process = dvtest::StartProcess(
        L"\"" + folder + L"\\tess_helper.exe\" \"" + folder + L"\\tslyprobe_k4q.dll\" " + event, &pid);
    if (!ready || !process) return dv::unique_handle();
    HANDLE waits[] = {ready.get(), process.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, 20000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return dv::unique_handle();
    }
    return process;
}

SearchRequest MakeRequest(const wchar_t* mask, const std::wstring& output) {
    SearchRequest request = {};
    wcscpy(request.mask, mask);
    FoldAZ(request.mask);
    wcscpy(request.outputPath, output.c_str());
    return request;
}

} // namespace

TEST(MatchFileMask, WildcardsAndBacktracking) {
    struct Case { const wchar_t* mask; const wchar_t* name; bool match; } cases[] = {
        {L"shell??.*", L"shell32.dll", true},
        {L"shell??.*", L"shell32.", true},
        {L"shell??.*", L"shell.dll", false},
        {L"shell??.*", L"shellstyle.dll", false},
        {L"shell32.dll", L"shell32.dll", true},
        {L"shell32.dll", L"shell32.dl", false},
        {L"shell32.dl", L"shell32.dll", false},
        {L"*.dll", L"a.b.dll", true},
        {L"*.dll", L"a.dll.mui", false},
        {L"*a*b", L"xaxxbxb", true},      // the last '*' swallows more after a false start
        {L"*a*b", L"xaxxbxc", false},
        {L"a*b*c", L"abbbbc", true},
        {L"a*?c", L"ac", false},
        {L"a*?c", L"abc", true},
        {L"?", L"", false},
        {L"*", L"", true},
        {L"***", L"", true},
        {L"", L"", true},
        {L"", L"a", false},
        {L"*", L"anything.at.all", true},
        {L"**x", L"abx", true},
        {L"sys\\*.dll", L"kernel32.dll", false},  // masks with folders never match a bare name
        {L"*\\*", L"kernel32.dll", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchFileMask(c.mask, c.name), c.match) << "mask " << testing::PrintToString(std::wstring(c.mask))
                                                         << " name " << testing::PrintToString(std::wstring(c.name));
}

TEST(MatchFileMask, FoldingTouchesOnlyAToZ) {
    wchar_t text[] = L"SHELL32.DLL \u00c9\u00e9 [Z]@";
    FoldAZ(text);
    EXPECT_STREQ(text, L"shell32.dll \u00c9\u00e9 [z]@");
    wchar_t mask[] = L"\u00c9T\u00c9.DLL";
    FoldAZ(mask);
    EXPECT_FALSE(MatchFileMask(mask, L"\u00e9t\u00e9.dll"));
    EXPECT_TRUE(MatchFileMask(mask, L"\u00c9t\u00c9.dll"));
}

class RecordWriter : public ::testing::Test {
protected:
    dvtest::ScratchFolder scratch{L"tessaly-records"};
    std::wstring output = scratch / L"out.txt";
};

TEST_F(RecordWriter, WritesTheExactRecordOnlyForMatchingModules) {
    SearchRequest request = MakeRequest(L"SHELL??.*", output);
    EXPECT_TRUE(AppendMatchingRecord(
        MakeRecord(1234, L"C:\\Windows\\System32\\shellstyle.dll", L"Untitled - Notepad", L"C:\\Windows\\notepad.exe"),
        &request));
    EXPECT_FALSE(FileExists(output)) << "no match, no file";

    EXPECT_TRUE(AppendMatchingRecord(
        MakeRecord(1234, L"C:\\WINDOWS\\SYSTEM32\\SHELL32.DLL", L"Untitled - Notepad", L"C:\\Windows\\NOTEPAD.exe"),
        &request));
    EXPECT_TRUE(AppendMatchingRecord(MakeRecord(77, L"D:\\x\\Shell32.dll", L"Process Id: 77", L"D:\\x\\a.exe"),
                                     &request));
    EXPECT_EQ(ReadBytes(output),
              "1234\r\nUntitled - Notepad\r\nNOTEPAD.exe\r\nC:\\Windows\\NOTEPAD.exe\r\n\r\n"
              "77\r\nProcess Id: 77\r\na.exe\r\nD:\\x\\a.exe\r\n\r\n");
}

TEST_F(RecordWriter, ConvertsToTheAnsiCodePageAndWritesLongRecordsWhole) {
    SearchRequest request = MakeRequest(L"*", output);
    std::wstring title(1000, L'T');
    title += L"\u00e9\u4e2d";  // in code page 1252, and not
    ASSERT_TRUE(AppendMatchingRecord(MakeRecord(5, L"C:\\m.dll", title.c_str(), L"C:\\tools\\prog.exe"), &request));
    std::string expected = "5\r\n" + std::string(1000, 'T') + "\xe9?\r\nprog.exe\r\nC:\\tools\\prog.exe\r\n\r\n";
    EXPECT_EQ(ReadBytes(output), expected);
    EXPECT_GT(expected.size(), 1024u);
}

TEST_F(RecordWriter, AnOutputThatCannotBeOpenedDropsTheRecordAndGoesOn) {
    SearchRequest request = MakeRequest(L"*", scratch / L"missing\\out.txt");
    EXPECT_TRUE(AppendMatchingRecord(MakeRecord(5, L"C:\\m.dll", L"t", L"C:\\p.exe"), &request));
    EXPECT_FALSE(FileExists(request.outputPath));
}

TEST(DeviceToDosPath, MapsOnlyAtASeparatorAndRewritesRedirectorNames) {
    auto table = [](const wchar_t* drive, wchar_t* device, DWORD capacity) {
        const wchar_t* name = nullptr;
        switch (drive[0]) {
        case L'C': name = L"\\Device\\HarddiskVolume1"; break;
        case L'D': name = L"\\Device\\HarddiskVolume10"; break;
        case L'E': name = L"\\Device\\HarddiskVolume1"; break;  // same device as C: the first letter wins
        case L'M': name = L"\\Device\\LanmanRedirector\\;M:0000000000012345\\server\\share"; break;
        case L'N': name = L"\\Device\\LanmanRedirector\\;N0000000000012345\\other\\share"; break;  // no colon
        default: return false;
        }
        wcsncpy(device, name, capacity);
        return true;
    };
    struct Case { const wchar_t* in; const wchar_t* out; bool mapped; } cases[] = {
        {L"\\Device\\HarddiskVolume10\\Windows\\a.exe", L"D:\\Windows\\a.exe", true},
        {L"\\Device\\HarddiskVolume1\\Windows\\a.exe", L"C:\\Windows\\a.exe", true},
        {L"\\Device\\HarddiskVolume1", L"C:", true},
        {L"\\Device\\HarddiskVolume100\\a.exe", L"\\Device\\HarddiskVolume100\\a.exe", false},
        {L"\\Device\\HarddiskVolume1x\\a.exe", L"\\Device\\HarddiskVolume1x\\a.exe", false},
        {L"\\Device\\LanmanRedirector\\server\\share\\dir\\b.exe", L"M:\\dir\\b.exe", true},
        {L"\\Device\\LanmanRedirector\\server\\shared\\b.exe", L"\\Device\\LanmanRedirector\\server\\shared\\b.exe",
         false},
        {L"\\Device\\Mup\\x.exe", L"\\Device\\Mup\\x.exe", false},
    };
    for (const Case& c : cases) {
        wchar_t path[kPathChars];
        wcscpy(path, c.in);
        EXPECT_EQ(DeviceToDosPath(path, kPathChars, table), c.mapped) << testing::PrintToString(std::wstring(c.in));
        EXPECT_STREQ(path, c.out);
    }
}

TEST(DeviceToDosPath, RedirectorRewriteNeedsTheDriveColon) {
    wchar_t mapped[] = L"\\Device\\LanmanRedirector\\;Q:0\\srv\\share";
    RewriteRedirectorName(mapped);
    EXPECT_STREQ(mapped, L"\\Device\\LanmanRedirector\\srv\\share");
    wchar_t noColon[] = L"\\Device\\LanmanRedirector\\;Q0\\srv\\share";
    RewriteRedirectorName(noColon);
    EXPECT_STREQ(noColon, L"\\Device\\LanmanRedirector\\;Q0\\srv\\share");
    wchar_t shortName[] = L"\\Device\\LanmanRedirector\\;";
    RewriteRedirectorName(shortName);
    EXPECT_STREQ(shortName, L"\\Device\\LanmanRedirector\\;");
}

TEST(DeviceToDosPath, TheSystemsDeviceFormOfOurOwnImageMapsBack) {
    wchar_t device[kPathChars] = {};
    ASSERT_GT(::GetProcessImageFileNameW(::GetCurrentProcess(), device, kPathChars), 0u);
    ASSERT_EQ(wcsncmp(device, L"\\Device\\", 8), 0) << testing::PrintToString(std::wstring(device));
    wchar_t own[MAX_PATH];
    ::GetModuleFileNameW(nullptr, own, MAX_PATH);
    ASSERT_TRUE(DeviceToDosPath(device, kPathChars));
    EXPECT_EQ(::lstrcmpiW(device, own), 0) << testing::PrintToString(std::wstring(device));
}

TEST(ListGrowth, TheProcessListGrowsUntilEveryProcessFits) {
    std::vector<DWORD> all(1000);
    for (DWORD i = 0; i < all.size(); ++i) all[i] = (i + 1) * 4;
    int calls = 0;
    auto fake = [&](DWORD* buffer, DWORD bytes, DWORD* written) {
        ++calls;
        size_t n = std::min<size_t>(all.size(), bytes / sizeof(DWORD));  // silently cut, like EnumProcesses
        std::copy_n(all.begin(), n, buffer);
        *written = static_cast<DWORD>(n * sizeof(DWORD));
        return TRUE;
    };
    std::vector<DWORD> ids;
    ASSERT_TRUE(TakeProcessList(fake, ids));
    EXPECT_EQ(ids, all);
    EXPECT_EQ(calls, 3);  // 256, 512, 1024 slots

    all.resize(256);  // exactly full: one more look with more room proves there is no more
    ASSERT_TRUE(TakeProcessList(fake, ids));
    EXPECT_EQ(ids, all);

    EXPECT_FALSE(TakeProcessList([](DWORD*, DWORD, DWORD*) { return FALSE; }, ids));
    EXPECT_TRUE(ids.empty());
}

TEST(ListGrowth, TheRealProcessListFromOneSlotHoldsEveryProcess) {
    DWORD childId = 0;
    dv::unique_handle child = StartHelper(childId);
    ASSERT_TRUE(child);
    std::vector<DWORD> ids;
    ASSERT_TRUE(TakeProcessList([](DWORD* b, DWORD n, DWORD* w) { return ::EnumProcesses(b, n, w); }, ids, 1));
    EXPECT_GE(ids.size(), 3u);
    EXPECT_NE(std::find(ids.begin(), ids.end(), ::GetCurrentProcessId()), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), childId), ids.end());
    ::TerminateProcess(child.get(), 0);
    ::WaitForSingleObject(child.get(), 5000);
}

TEST(ListGrowth, TheModuleListGrowsToTheNeededSize) {
    HANDLE self = ::GetCurrentProcess();
    std::vector<HMODULE> small, large;
    ASSERT_TRUE(TakeModuleList([self](HMODULE* b, DWORD n, DWORD* need) {
        return ::EnumProcessModules(self, b, n, need);
    }, small, 1));
    ASSERT_TRUE(TakeModuleList([self](HMODULE* b, DWORD n, DWORD* need) {
        return ::EnumProcessModules(self, b, n, need);
    }, large, 4096));
    EXPECT_GT(small.size(), 3u);
    EXPECT_EQ(small, large);

    // A list that keeps growing while it is taken ends with what the last call filled.
    DWORD size = 10;
    std::vector<HMODULE> modules;
    ASSERT_TRUE(TakeModuleList([&size](HMODULE* b, DWORD n, DWORD* need) {
        size += 100;
        *need = size * sizeof(HMODULE);
        std::fill_n(b, std::min<size_t>(size, n / sizeof(HMODULE)), reinterpret_cast<HMODULE>(0x1000));
        return TRUE;
    }, modules, 4));
    EXPECT_FALSE(modules.empty());
    EXPECT_LT(modules.size(), size);
}

class ProcessTitle : public ::testing::Test {
protected:
    void TearDown() override {
        for (HWND w : windows) ::DestroyWindow(w);
    }
    HWND Make(DWORD style, const wchar_t* text) {
        HWND w = ::CreateWindowExW(0, L"STATIC", text, style, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
        windows.push_back(w);
        return w;
    }
    static std::wstring TitleOf(DWORD pid, const std::wstring& image) {
        ModuleRecord r = MakeRecord(pid, L"", L"stale", image.c_str());
        GetProcessTitle(r);
        return r.title;
    }
    std::vector<HWND> windows;
};

TEST_F(ProcessTitle, HiddenCaptionedWindowsFirstThenTheEnglishDescriptionThenTheIdentifier) {
    const DWORD self = ::GetCurrentProcessId();
    const std::wstring image = dvtest::ProgramFolder() + L"\\lockfinder_logic_test.exe";
    EXPECT_EQ(TitleOf(self, image), L"Process Id: " + std::to_wstring(self));

    Make(WS_POPUP, L"not captioned");
    Make(WS_OVERLAPPED | WS_BORDER, L"");  // captioned but empty: look further
    EXPECT_EQ(TitleOf(self, image), L"Process Id: " + std::to_wstring(self));
    Make(WS_OVERLAPPED | WS_DLGFRAME, L"Hidden caption");
    ASSERT_TRUE(windows.back());
    EXPECT_FALSE(::IsWindowVisible(windows.back()));
    EXPECT_EQ(TitleOf(self, image), L"Hidden caption");

    const DWORD nobody = 0x7FFFFFF0;
    EXPECT_EQ(TitleOf(nobody, dvtest::ProgramFolder() + L"\\tess_helper_described.exe"), L"Tessaly probe described");
    EXPECT_EQ(TitleOf(nobody, dvtest::ProgramFolder() + L"\\tess_helper.exe"), L"Process Id: 2147483632");
    EXPECT_EQ(TitleOf(nobody, L""), L"Process Id: 2147483632");
}

TEST(Arguments, CommandLineTailSkipsTheProgramNameAsTheRuntimeDoes) {
    EXPECT_STREQ(CommandLineTail(L"\"C:\\a b\\Tessaly.exe\"  x.dll out.txt"), L"x.dll out.txt");
    EXPECT_STREQ(CommandLineTail(L"Tessaly.exe\t\"a b\" c"), L"\"a b\" c");
    EXPECT_STREQ(CommandLineTail(L"Tessaly.exe"), L"");
    EXPECT_STREQ(CommandLineTail(L"Tessaly.exe   "), L"");
    EXPECT_STREQ(CommandLineTail(L"\"Tessaly.exe\"\"\""), L"\"\"");
    EXPECT_STREQ(CommandLineTail(nullptr), L"");
}

TEST(Arguments, SplitCommandLineAgreesWithTheSystemsSplitter) {
    const std::wstring longArgument(40000, L'a');
    const std::wstring cases[] = {
        L"Tessaly.exe", L"\"C:\\a b\\Tessaly.exe\" x.dll out.txt", L"\"C:\\a\\T.exe\"x y", L"T.exe\t a\t\tb ",
        L"\"unterminated program name", L" leading x", L"T \"a b\" \"\" c", L"T \"\"", L"T \"\"\"\"", L"T \"",
        L"T \"open to the end", L"T a\"b c\"d", L"T \"a\"\"b\"", L"T \"a\"\"\"b\"", L"T a\"\"b", L"T a\"\"\"b c",
        L"T \"\"\"\"\"\"", L"T \"a\"\"\"\"b\" c", L"T \\\"a", L"T \\\\\"a b\"", L"T \\\\\\\"a", L"T a\\b\\",
        L"T \"C:\\dir\\\" next", L"T \"C:\\dir\\\\\" next", L"T \\\\\\", L"T x\\\\ y",
        L"T \"\\\"\"\" z", L"T " + longArgument + L" \"" + longArgument + L" b\"",
    };
    for (const std::wstring& line : cases) {
        int count = 0;
        LPWSTR* expected = ::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_TRUE(expected);
        const std::vector<std::wstring> split = SplitCommandLine(line.c_str());
        std::vector<std::wstring> system(expected, expected + count);
        ::LocalFree(expected);
        EXPECT_EQ(split, system) << line.substr(0, 80);
    }
}

TEST(Arguments, PathHelpersAgreeWithTheShellsOwn) {
    const wchar_t* cases[] = {L"out.txt", L"sub\\out.txt", L"D:out.txt", L"C:\\a\\b.dll", L"C:\\a\\", L"C:\\",
                              L"\\\\server\\share\\x.dll", L"a/b.dll", L"a\\\\b", L"", L"\\", L"name.", L"C:"};
    for (const wchar_t* path : cases) {
        EXPECT_EQ(IsFileSpec(path), ::PathIsFileSpecW(path) != FALSE) << path;
        EXPECT_STREQ(FindFileName(path), ::PathFindFileNameW(path)) << path;
    }
}

TEST(Arguments, ProcessIdIsTheLeadingNumber) {
    DWORD pid = 0;
    EXPECT_TRUE(ParseProcessId(L"1234", pid));
    EXPECT_EQ(pid, 1234u);
    EXPECT_TRUE(ParseProcessId(L"  +77abc", pid));
    EXPECT_EQ(pid, 77u);
    EXPECT_TRUE(ParseProcessId(L"-1", pid));
    EXPECT_EQ(pid, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseProcessId(L"4294967295", pid));
    EXPECT_EQ(pid, 0xFFFFFFFFu);
    EXPECT_FALSE(ParseProcessId(L"4294967296", pid));
    EXPECT_FALSE(ParseProcessId(L"abc12", pid));
    EXPECT_FALSE(ParseProcessId(L"", pid));
    EXPECT_FALSE(ParseProcessId(L" - 5", pid));
    EXPECT_FALSE(ParseProcessId(std::wstring(5000, L'9').c_str(), pid));
}

TEST(Arguments, SearchRequestPlacesBareNamesInTheToolDirectoryAndRejectsWhatDoesNotFit) {
    const std::wstring dir = L"C:\\tools\\";
    SearchRequest r;
    ASSERT_TRUE(BuildSearchRequest(L"Shell??.*", L"out.txt", dir, r));
    EXPECT_STREQ(r.mask, L"shell??.*");
    EXPECT_STREQ(r.outputPath, L"C:\\tools\\out.txt");
    ASSERT_TRUE(BuildSearchRequest(L"x", L"sub\\out.txt", dir, r));
    EXPECT_STREQ(r.outputPath, L"sub\\out.txt");
    ASSERT_TRUE(BuildSearchRequest(L"x", L"D:out.txt", dir, r));
    EXPECT_STREQ(r.outputPath, L"D:out.txt");

    const std::wstring mask259(259, L'm'), mask260(260, L'm');
    EXPECT_TRUE(BuildSearchRequest(mask259.c_str(), L"o", dir, r));
    EXPECT_FALSE(BuildSearchRequest(mask260.c_str(), L"o", dir, r));
    const std::wstring fits(259 - dir.size(), L'n'), tooLong(260 - dir.size(), L'n');
    EXPECT_TRUE(BuildSearchRequest(L"x", fits.c_str(), dir, r));
    EXPECT_EQ(wcslen(r.outputPath), 259u);
    EXPECT_FALSE(BuildSearchRequest(L"x", tooLong.c_str(), dir, r));
    EXPECT_FALSE(BuildSearchRequest(L"x", (L"C:\\" + std::wstring(257, L'p')).c_str(), dir, r));
    EXPECT_FALSE(BuildSearchRequest(L"x", L"", dir, r));
    EXPECT_FALSE(BuildSearchRequest(L"x", L"o", L"", r));
}

TEST(Companion, ExtractionWritesResource102ByteForByteAndReplacesAnOldFile) {
    dvtest::ScratchFolder scratch(L"tessaly-companion");
    const std::wstring path = scratch / L"Tessaly64.exe";
    scratch.MakeFile(L"Tessaly64.exe", "an older and much longer file that must be replaced entirely");
    ASSERT_TRUE(ExtractCompanion(::GetModuleHandleW(nullptr), path.c_str()));
    EXPECT_EQ(ReadBytes(path), std::string("companion bytes\0\x01\x02\x03", 19));

    // A module without the resource writes nothing.
    ::DeleteFileW(path.c_str());
    EXPECT_FALSE(ExtractCompanion(::GetModuleHandleW(L"kernel32.dll"), path.c_str()));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(IsRunningUnderWow64());
}

TEST(Termination, EndsTheProcessWithMinusOneAndReportsFailures) {
    DWORD childId = 0;
    dv::unique_handle child = StartHelper(childId);
    ASSERT_TRUE(child);
    EXPECT_TRUE(TerminateById(childId));
    ASSERT_EQ(::WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(code, 0xFFFFFFFFu);

    ::SetLastError(0);
    EXPECT_FALSE(TerminateById(0x7FFFFFF0));
    EXPECT_NE(::GetLastError(), 0u);
}
