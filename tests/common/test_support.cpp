#include "test_support.h"
#include "screen_bitmap.h"
#include "common/text.h"
#include <shlwapi.h>
#include <shlobj.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace dvtest {

std::wstring WinPathFromUnix(const std::string& unixPath) {
    std::wstring result = L"Z:";
    for (char c : unixPath) result += (c == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return result;
}

std::wstring DistFile(const wchar_t* name) {
    const char* dist = std::getenv("DIRVANE_DIST");
    std::wstring folder = dist ? WinPathFromUnix(dist) : ProgramFolder();
    return folder + L"\\" + name;
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = ::GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool CanRun32BitPrograms() {
    const char* no32 = std::getenv("DIRVANE_NO_WIN32");
    return !no32 || !*no32;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

dv::unique_handle StartProcess(const std::wstring& commandLine, DWORD* processId) {
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return dv::unique_handle();
    ::CloseHandle(pi.hThread);
    if (processId) *processId = pi.dwProcessId;
    return dv::unique_handle(pi.hProcess);
}

DWORD RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
    dv::unique_handle process = StartProcess(commandLine);
    if (!process) return static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return static_cast<DWORD>(-1);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

void DeleteTree(const std::wstring& path) {
    std::wstring from = path + L'\0';  // double-null terminated list
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    ::SHFileOperationW(&op);
}

ScratchFolder::ScratchFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t full[MAX_PATH];
    ::GetLongPathNameW(temp, full, MAX_PATH);
    path_ = std::wstring(full) + name + L"-" + std::to_wstring(::GetCurrentProcessId());
    DeleteTree(path_);
    ::SHCreateDirectoryExW(nullptr, path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { DeleteTree(path_); }

std::wstring ScratchFolder::MakeFolder(const wchar_t* relative) const {
    std::wstring full = *this / relative;
    ::SHCreateDirectoryExW(nullptr, full.c_str(), nullptr);
    return full;
}

std::wstring ScratchFolder::MakeFile(const wchar_t* relative, const char* content) const {
    std::wstring full = *this / relative;
    std::wstring folder = full.substr(0, full.find_last_of(L'\\'));
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    dv::unique_hfile file(::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.get(), content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    return full;
}

CleanProductKey::CleanProductKey() { ::SHDeleteKeyW(HKEY_CURRENT_USER, kProductKey); }
CleanProductKey::~CleanProductKey() { ::SHDeleteKeyW(HKEY_CURRENT_USER, kProductKey); }

void WriteScreenBitmap(const std::wstring& folder, const char* name, const RECT* rect) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    dvtool::WriteScreenBitmap(folder + L"\\" + std::wstring(name, name + std::strlen(name)) + L".bmp", rect);
}

HWND FindForeignWindow(const std::wstring& title) {
    struct Search { const std::wstring* title; HWND found; } search{&title, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD processId = 0;
            ::GetWindowThreadProcessId(window, &processId);
            if (processId == ::GetCurrentProcessId() || dv::WindowText(window) != *s->title) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

ShellWindowCloser::~ShellWindowCloser() {
    WaitFor([&] {
        HWND window = FindForeignWindow(title_);
        if (window) ::PostMessageW(window, WM_CLOSE, 0, 0);
        return window == nullptr;
    });
}

} // namespace dvtest
