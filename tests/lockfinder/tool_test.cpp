// Tessaly64.exe and Tessaly.exe as their callers use them: real helper processes, real output files.
// Both tools run from copies in scratch folders, so bare output names and the companion stay there.
#include "common/test_support.h"
#include "common/text.h"
#include <gtest/gtest.h>
#include <psapi.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

constexpr wchar_t kProbeDll[] = L"tslyprobe_k4q.dll";

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Ansi(const std::wstring& text) {
    std::string out(text.size() * 2 + 1, '\0');
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                                  static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? n : 0);
    return out;
}

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

std::string Record(DWORD pid, const std::string& title, const std::wstring& image) {
    return std::to_string(pid) + "\r\n" + title + "\r\n" + Ansi(FileNameOf(image)) + "\r\n" + Ansi(image) +
           "\r\n\r\n";
}

// The records of an output file, each with its closing empty line, sorted (the order is the system's).
std::vector<std::string> Records(const std::string& bytes) {
    std::vector<std::string> records;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n\r\n", start)) != std::string::npos; start = end + 4)
        records.push_back(bytes.substr(start, end + 4 - start));
    if (start != bytes.size()) records.push_back("<trailing>" + bytes.substr(start));
    std::sort(records.begin(), records.end());
    return records;
}

std::vector<std::string> RecordsOf(DWORD pid, const std::vector<std::string>& records) {
    std::vector<std::string> found;
    for (const std::string& r : records)
        if (r.compare(0, r.find("\r\n"), std::to_string(pid)) == 0) found.push_back(r);
    return found;
}

// A helper process that has loaded the probe DLL (and, with a title, owns a hidden captioned window).
struct Helper {
    dv::unique_handle process;
    DWORD pid = 0;
    std::wstring image;
    ~Helper() {
        if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.get(), 0);
            ::WaitForSingleObject(process.get(), 10000);
        }
    }
    bool Running() const { return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }
    DWORD WaitExitCode(DWORD ms = 10000) const {
        if (::WaitForSingleObject(process.get(), ms) != WAIT_OBJECT_0) return 0x12345678;
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        return code;
    }
};

std::unique_ptr<Helper> StartHelper(const wchar_t* exeName, const wchar_t* title = nullptr) {
    static int counter = 0;
    auto helper = std::make_unique<Helper>();
    helper->image = dvtest::ProgramFolder() + L"\\" + exeName;
    const std::wstring eventName =
        L"TessalyHelperReady-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    dv::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    std::wstring line = L"\"" + helper->image + L"\" \"" + dvtest::ProgramFolder() + L"\\" + kProbeDll + L"\" " +
                        eventName;
    if (title) line += L" \"" + std::wstring(title) + L"\"";
    helper->process = dvtest::StartProcess(line, &helper->pid);
    if (!ready || !helper->process) {
        ADD_FAILURE() << "helper did not start";
        return nullptr;
    }
    HANDLE waits[] = {ready.get(), helper->process.get()};
    if (::WaitForMultipleObjects(2, waits, FALSE, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "helper did not get ready";
        return nullptr;
    }
    return helper;
}

// Runs a tool with the text after the program name and waits for it; the exit code, or a marker.
DWORD RunTool(const std::wstring& exe, const std::wstring& tail, const std::wstring& folder = L"",
              DWORD* pid = nullptr) {
    std::wstring line = L"\"" + exe + L"\"" + (tail.empty() ? L"" : L" " + tail);
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        return 0xDEAD0001;
    ::CloseHandle(pi.hThread);
    dv::unique_handle process(pi.hProcess);
    if (pid) *pid = pi.dwProcessId;
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return 0xDEAD0002;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

struct BoxSearch {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t cls[64] = {};
    ::GetClassNameW(window, cls, 64);
    if (owner != search.pid || wcscmp(cls, L"#32770") != 0) return TRUE;
    search.box = window;
    return FALSE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

const wchar_t kUsage[] =
    L"Command line usage:\n\nFind locking processes:\nTessaly.exe <search_filename> <output_file>\n\n"
    L"<search_filename>\nFile name or file mask, for example shell32.dll or shell??.*\n\n<output_file>\n"
    L"File name or file name with full path where to output the results.\n"
    L"If full path is not specified, then file created in Tessaly's directory.\n\nOR\n\n"
    L"Terminate a process:\nTessaly.exe <process_id>\n\n<process_id>\nTarget process ID numeric value";

// Starts the tool without arguments, reads its message box back and closes it.
void CheckUsageBox(const std::wstring& exe) {
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    std::wstring line = Quote(exe);
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ::CloseHandle(pi.hThread);
    dv::unique_handle process(pi.hProcess);
    BoxSearch search = {pi.dwProcessId, nullptr};
    // The box is complete once it is visible (the caption and the text are set before).
    bool shown = dvtest::WaitFor([&] {
        search.box = nullptr;
        ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        return search.box != nullptr && ::IsWindowVisible(search.box);
    }, std::chrono::seconds(20));
    if (!shown) ::TerminateProcess(process.get(), 1);
    ASSERT_TRUE(shown) << "no usage box";

    EXPECT_EQ(dv::WindowText(search.box), L"Tessaly.exe");
    EXPECT_EQ(::GetWindow(search.box, GW_OWNER), nullptr);
    std::vector<HWND> children;
    ::EnumChildWindows(search.box, CollectChildren, reinterpret_cast<LPARAM>(&children));
    std::vector<std::wstring> buttons;
    bool textFound = false;
    for (HWND child : children) {
        wchar_t cls[64] = {};
        ::GetClassNameW(child, cls, 64);
        std::wstring text = dv::WindowText(child);
        if (_wcsicmp(cls, L"Button") == 0 && ::IsWindowVisible(child)) buttons.push_back(text);
        if (text == kUsage) textFound = true;
    }
    EXPECT_TRUE(textFound) << "usage text not found";
    EXPECT_EQ(buttons, std::vector<std::wstring>{L"OK"});

    ::PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
}

class TessalyTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder64 = std::make_unique<dvtest::ScratchFolder>(L"tessaly64-tool");
        folder32 = std::make_unique<dvtest::ScratchFolder>(L"tessaly32-tool");
        tool64 = *folder64 / L"Tessaly64.exe";
        tool32 = *folder32 / L"Tessaly.exe";
        ::CopyFileW(dvtest::DistFile(L"Tessaly64.exe").c_str(), tool64.c_str(), FALSE);
        ::CopyFileW(dvtest::DistFile(L"Tessaly.exe").c_str(), tool32.c_str(), FALSE);
    }
    static void TearDownTestSuite() {
        folder64.reset();
        folder32.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(FileExists(tool64));
        ASSERT_TRUE(FileExists(tool32));
    }
    static std::wstring Out64(const wchar_t* name) { return *folder64 / name; }
    static std::wstring Out32(const wchar_t* name) { return *folder32 / name; }
    static std::wstring Companion32() { return *folder32 / L"Tessaly64.exe"; }

    static inline std::unique_ptr<dvtest::ScratchFolder> folder64, folder32;
    static inline std::wstring tool64, tool32;
};

TEST_F(TessalyTool, SearchWritesTheExactRecordOfEveryProcessThatLoadedTheModule) {
    auto windowed = StartHelper(L"tess_helper.exe", L"Probe window \u00e9 \u4e2d");
    auto described = StartHelper(L"tess_helper_described.exe");
    auto plain = StartHelper(L"tess_helper.exe");  // its description is German only
    // A title that would forge a second record were its line breaks written.
    auto forging = StartHelper(L"tess_helper.exe", L"Forged\r\n1\r\nx.exe\r\nC:\\x.exe\r\n\r\n9\tend\x7f");
    ASSERT_TRUE(windowed && described && plain && forging);
    const std::wstring out = Out64(L"found.txt");
    folder64->MakeFile(L"found.txt", "left from an earlier search\r\n");

    ASSERT_EQ(RunTool(tool64, L"TSLYPROBE_K?Q.* " + Quote(out)), 0u);
    std::vector<std::string> expected = {
        Record(windowed->pid, "Probe window \xe9 ?", windowed->image),
        Record(described->pid, "Tessaly probe described", described->image),
        Record(plain->pid, "Process Id: " + std::to_string(plain->pid), plain->image),
        Record(forging->pid, "Forged  1  x.exe  C:\\x.exe    9 end ", forging->image),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Records(ReadBytes(out)), expected);
}

TEST_F(TessalyTool, AMaskOnTheExecutableListsEachProcessOnceAndStarListsEveryModule) {
    auto first = StartHelper(L"tess_helper.exe");
    auto second = StartHelper(L"tess_helper.exe");
    ASSERT_TRUE(first && second);
    const std::wstring out = Out64(L"exe.txt");
    ASSERT_EQ(RunTool(tool64, L"tess_helper.exe " + Quote(out)), 0u);
    std::vector<std::string> expected = {
        Record(first->pid, "Process Id: " + std::to_string(first->pid), first->image),
        Record(second->pid, "Process Id: " + std::to_string(second->pid), second->image),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Records(ReadBytes(out)), expected);

    // "*": one record per module, the executable included, and the tool's own process too.
    DWORD toolPid = 0;
    ASSERT_EQ(RunTool(tool64, L"* " + Quote(out), L"", &toolPid), 0u);
    std::vector<std::string> all = Records(ReadBytes(out));
    std::vector<HMODULE> modules(1024);
    DWORD needed = 0;
    dv::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, first->pid));
    ASSERT_TRUE(::EnumProcessModulesEx(process.get(), modules.data(), 1024 * sizeof(HMODULE), &needed,
                                       LIST_MODULES_ALL));
    EXPECT_EQ(RecordsOf(first->pid, all).size(), needed / sizeof(HMODULE));
    std::vector<std::string> own = RecordsOf(toolPid, all);
    ASSERT_FALSE(own.empty());
    EXPECT_NE(own[0].find("\r\nTessaly64.exe\r\n" + Ansi(tool64) + "\r\n"), std::string::npos) << own[0];
}

TEST_F(TessalyTool, NoMatchLeavesNoFileAndWrongOrOversizedArgumentsDoNothing) {
    const std::wstring out = Out64(L"none.txt");
    folder64->MakeFile(L"none.txt", "old");
    ASSERT_EQ(RunTool(tool64, L"no_such_module_zz.dll " + Quote(out)), 0u);
    EXPECT_FALSE(FileExists(out)) << "a search without a match leaves no file";

    auto helper = StartHelper(L"tess_helper.exe");
    ASSERT_TRUE(helper);
    folder64->MakeFile(L"none.txt", "old");
    ASSERT_EQ(RunTool(tool64, L"tess_helper.exe " + Quote(out) + L" extra"), 0u);
    EXPECT_EQ(ReadBytes(out), "old") << "three arguments: not even the old file is deleted";

    // Arguments that do not fit their buffers do nothing, without crashing.
    ASSERT_EQ(RunTool(tool64, std::wstring(300, L'*') + L" " + Quote(out)), 0u);
    EXPECT_EQ(ReadBytes(out), "old");
    ASSERT_EQ(RunTool(tool64, L"tess_helper.exe " + Quote(*folder64 / std::wstring(280, L'n').c_str())), 0u);
    ASSERT_EQ(RunTool(tool64, L"tess_helper.exe " + std::wstring(258, L'b')), 0u);  // too long with the folder
    ASSERT_EQ(RunTool(tool64, std::wstring(30000, L'9')), 0u);
    EXPECT_TRUE(helper->Running());
}

TEST_F(TessalyTool, ABareOutputNameLandsInTheToolDirectoryAndAFolderPathInTheCurrentOne) {
    auto helper = StartHelper(L"tess_helper.exe");
    ASSERT_TRUE(helper);
    const std::wstring cwd = folder64->MakeFolder(L"cwd\\sub");
    const std::wstring current = *folder64 / L"cwd";
    ASSERT_EQ(RunTool(tool64, L"tess_helper.exe bare.txt", current), 0u);
    EXPECT_TRUE(FileExists(Out64(L"bare.txt")));
    EXPECT_FALSE(FileExists(current + L"\\bare.txt"));
    ASSERT_EQ(RunTool(tool64, L"tess_helper.exe sub\\rel.txt", current), 0u);
    EXPECT_TRUE(FileExists(cwd + L"\\rel.txt"));
}

TEST_F(TessalyTool, OneArgumentEndsTheProcessItsLeadingDigitsName) {
    auto helper = StartHelper(L"tess_helper.exe");
    ASSERT_TRUE(helper);
    ASSERT_EQ(RunTool(tool64, L"abc" + std::to_wstring(helper->pid)), 0u);
    ASSERT_EQ(RunTool(tool64, L"\"\""), 0u);
    EXPECT_TRUE(helper->Running()) << "nothing ends without leading digits";
    ASSERT_EQ(RunTool(tool64, std::to_wstring(helper->pid) + L"xyz"), 0u);
    EXPECT_EQ(helper->WaitExitCode(), 0xFFFFFFFFu);
}

TEST_F(TessalyTool, UsageBoxOfTheSixtyFourBitBuild) { CheckUsageBox(tool64); }

TEST_F(TessalyTool, TheThirtyTwoBitBuildCarriesTheSixtyFourBitOneByteForByte) {
    dv::unique_hmodule image(::LoadLibraryExW(tool32.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image);
    HRSRC info = ::FindResourceW(image.get(), MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(10));
    ASSERT_TRUE(info);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(image.get(), info)));
    ASSERT_TRUE(data);
    EXPECT_TRUE(std::string(data, ::SizeofResource(image.get(), info)) == ReadBytes(tool64));

    // Both carry the manifest; only the 32-bit build carries a companion.
    dv::unique_hmodule image64(::LoadLibraryExW(tool64.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image64);
    EXPECT_TRUE(::FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)));
    EXPECT_TRUE(::FindResourceW(image64.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)));
    EXPECT_FALSE(::FindResourceW(image64.get(), MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(10)));

    // The version block of the 32-bit build.
    DWORD ignored = 0;
    std::vector<BYTE> version(::GetFileVersionInfoSizeW(tool32.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(tool32.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(version.data(), L"\\StringFileInfo\\000004b0\\FileDescription", &value, &length));
    EXPECT_STREQ(static_cast<const wchar_t*>(value), L"Running modules locking detection");
    ASSERT_TRUE(::VerQueryValueW(version.data(), L"\\StringFileInfo\\000004b0\\FileVersion", &value, &length));
    EXPECT_STREQ(static_cast<const wchar_t*>(value), L"1, 0, 0, 1");
    EXPECT_EQ(::GetFileVersionInfoSizeW(tool64.c_str(), &ignored), 0u) << "the 64-bit build has no version block";
}

TEST_F(TessalyTool, UnderWow64TheCompanionDoesTheSearchWithTheSameResult) {
    DVTEST_SKIP_WITHOUT_32BIT_PROGRAMS();
    auto windowed = StartHelper(L"tess_helper.exe", L"Probe window");
    auto described = StartHelper(L"tess_helper_described.exe");
    ASSERT_TRUE(windowed && described);
    const std::wstring out64 = Out64(L"same64.txt"), out32 = Out64(L"same32.txt");
    ASSERT_EQ(RunTool(tool64, std::wstring(kProbeDll) + L" " + Quote(out64)), 0u);
    ASSERT_EQ(RunTool(tool32, std::wstring(kProbeDll) + L" " + Quote(out32)), 0u);
    EXPECT_EQ(Records(ReadBytes(out32)), Records(ReadBytes(out64)));
    EXPECT_EQ(Records(ReadBytes(out32)).size(), 2u);
    EXPECT_FALSE(FileExists(Companion32()));

    // The companion runs from the tool's folder, so a bare name lands there too; it finds itself.
    ASSERT_EQ(RunTool(tool32, L"TESSALY64.EXE companion.txt", folder64->path()), 0u);
    std::vector<std::string> found = Records(ReadBytes(Out32(L"companion.txt")));
    ASSERT_EQ(found.size(), 1u);
    DWORD companionPid = std::stoul(found[0]);
    EXPECT_EQ(found[0], Record(companionPid, "Process Id: " + std::to_string(companionPid), Companion32()));
    EXPECT_FALSE(FileExists(Companion32()));
    EXPECT_FALSE(FileExists(Out64(L"companion.txt")));

    // Termination goes through the companion as well.
    ASSERT_EQ(RunTool(tool32, std::to_wstring(windowed->pid)), 0u);
    EXPECT_EQ(windowed->WaitExitCode(), 0xFFFFFFFFu);
    EXPECT_FALSE(FileExists(Companion32()));
}

TEST_F(TessalyTool, UnderWow64ACompanionThatCannotBeWrittenMeansNoWork) {
    DVTEST_SKIP_WITHOUT_32BIT_PROGRAMS();
    auto helper = StartHelper(L"tess_helper.exe");
    ASSERT_TRUE(helper);
    // A folder in the companion's place: it can be neither replaced nor deleted.
    ASSERT_TRUE(::CreateDirectoryW(Companion32().c_str(), nullptr));
    ASSERT_EQ(RunTool(tool32, std::to_wstring(helper->pid)), 0u);
    ASSERT_EQ(RunTool(tool32, L"tess_helper.exe nowork.txt"), 0u);
    EXPECT_TRUE(helper->Running()) << "no fallback to working alone";
    EXPECT_FALSE(FileExists(Out32(L"nowork.txt")));
    EXPECT_TRUE(::RemoveDirectoryW(Companion32().c_str()));
}

TEST_F(TessalyTool, UnderWow64AnEmptyCommandLineShowsTheUsageWithoutTheCompanion) {
    DVTEST_SKIP_WITHOUT_32BIT_PROGRAMS();
    folder32->MakeFile(L"Tessaly64.exe", "sentinel");
    CheckUsageBox(tool32);
    EXPECT_EQ(ReadBytes(Companion32()), "sentinel");
    ::DeleteFileW(Companion32().c_str());
}

} // namespace
