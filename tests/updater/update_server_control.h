// The update server of the test run (tools/update-server, started by the updater_server fixture):
// its address, the scenario it plays and the requests it saw.
#pragma once
#include "common/test_support.h"
#include <windows.h>
#include <string>
#include <vector>

namespace updtest {

// What the server does for the next requests.
struct Scenario {
    std::string reply;              // text of the update reply, verbatim
    int status = 200;               // HTTP status of the update reply
    bool stall = false;             // accept, read the request, never answer...
    bool stallAfterHeaders = false; // ...or answer with headers and then nothing
    double stallSeconds = 2;        // then drop the connection
    std::string installer;          // Unix path of the file served under /download/<its name>
    int downloadStatus = 200;
    int chunk = 0;                  // send the installer in chunks of this many bytes...
    double delay = 0;               // ...with this many seconds between them
    bool partial = false;           // break the installer off halfway
    bool noLength = false;          // announce no length: the body ends with the connection
};

// The fixture's folder (Unix path), from DIRVANE_BUILD.
std::string ServerFolderUnix();
// "http://127.0.0.1:<port>" of the running server, and of a port where nothing listens.
std::wstring ServerBase();
std::wstring DownServerBase();

// Makes the server play a scenario from the next request on; forgets the requests seen so far.
void UseScenario(const Scenario& scenario);
// Request lines seen since the last UseScenario, e.g. "GET /cgi-bin/update.pl?key=Dirvane".
std::vector<std::string> Requests();

// An INI reply with the section "Info"; a null value leaves the key out. The server replaces
// kServedSha256 with the SHA-256 of the installer it serves.
constexpr const char* kServedSha256 = "{installer_sha256}";
std::string Reply(const char* ver, const char* dsc, const char* dl, const char* fn, const char* sha256 = nullptr);

// Files %TEMP%\upd*.tmp (the check's temporary reply files).
int CountTempReplyFiles();

// The stored update state under HKCU\Software\Ostrelan\Dirvane; false when absent or of another type.
bool StoredUpdateAvail(DWORD& value);
bool StoredLastCheck(std::wstring& value);
void StoreUpdateState(DWORD avail, const wchar_t* lastCheck);
// Today's date in UTC as "%04d%02d%02d".
std::wstring TodayUtc();

// A message-only window that records the updater's notifications (wParam, lParam).
class NotificationRecorder {
public:
    NotificationRecorder();
    ~NotificationRecorder();
    HWND window() const { return window_; }
    const std::vector<std::pair<WPARAM, LPARAM>>& notifications() const { return notifications_; }
    std::vector<int> ProgressPercents() const;
    bool Completed() const;
    void Clear() { notifications_.clear(); }

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND window_ = nullptr;
    std::vector<std::pair<WPARAM, LPARAM>> notifications_;
};

// The signing fixture's files (make_signed.sh) under <build>/updater-signed.
std::wstring SignedFile(const char* name);
std::string SignedFileUnix(const char* name);
// The SHA-256 thumbprint of a test certificate: "publisher", "other" or "stranger".
std::wstring Thumbprint(const char* who);

// The fixture's test root in the current user's root store while the object lives.
class TrustedTestRoot {
public:
    TrustedTestRoot();
    ~TrustedTestRoot();
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;
    bool ok() const { return added_ != nullptr; }

private:
    void* store_ = nullptr;
    const void* added_ = nullptr;
};

// Driving the update dialog's Save dialog: its file-name field (the edit inside combo box 0x47C,
// or edit 0x480 of older dialogs), and a button click posted as a user's would arrive.
HWND SaveDialogNameField(HWND save);
void Click(HWND dialog, int id);

} // namespace updtest
