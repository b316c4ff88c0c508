// Helpers for tests that run under Wine: paths of the build, waiting with a time limit,
// child processes, and scratch registry and file state that is cleaned up.
#pragma once
#include "common/handles.h"
#include <windows.h>
#include <chrono>
#include <functional>
#include <string>

namespace dvtest {

// A Unix path of the build as a Windows path (Wine maps the Unix root to Z:).
std::wstring WinPathFromUnix(const std::string& unixPath);
// A file of the build's dist folder, e.g. DistFile(L"Dirvane.dll").
std::wstring DistFile(const wchar_t* name);
// The folder that holds the running test program.
std::wstring ProgramFolder();

// False where the host cannot start 32-bit Windows programs (tools/wine-env.sh says why).
bool CanRun32BitPrograms();
// Skips the current test where 32-bit programs cannot run.
#define DVTEST_SKIP_WITHOUT_32BIT_PROGRAMS()                                        \
    do {                                                                            \
        if (!::dvtest::CanRun32BitPrograms())                                       \
            GTEST_SKIP() << "this host cannot run 32-bit Windows programs";         \
    } while (0)

// Polls condition until it holds or the time is up; pumps this thread's messages meanwhile.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Runs a command line and waits for it (with a time limit); returns the exit code or -1.
DWORD RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);
// Starts a process; the caller owns the handle.
dv::unique_handle StartProcess(const std::wstring& commandLine, DWORD* processId = nullptr);

// A folder under the prefix's temp folder, made fresh and removed with its content at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* name);
    ~ScratchFolder();
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const wchar_t* child) const { return path_ + L"\\" + child; }
    // Makes a subfolder (with parents) or a small file below the folder; returns its full path.
    std::wstring MakeFolder(const wchar_t* relative) const;
    std::wstring MakeFile(const wchar_t* relative, const char* content = "x") const;
private:
    std::wstring path_;
};

void DeleteTree(const std::wstring& path);

// A top-level window of another process with exactly this title (the folder windows the shell
// opens are titled with the folder's name); null when there is none.
HWND FindForeignWindow(const std::wstring& title);

// Closes, at the end of a scope, every folder window the shell opened with this title.
class ShellWindowCloser {
public:
    explicit ShellWindowCloser(std::wstring title) : title_(std::move(title)) {}
    ~ShellWindowCloser();
    ShellWindowCloser(const ShellWindowCloser&) = delete;
    ShellWindowCloser& operator=(const ShellWindowCloser&) = delete;
private:
    std::wstring title_;
};

// Removes HKCU\Software\Ostrelan\Dirvane before and after a test.
class CleanProductKey {
public:
    CleanProductKey();
    ~CleanProductKey();
};

constexpr const wchar_t kProductKey[] = L"Software\\Ostrelan\\Dirvane";

// Copies a rectangle of the screen (the whole screen without one) into <folder>\<name>.bmp, folder
// a Windows path made when missing, so that a person can look at what a test showed.
void WriteScreenBitmap(const std::wstring& folder, const char* name, const RECT* rect = nullptr);

} // namespace dvtest
