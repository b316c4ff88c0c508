#include "updater.h"
#include "common/trace.h"
#include "transfer.h"
#include "trust.h"
#include "update_reply.h"
#include "update_server.h"
#include "common/com.h"
#include "common/system.h"
#include "res/resource.h"
#include "store/settings.h"
#include <shellapi.h>
#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace dv::updater {

using dv::store::ReadUpdateAvailable;
using dv::store::WasUpdateCheckedToday;
using dv::store::WriteUpdateState;

namespace testing {
const wchar_t* installerParameters = nullptr;
const wchar_t* pinnedSigners = nullptr;
}

const wchar_t* DefaultUpdateServer() noexcept { return kBuildUpdateServer; }
const wchar_t* UpdateHomepage() noexcept { return kBuildHomepage; }

std::wstring BuildUpdateRequestUrl(const wchar_t* base, const wchar_t* key) {
    std::wstring root = base ? base : L"";
    size_t authority = root.find(L"://");
    authority = authority == std::wstring::npos ? 0 : authority + 3;
    size_t end = root.find_first_of(L"/?#", authority);
    if (end != std::wstring::npos) root.resize(end);
    return root + L"/cgi-bin/update.pl?key=" + (key ? key : L"");
}

ModuleVersion ParseVersion(const wchar_t* text) noexcept {
    ModuleVersion version;
    const wchar_t* p = text ? text : L"";
    while (*p == L' ' || *p == L'\t') ++p;
    for (int i = 0; i < 4; ++i) {
        if (*p < L'0' || *p > L'9') break;
        unsigned long long value = 0;
        for (; *p >= L'0' && *p <= L'9'; ++p) {
            value = value * 10 + static_cast<unsigned>(*p - L'0');
            if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
        }
        version.part[i] = static_cast<DWORD>(value);
        if (*p != L'.') break;
        ++p;
    }
    return version;
}

bool IsNewerVersion(const wchar_t* offered, const wchar_t* current) noexcept {
    ModuleVersion a = ParseVersion(offered), b = ParseVersion(current);
    for (int i = 0; i < 4; ++i) {
        if (a.part[i] != b.part[i]) return a.part[i] > b.part[i];
    }
    return false;
}

namespace {

bool IsReservedDeviceName(const wchar_t* name) noexcept {
    size_t stem = wcscspn(name, L".");
    while (stem > 0 && name[stem - 1] == L' ') --stem;
    static const wchar_t* const devices[] = {L"con", L"prn", L"aux", L"nul"};
    for (const wchar_t* device : devices) {
        if (stem == 3 && CompareFoldAZ(name, device, 3) == 0) return true;
    }
    if (stem == 4 && (CompareFoldAZ(name, L"com", 3) == 0 || CompareFoldAZ(name, L"lpt", 3) == 0) &&
        name[3] >= L'1' && name[3] <= L'9')
        return true;
    return false;
}

} // namespace

void ReduceToBareFileName(wchar_t (&name)[kMaxText]) noexcept {
    name[kMaxText - 1] = 0;
    const wchar_t* last = name;
    for (const wchar_t* p = name; *p; ++p) {
        if (*p == L'\\' || *p == L'/') last = p + 1;
    }
    if (last != name) memmove(name, last, (wcslen(last) + 1) * sizeof(wchar_t));
    bool onlyDotsAndSpaces = true;
    for (const wchar_t* p = name; *p; ++p) {
        if (*p < 32 || wcschr(L"<>:\"|?*", *p)) {
            name[0] = 0;
            return;
        }
        if (*p != L'.' && *p != L' ') onlyDotsAndSpaces = false;
    }
    if (onlyDotsAndSpaces || IsReservedDeviceName(name)) name[0] = 0;
}

// ---- CUpdaterBindStatusCallback ----

const QITAB* CUpdaterBindStatusCallback::InterfaceTable() noexcept {
    static const QITAB table[] = {QITABENT(CUpdaterBindStatusCallback, IBindStatusCallback), {nullptr, 0}};
    return table;
}

STDMETHODIMP CUpdaterBindStatusCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }
STDMETHODIMP CUpdaterBindStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP CUpdaterBindStatusCallback::OnLowResource(DWORD) { return E_NOTIMPL; }
STDMETHODIMP CUpdaterBindStatusCallback::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
STDMETHODIMP CUpdaterBindStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
STDMETHODIMP CUpdaterBindStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

STDMETHODIMP CUpdaterBindStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
    if (owner_->CancelRequested()) return E_ABORT;
    LONG percent;
    if (statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
        percent = 100;
    } else if (progressMax == 0) {
        percent = 0;
    } else {
        // 64 bits hold any 32-bit size times 100; a size beyond the announced one stays at 100.
        unsigned long long scaled = static_cast<unsigned long long>(progress) * 100 / progressMax;
        percent = static_cast<LONG>(scaled > 100 ? 100 : scaled);
    }
    if (percent != lastPercent_ && owner_->owner.load()) {
        lastPercent_ = percent;
        owner_->Notify(true, static_cast<WPARAM>(percent), kUpdaterProgress);
    }
    if (statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
        lastPercent_ = -1;
        incomplete_ = progressMax != 0 && progress < progressMax;
    }
    return S_OK;
}

STDMETHODIMP CUpdaterBindStatusCallback::GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) {
    if (!bindFlags || !bindInfo) return E_POINTER;
    if (bindInfo->cbSize < 128) return E_INVALIDARG;
    if (bindInfo->dwBindVerb == BINDVERB_GET || bindInfo->dwBindVerb == BINDVERB_POST) return E_NOTIMPL;
    return E_UNEXPECTED;
}

// ---- UpdaterState and the worker ----

UpdaterState::UpdaterState(HWND ownerWindow, UINT keyId, const wchar_t* registryKeyPath, const wchar_t* serverBase)
    : owner(ownerWindow),
      cancelEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      keyStringId(keyId),
      callback(this) {
    CopyText(registryKey, kMaxText, registryKeyPath ? registryKeyPath : L"");
    CopyText(server, kMaxText, serverBase ? serverBase : L"");
}

UpdaterState::~UpdaterState() = default;

void UpdaterState::Notify(bool send, WPARAM percent, LPARAM kind) const noexcept {
    HWND window = owner.load();
    if (!window) return;
    if (send) ::SendMessageW(window, kUpdaterNotifyMessage, percent, kind);
    else ::PostMessageW(window, kUpdaterNotifyMessage, percent, kind);
}

namespace {

// A reply is a few lines; anything much larger is not one.
constexpr unsigned long long kMaxReplyBytes = 64 * 1024;
// However slowly a server trickles its reply, the check ends after this long.
constexpr DWORD kCheckDeadlineMs = 30000;
// Installers are far smaller; a larger body is refused before it fills the user's disk.
constexpr unsigned long long kMaxInstallerBytes = 512ull * 1024 * 1024;

// A value that is used as a whole: an over-long one counts as missing rather than being cut.
void CopyWhole(wchar_t (&target)[kMaxText], const std::wstring& value) noexcept {
    if (!CopyText(target, kMaxText, value.c_str())) target[0] = 0;
}

HRESULT Download(UpdaterState& state, const wchar_t* url, unsigned long long maxBytes, DWORD deadlineMs,
                 const std::function<bool(const BYTE*, DWORD)>& write) noexcept {
    if (state.CancelRequested()) return E_ABORT;  // no connection for a check nobody waits for
    HRESULT hr = HttpGet(url, state.server, state.callback, maxBytes, deadlineMs, write);
    if (FAILED(hr)) DV_TRACE_HR(hr, url);
    return hr;
}

// Earlier versions downloaded the reply into %TEMP%\upd<hex>.tmp and left it there when their
// host ended mid-check. Removed: files of that exact name holding a reply, and empty ones that
// are over an hour old; any other program's upd*.tmp is left alone.
void RemoveLeftoverReplyFiles() noexcept {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(ARRAYSIZE(folder), folder);
    if (length == 0 || length >= ARRAYSIZE(folder) - 14) return;
    std::wstring pattern = std::wstring(folder) + L"upd*.tmp";
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const ULONGLONG hourAgo = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 36000000000ull;
    do {
        const wchar_t* name = found.cFileName;
        const size_t digits = wcslen(name) - 7;  // "upd" + digits + ".tmp"
        bool ours = wcslen(name) >= 8 && digits <= 4 && CompareFoldAZ(name, L"upd", 3) == 0 && EqualsFoldAZ(name + 3 + digits, L".tmp") &&
                    !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                    found.nFileSizeHigh == 0 && found.nFileSizeLow <= kMaxReplyBytes;
        for (size_t i = 0; ours && i < digits; ++i) ours = iswxdigit(name[3 + i]) != 0;
        if (!ours) continue;
        const std::wstring path = std::wstring(folder) + name;
        bool remove = false;
        if (found.nFileSizeLow == 0) {
            remove = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32 |
                      found.ftLastWriteTime.dwLowDateTime) < hourAgo;
        } else {
            unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            char head[16] = {};
            DWORD read = 0;
            remove = file && ::ReadFile(file.get(), head, sizeof(head) - 1, &read, nullptr) &&
                     _strnicmp(head + (memcmp(head, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0), "[Info]", 6) == 0;
        }
        if (remove) ::DeleteFileW(path.c_str());
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
}

void RunCheck(UpdaterState& state) {
    state.phase = UpdaterPhase::Checked;
    RemoveLeftoverReplyFiles();
    const std::wstring url = BuildUpdateRequestUrl(state.server, state.key);
    std::string body;
    UpdateReply reply;
    HRESULT hr = Download(state, url.c_str(), kMaxReplyBytes, kCheckDeadlineMs, [&](const BYTE* data, DWORD size) {
        body.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    if (SUCCEEDED(hr)) reply = ParseUpdateReply(DecodeReplyText(body));

    wchar_t version[kMaxText] = {}, description[kMaxText] = {}, download[kMaxText] = {}, fileName[kMaxText] = {};
    CopyWhole(version, reply.version);
    CopyText(description, kMaxText, reply.description.c_str());  // shown only: cut at the strip's limit
    CopyWhole(download, reply.downloadUrl);
    CopyWhole(fileName, reply.fileName);
    bool available = false;
    if (version[0]) {
        ReduceToBareFileName(fileName);
        available = IsNewerVersion(version, state.currentVersion);
    }

    CopyText(state.newVersion, kMaxText, version);
    CopyText(state.downloadUrl, kMaxText, download);
    CopyText(state.installerFile, kMaxText, fileName);
    memcpy(state.installerSha256, reply.sha256, sizeof(state.installerSha256));
    state.offerProblem = !reply.hasSha256                              ? UpdaterOfferProblem::WithoutHash
                         : !IsAllowedDownloadUrl(download, state.server) ? UpdaterOfferProblem::UnsafeAddress
                                                                         : UpdaterOfferProblem::Downloadable;
    const bool error = !version[0] || !download[0];
    if (error && !description[0]) CopyText(description, kMaxText, LoadResString(IDS_UPD_UNKNOWN_FORMAT).c_str());
    CopyText(state.description, kMaxText, description);
    state.available = available;
    state.error = error;
    state.busy = false;
    if (!error) WriteUpdateState(available, state.registryKey);
}

// Checks an open installer against the reply's hash and the pinned signers.
bool IsVerifiedInstaller(UpdaterState& state, const wchar_t* path, HANDLE file) noexcept {
    unsigned char digest[32];
    if (!HashFile(file, digest) || memcmp(digest, state.installerSha256, sizeof(digest)) != 0) {
        state.refusal = UpdaterRefusal::HashMismatch;
        return false;
    }
    const wchar_t* signers = testing::pinnedSigners;
    if (signers ? !IsSignedBy(path, file, signers) : !IsSignedByPinnedSigner(path, file)) {
        state.refusal = UpdaterRefusal::Signer;
        return false;
    }
    return true;
}

bool SameFile(HANDLE a, HANDLE b) noexcept {
    BY_HANDLE_FILE_INFORMATION x = {}, y = {};
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

// Renames the open file; the handle needs DELETE access. Nobody can swap the file meanwhile, as
// nothing else may open it for deleting or writing while the handle lives.
bool RenameOpenFile(HANDLE file, const wchar_t* newPath) noexcept {
    const size_t length = wcslen(newPath);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + (length + 1) * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    wmemcpy(info->FileName, newPath, length + 1);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

// Downloads beside the chosen file and moves it into place only when it is complete and verified,
// so a failed, cancelled or refused download neither leaves a partial installer nor destroys a
// file the user chose to replace. From the check to the start the file stays open in a way that
// lets nobody write, rename or replace it, and what is started is the very file that was checked.
void RunDownload(UpdaterState& state) {
    state.phase = UpdaterPhase::Downloading;
    state.refusal = UpdaterRefusal::None;
    const wchar_t* target = state.installerFile;
    wchar_t folder[kMaxText];
    CopyText(folder, kMaxText, target);
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash) slash[1] = 0;
    wchar_t partial[MAX_PATH];
    if (!slash || !::GetTempFileNameW(folder, L"upd", 0, partial)) {
        // Never download into the chosen file itself: a refusal would then destroy what it held.
        DV_TRACE_HR(HRESULT_FROM_WIN32(::GetLastError()), L"no room for the download beside the chosen file");
        state.error = true;
        state.busy = false;
        return;
    }

    bool done = false;
    {
        unique_hfile out(::CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (out) {
            done = SUCCEEDED(Download(state, state.downloadUrl, kMaxInstallerBytes, 0, [&](const BYTE* data, DWORD size) {
                DWORD written = 0;
                return ::WriteFile(out.get(), data, size, &written, nullptr) && written == size;
            }));
        }
    }
    bool started = false;
    if (done && !state.CancelRequested()) {
        // Checked and renamed through one handle that shares nothing but reading.
        unique_hfile checked(::CreateFileW(partial, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (checked && IsVerifiedInstaller(state, partial, checked.get()) && RenameOpenFile(checked.get(), target)) {
            // The installer reads itself while it runs, so it is started from a handle without
            // DELETE access; the file under the name must be the one just checked, unchanged.
            unique_hfile held(::CreateFileW(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            const bool same = held && SameFile(held.get(), checked.get());
            checked.reset();
            if (same) {
                // Nobody could write to it since its check (no handle shared writing); now hold it
                // sharing reading only, and make sure the name still leads to it.
                unique_hfile locked(::CreateFileW(target, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
                const bool stillSame = locked && SameFile(locked.get(), held.get());
                held.reset();
                if (stillSame && !state.CancelRequested()) {
                    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
                        nullptr, L"open", target, testing::installerParameters, nullptr, SW_SHOW));
                    // Declined elevation lands here too: the user saw that, so it is not an error.
                    if (result <= 32) DV_TRACE(L"installer not started: %ld", static_cast<long>(result));
                    started = true;
                }
            }
            // A cancel that came during the check leaves the checked installer where the user
            // wanted it, not started; a file that is not the checked one is left alone.
            if (!started && !state.CancelRequested()) {
                DV_TRACE_HR(E_ACCESSDENIED, L"installer replaced after its check");
                state.refusal = UpdaterRefusal::HashMismatch;
                state.error = true;
            }
            state.busy = false;
            return;
        }
        if (state.refusal != UpdaterRefusal::None) {
            DV_TRACE_HR(static_cast<HRESULT>(state.refusal.load()), L"installer refused");
            state.error = true;
        }
    }
    if (!::DeleteFileW(partial) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        DV_TRACE_WIN32(::GetLastError(), L"DeleteFileW of the partial download");
    state.busy = false;
}

} // namespace

namespace {

// The process's one background check, among all handler objects.
std::atomic<bool> backgroundCheckRunning{false};
// When the process's last background check ended without a result (no network, a broken reply, or
// its menu closed first, which on a slow or blackholed network is the usual end); 0 when it did not.
// Such a check records no date, so without this pause every right-click would start another check
// and its thread; a working network is asked again an hour later.
std::atomic<ULONGLONG> lastFailedBackgroundCheck{0};
constexpr ULONGLONG kBackgroundRetryAfterFailureMs = 60 * 60 * 1000;

bool BackgroundCheckPausedAfterFailure() noexcept {
    const ULONGLONG failed = lastFailedBackgroundCheck;
    return failed != 0 && ::GetTickCount64() - failed < kBackgroundRetryAfterFailureMs;
}

struct WorkerStart {
    std::shared_ptr<UpdaterState> state;
    HMODULE pin;  // keeps this code mapped until the thread has left it; null in a program
};

DWORD WINAPI WorkerProc(void* param) {
    HMODULE pin;
    {
        std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(param));
        pin = start->pin;
        {
            com_init com;
            UpdaterState& state = *start->state;
            const UpdaterPhase phase = state.phase;
            try {
                if (phase == UpdaterPhase::CheckPending) RunCheck(state);
                else if (phase == UpdaterPhase::Checked) RunDownload(state);
            } catch (...) {  // out of memory: an error, never an exception in the host
                DV_TRACE_EXCEPTION();
                state.error = true;
                state.busy = false;
            }
            state.Notify(false, 100, kUpdaterCompletion);
            if (state.holdsBackgroundSlot.exchange(false)) {
                if (state.error || state.cancelled) {
                    DV_TRACE(L"background update check ended without a result; the next waits an hour");
                    lastFailedBackgroundCheck = std::max<ULONGLONG>(::GetTickCount64(), 1);
                }
                backgroundCheckRunning = false;
            }
            state.workerRunning = false;
        }
        start.reset();  // may be the last owner of the state
        Module().Unlock();
    }
    if (pin) ::FreeLibraryAndExitThread(pin, 0);
    return 0;
}

} // namespace

// ---- CUpdater ----

CUpdater::CUpdater(HWND owner, UINT keyStringId, const wchar_t* registryKey, const wchar_t* serverBase)
    : state_(std::make_shared<UpdaterState>(owner, keyStringId, registryKey, serverBase)) {}

std::unique_ptr<CUpdater> CUpdater::Create(HWND owner, UINT keyStringId, const wchar_t* registryKey,
                                           const wchar_t* serverBase) noexcept {
    try {
        return std::make_unique<CUpdater>(owner, keyStringId, registryKey, serverBase);
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return nullptr;
    }
}

CUpdater::~CUpdater() {
    DetachOwner();
    Cancel();
}

void CUpdater::StartCheck() noexcept {
    UpdaterState& s = *state_;
    if (s.workerRunning) return;
    s.phase = UpdaterPhase::CheckPending;
    try {
        CopyText(s.currentVersion, kMaxText, GetModuleVersionString(ResourceInstance()).c_str());
    } catch (...) {
        DV_TRACE_EXCEPTION();
        s.currentVersion[0] = 0;
    }
    wchar_t key[kMaxText];
    CopyText(key, kMaxText, LoadResString(s.keyStringId).c_str());
    wchar_t* out = key;
    for (const wchar_t* in = key; *in; ++in) {
        if (*in != L'&') *out++ = *in;
    }
    *out = 0;
    CopyText(s.key, kMaxText, key);
    s.description[0] = s.newVersion[0] = s.downloadUrl[0] = s.installerFile[0] = 0;
    s.offerProblem = UpdaterOfferProblem::WithoutHash;
    s.refusal = UpdaterRefusal::None;
    s.busy = true;
    s.error = false;
    s.available = false;
    s.cancelled = false;
    if (!StartWorker()) s.busy = false;
}

bool CUpdater::StartBackgroundCheck() noexcept {
    UpdaterState& s = *state_;
    if (s.workerRunning || !BackgroundCheckMayStart() || WasUpdateCheckedToday(s.registryKey) ||
        backgroundCheckRunning.exchange(true))
        return false;
    s.holdsBackgroundSlot = true;
    StartCheck();
    if (s.workerRunning) return true;
    s.holdsBackgroundSlot = false;
    backgroundCheckRunning = false;
    return false;
}

bool CUpdater::BackgroundCheckRunning() noexcept { return backgroundCheckRunning; }

bool CUpdater::BackgroundCheckMayStart() noexcept {
    return !backgroundCheckRunning && !BackgroundCheckPausedAfterFailure();
}

namespace testing {
void ForgetFailedBackgroundCheck() noexcept { lastFailedBackgroundCheck = 0; }
} // namespace testing

namespace {

// Only a program is ever started: a name without ".exe" would be opened by whatever its type says.
bool IsProgramPath(const wchar_t* path) noexcept {
    const wchar_t* name = path ? path : L"";
    for (const wchar_t* p = name; *p; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
    }
    const size_t length = wcslen(name);
    return length > 4 && CompareFoldAZ(name + length - 4, L".exe", 4) == 0;
}

} // namespace

bool CUpdater::StartDownload(const wchar_t* path) noexcept {
    if (!IsProgramPath(path)) return false;
    UpdaterState& s = *state_;
    if (s.workerRunning || s.phase != UpdaterPhase::Checked || s.busy || s.error || !s.downloadUrl[0] ||
        s.offerProblem != UpdaterOfferProblem::Downloadable || !path || !path[0])
        return false;
    CopyText(s.installerFile, kMaxText, path);
    s.busy = true;
    s.cancelled = false;
    s.error = false;
    if (StartWorker()) return true;
    s.busy = false;
    return false;
}

bool CUpdater::StartWorker() noexcept {
    UpdaterState& s = *state_;
    if (s.workerRunning || !s.cancelEvent) return false;
    auto* start = new (std::nothrow) WorkerStart{state_, nullptr};
    if (!start) return false;
    HMODULE self = nullptr;
    if (ResourceInstance() != ::GetModuleHandleW(nullptr) &&
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerProc), &self))
        start->pin = self;
    Module().Lock();
    s.workerRunning = true;
    HANDLE thread = ::CreateThread(nullptr, 0, WorkerProc, start, 0, nullptr);
    if (!thread) {
        s.workerRunning = false;
        Module().Unlock();
        if (start->pin) ::FreeLibrary(start->pin);
        delete start;
        return false;
    }
    worker_.reset(thread);
    return true;
}

bool CUpdater::IsUpdateAvailable() const noexcept { return ReadUpdateAvailable(state_->registryKey); }

void CUpdater::Cancel() noexcept {
    state_->cancelled = true;
    if (state_->cancelEvent) ::SetEvent(state_->cancelEvent.get());
}

bool CUpdater::CancelAndWait(DWORD maxWaitMs) noexcept {
    Cancel();
    if (!worker_) return true;
    HANDLE thread = worker_.get();
    bool quit = false;
    WPARAM quitCode = 0;
    const ULONGLONG started = ::GetTickCount64();
    bool ended = false;
    for (;;) {
        const ULONGLONG waited = ::GetTickCount64() - started;
        const DWORD left = waited >= maxWaitMs ? 0 : static_cast<DWORD>(maxWaitMs - waited);
        DWORD wait = ::MsgWaitForMultipleObjectsEx(1, &thread, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        ended = wait == WAIT_OBJECT_0;
        if (wait != WAIT_OBJECT_0 + 1) break;  // ended, out of time, or the wait itself failed
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;  // handed back to the outer loop once we are done
                quitCode = msg.wParam;
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (left == 0) break;
    }
    ended = ended || ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    worker_.reset();  // a worker still running ends by itself; it owns what it uses
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return ended;
}

} // namespace dv::updater
