// The trace facility: the line it writes, cutting on purpose, and the real route to a listener.
#include "common/trace.h"
#include "test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> g_lines;
void Collect(const wchar_t* line) noexcept { g_lines.emplace_back(line); }

class Trace : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        dv::trace::SetSinkForTesting(&Collect);
    }
    void TearDown() override { dv::trace::SetSinkForTesting(nullptr); }
};

TEST_F(Trace, OneLineNamesTheFileLineAndFailureAndKeepsTheLastError) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    const int line = __LINE__ + 1;
    DV_TRACE_HR(E_ACCESSDENIED, L"ParseDisplayName");
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0], L"Dirvane: trace_test.cpp(" + std::to_wstring(line) +
                              L"): ParseDisplayName failed: 0x80070005\n");
}

TEST_F(Trace, ALongMessageIsCutAndMarked) {
    const std::wstring path(5000, L'x');
    DV_TRACE(L"path %ls", path.c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    const std::wstring& text = g_lines[0];
    EXPECT_LE(text.size(), dv::trace::kMaxLine);
    EXPECT_EQ(text.substr(text.size() - 4), L"...\n");
    EXPECT_EQ(text.rfind(L"Dirvane: trace_test.cpp(", 0), 0u);
}

// A debugger receives the line as OUTPUT_DEBUG_STRING_EVENT, as DebugView would.
TEST(TraceRoute, ADebuggerOfTheProcessReceivesTheLine) {
    std::wstring command = L"\"" + dvtest::ProgramFolder() + L"\\trace_emitter.exe\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                                 nullptr, nullptr, &si, &pi));
    dv::unique_handle process(pi.hProcess), thread(pi.hThread);
    std::wstring received;
    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    for (bool running = true; running && ::GetTickCount64() < deadline;) {
        DEBUG_EVENT event = {};
        if (!::WaitForDebugEvent(&event, 1000)) continue;
        if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            std::vector<char> bytes(info.nDebugStringLength * (info.fUnicode ? 2 : 1));
            SIZE_T read = 0;
            ::ReadProcessMemory(process.get(), info.lpDebugStringData, bytes.data(), bytes.size(), &read);
            if (info.fUnicode) received.append(reinterpret_cast<const wchar_t*>(bytes.data()), read / 2);
            else received.append(bytes.begin(), bytes.begin() + read);
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            if (event.u.CreateProcessInfo.hFile) ::CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            if (event.u.LoadDll.hFile) ::CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            running = false;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
    }
    EXPECT_NE(received.find(L"Dirvane: trace_emitter.cpp(5): RegCreateKeyExW Items failed: error 5"),
              std::wstring::npos)
        << std::string(received.begin(), received.end());
}

} // namespace
