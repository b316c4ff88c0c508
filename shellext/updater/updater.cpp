#include "updater.h"
#include "update_server.h"
#include "common/com.h"
#include "common/system.h"
#include "res/resource.h"
#include "store/settings.h"
#include <shellapi.h>
#include <wininet.h>
#include <cwchar>

namespace dv {

namespace updater_testing {
const wchar_t* installerParameters = nullptr;
}

const wchar_t* DefaultUpdateServer() noexcept { return kBuildUpdateServer; }

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

STDMETHODIMP CUpdaterBindStatusCallback::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IBindStatusCallback) {
        *out = static_cast<IBindStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUpdaterBindStatusCallback::AddRef() { return static_cast<ULONG>(++refCount_); }

STDMETHODIMP_(ULONG) CUpdaterBindStatusCallback::Release() {
    LONG count = --refCount_;
    if (count < 0) {
        refCount_ = 0;
        count = 0;
    }
    return static_cast<ULONG>(count);  // the updater's state owns the object
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
    if (send) ::SendMessageW(window, WM_UPDATER_NOTIFY, percent, kind);
    else ::PostMessageW(window, WM_UPDATER_NOTIFY, percent, kind);
}

namespace {

void ReadInfo(const wchar_t* file, const wchar_t* name, wchar_t (&value)[kMaxText]) noexcept {
    ::GetPrivateProfileStringW(L"Info", name, L"", value, kMaxText, file);
}

HRESULT Download(UpdaterState& state, const wchar_t* url, const wchar_t* file) noexcept {
    if (state.CancelRequested()) return E_ABORT;  // no connection for a check nobody waits for
    ::DeleteUrlCacheEntryW(url);  // the answer must come from the server, never from the cache
    state.callback.ResetProgress();
    HRESULT hr = ::URLDownloadToFileW(nullptr, url, file, 0, &state.callback);
    if (SUCCEEDED(hr) && state.callback.TransferIncomplete()) hr = INET_E_DOWNLOAD_FAILURE;
    return hr;
}

void RunCheck(UpdaterState& state) {
    state.phase = UpdaterPhaseChecked;
    const std::wstring url = BuildUpdateRequestUrl(state.server, state.key);
    wchar_t version[kMaxText] = {}, description[kMaxText] = {}, download[kMaxText] = {}, fileName[kMaxText] = {};
    bool available = false;

    wchar_t tempFolder[MAX_PATH + 1];
    wchar_t tempFile[MAX_PATH];
    DWORD length = ::GetTempPathW(ARRAYSIZE(tempFolder), tempFolder);
    if (length > 0 && length < ARRAYSIZE(tempFolder) && ::GetTempFileNameW(tempFolder, L"upd", 0, tempFile)) {
        if (SUCCEEDED(Download(state, url.c_str(), tempFile))) {
            ReadInfo(tempFile, L"Ver", version);
            ReadInfo(tempFile, L"Dsc", description);
            ReadInfo(tempFile, L"DL", download);
            ReadInfo(tempFile, L"FN", fileName);
            if (version[0]) {
                ReduceToBareFileName(fileName);
                available = IsNewerVersion(version, state.currentVersion);
            }
        }
        ::DeleteFileW(tempFile);
    }

    CopyText(state.newVersion, kMaxText, version);
    CopyText(state.downloadUrl, kMaxText, download);
    CopyText(state.installerFile, kMaxText, fileName);
    const bool error = !version[0] || !download[0];
    if (error && !description[0]) CopyText(description, kMaxText, LoadResString(IDS_UPD_UNKNOWN_FORMAT).c_str());
    CopyText(state.description, kMaxText, description);
    state.available = available;
    state.error = error;
    state.busy = false;
    if (!error) WriteUpdateState(available, state.registryKey);
}

// Downloads beside the chosen file and moves it into place only when complete, so a failed
// download neither leaves a partial installer nor destroys a file the user chose to replace.
void RunDownload(UpdaterState& state) {
    state.phase = UpdaterPhaseDownloading;
    const wchar_t* target = state.installerFile;
    wchar_t folder[kMaxText];
    CopyText(folder, kMaxText, target);
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash) slash[1] = 0;
    wchar_t partial[MAX_PATH];
    bool beside = slash && ::GetTempFileNameW(folder, L"upd", 0, partial);
    const wchar_t* file = beside ? partial : target;

    bool done = SUCCEEDED(Download(state, state.downloadUrl, file));
    if (done && beside) done = ::MoveFileExW(partial, target, MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!done) {
        ::DeleteFileW(file);
    } else if (!state.CancelRequested()) {
        ::ShellExecuteW(nullptr, L"open", target, updater_testing::installerParameters, nullptr, SW_SHOW);
    }
    state.busy = false;
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
            const LONG phase = state.phase;
            try {
                if (phase == UpdaterPhaseCheckPending) RunCheck(state);
                else if (phase == UpdaterPhaseChecked) RunDownload(state);
            } catch (...) {  // out of memory: an error, never an exception in the host
                state.error = true;
                state.busy = false;
            }
            state.Notify(false, 100, kUpdaterCompletion);
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
    s.phase = UpdaterPhaseCheckPending;
    try {
        CopyText(s.currentVersion, kMaxText, GetModuleVersionString(ResourceInstance()).c_str());
    } catch (...) {
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
    s.busy = true;
    s.error = false;
    s.available = false;
    s.cancelled = false;
    if (!StartWorker()) s.busy = false;
}

bool CUpdater::StartDownload(const wchar_t* path) noexcept {
    UpdaterState& s = *state_;
    if (s.workerRunning || s.phase != UpdaterPhaseChecked || !s.downloadUrl[0] || !path || !path[0]) return false;
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

void CUpdater::CancelAndWait() noexcept {
    Cancel();
    if (!worker_) return;
    HANDLE thread = worker_.get();
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        DWORD wait = ::MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (wait != WAIT_OBJECT_0 + 1) break;  // ended, or the wait itself failed
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
    }
    worker_.reset();
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}

} // namespace dv
