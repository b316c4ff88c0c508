// The update check: asks the update server for the newest version, compares it with the DLL's own
// file version, stores the outcome in the registry and, for the update dialog, downloads and starts
// the installer.
//
// Use from the context-menu handler (no owner window, nothing is waited for):
//
//     updater_ = dv::updater::CUpdater::Create(nullptr, IDS_PRODUCT_NAME, dv::store::kProductKeyPath);
//     if (updater_) updater_->StartCheck();              // in construction; returns at once
//     ... updater_->IsUpdateAvailable() ...             // in QueryContextMenu: the last completed check
//     updater_.reset();                                 // in destruction; returns at once
//
// Destroying a CUpdater never waits for the network: it cancels the worker, which finishes on its own
// (its transfer is aborted at the next piece of data, or fails once the server has been silent for
// kReceiveTimeoutMs), keeps the state it uses alive and holds a module lock until it ends, so
// DllCanUnloadNow says S_FALSE meanwhile. A check that completes after the owner let go still
// stores its outcome.
//
// The installer is started only when the reply named it with a "SHA256" that the download
// matches, from an address IsAllowedDownloadUrl accepts and, in a build with pinned signers
// (DIRVANE_UPDATE_SIGNERS), when it carries a valid Authenticode signature by one of them.
#pragma once
#include "common/com.h"
#include "common/handles.h"
#include "common/text.h"
#include <urlmon.h>
#include <atomic>
#include <memory>

namespace dv::updater {

// Sent (progress: wParam = percentage 0..100, lParam = 1) and posted (completion: wParam = 100,
// lParam = 0) to the owner window.
constexpr UINT kUpdaterNotifyMessage = WM_USER + 1;
constexpr LPARAM kUpdaterProgress = 1;
constexpr LPARAM kUpdaterCompletion = 0;

// What the worker does when it starts, and what it has done.
enum class UpdaterPhase : LONG {
    CheckPending = 0,  // a check is to run
    Checked = 1,       // a check has run (set as it begins); the next start downloads
    Downloading = 2,   // the installer download has begun
};

// Why a newer version is shown without a Download button.
enum class UpdaterOfferProblem : LONG {
    Downloadable = 0,   // the reply names a verifiable installer at an allowed address
    WithoutHash = 1,    // no well-formed "SHA256"
    UnsafeAddress = 2,  // "DL" breaks the address rule (IsAllowedDownloadUrl)
};

// Why a downloaded installer was deleted instead of started.
enum class UpdaterRefusal : LONG {
    None = 0,
    HashMismatch = 1,  // its SHA-256 is not the reply's
    Signer = 2,        // not signed, or not validly, by a pinned signer
};

// Cancel waits this long for the worker, then lets it end by itself.
constexpr DWORD kCancelWaitMs = 600;

// Test-only: the command-line parameters the update dialog gives the installer it starts. The
// product never sets it, so the user sees the installer's own wizard.
namespace testing {
extern const wchar_t* installerParameters;
// Test-only: pinned signers in place of the build's DIRVANE_UPDATE_SIGNERS when not null.
extern const wchar_t* pinnedSigners;
// Test-only: ends the pause after a failed background check.
void ForgetFailedBackgroundCheck() noexcept;
}

// The update server's base address configured at build time (DIRVANE_UPDATE_SERVER).
const wchar_t* DefaultUpdateServer() noexcept;
// Where users get a new version that cannot be downloaded here (DIRVANE_HOMEPAGE_URL).
const wchar_t* UpdateHomepage() noexcept;

// The request address: the server's root (scheme and authority of base; a trailing slash or a path
// in it does not matter) followed by "/cgi-bin/update.pl?key=<key>", the key inserted unchanged.
std::wstring BuildUpdateRequestUrl(const wchar_t* base, const wchar_t* key);

// A version of up to four dotted decimal components; missing components are 0, a component too
// large for 32 bits saturates.
struct ModuleVersion {
    DWORD part[4] = {};
};
ModuleVersion ParseVersion(const wchar_t* text) noexcept;
// Component by component, first to last, as unsigned numbers.
bool IsNewerVersion(const wchar_t* offered, const wchar_t* current) noexcept;

// The installer name proposed by the server reduced to its last path element; empty when that is
// not a plain file name (empty, "." or "..", a drive, a reserved device name, forbidden characters).
void ReduceToBareFileName(wchar_t (&name)[kMaxText]) noexcept;

struct UpdaterState;

// Progress and cancellation hook of the transfers. Owned by the updater's state (as
// OwnedBindStatusCallback), never deleted by Release.
class CUpdaterBindStatusCallback : public IBindStatusCallback {
public:
    explicit CUpdaterBindStatusCallback(UpdaterState* owner) noexcept : owner_(owner) {}
    virtual ~CUpdaterBindStatusCallback() = default;
    CUpdaterBindStatusCallback(const CUpdaterBindStatusCallback&) = delete;
    CUpdaterBindStatusCallback& operator=(const CUpdaterBindStatusCallback&) = delete;

    static const QITAB* InterfaceTable() noexcept;
    STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
    STDMETHODIMP GetPriority(LONG* priority) override;
    STDMETHODIMP OnLowResource(DWORD reserved) override;
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override;
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
    STDMETHODIMP GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP OnObjectAvailable(REFIID iid, IUnknown* object) override;

    // Next transfer reports from its start.
    void ResetProgress() noexcept {
        lastPercent_ = -1;
        incomplete_ = false;
    }
    // The transfer ended short of the size the server announced (a connection broken off mid-way,
    // which the platform may report as success).
    bool TransferIncomplete() const noexcept { return incomplete_; }

private:
    LONG lastPercent_ = -1;
    bool incomplete_ = false;
    UpdaterState* owner_;
};

using OwnedBindStatusCallback = RefCountedUnknown<CUpdaterBindStatusCallback, false>;

// Everything the worker uses; shared between the CUpdater and its worker so that either may end first.
struct UpdaterState {
    UpdaterState(HWND ownerWindow, UINT keyId, const wchar_t* registryKeyPath, const wchar_t* serverBase);
    ~UpdaterState();
    UpdaterState(const UpdaterState&) = delete;
    UpdaterState& operator=(const UpdaterState&) = delete;

    // Sends or posts to the owner window, if there still is one.
    void Notify(bool send, WPARAM percent, LPARAM kind) const noexcept;
    bool CancelRequested() const noexcept { return ::WaitForSingleObject(cancelEvent.get(), 0) == WAIT_OBJECT_0; }

    std::atomic<HWND> owner;
    unique_handle cancelEvent;  // manual reset, never reset once signalled
    std::atomic<UpdaterPhase> phase{UpdaterPhase::CheckPending};
    std::atomic<bool> error{false}, available{false}, cancelled{false}, busy{false};
    wchar_t key[kMaxText] = {};
    wchar_t currentVersion[kMaxText] = {};
    wchar_t description[kMaxText] = {};
    wchar_t newVersion[kMaxText] = {};
    wchar_t downloadUrl[kMaxText] = {};
    wchar_t installerFile[kMaxText] = {};  // the proposed name, later the full path chosen for the download
    unsigned char installerSha256[32] = {};
    std::atomic<UpdaterOfferProblem> offerProblem{UpdaterOfferProblem::Downloadable};
    std::atomic<UpdaterRefusal> refusal{UpdaterRefusal::None};
    UINT keyStringId;
    wchar_t registryKey[kMaxText] = {};
    wchar_t server[kMaxText] = {};
    std::atomic<bool> workerRunning{false};
    std::atomic<bool> holdsBackgroundSlot{false};  // this worker is the process's background check
    OwnedBindStatusCallback callback;
};

class CUpdater {
public:
    // owner may be null (no notifications). serverBase defaults to the build's update server.
    CUpdater(HWND owner, UINT keyStringId, const wchar_t* registryKey,
             const wchar_t* serverBase = DefaultUpdateServer());
    // The same, null when memory is short: never throws, for callers that must not.
    static std::unique_ptr<CUpdater> Create(HWND owner, UINT keyStringId, const wchar_t* registryKey,
                                            const wchar_t* serverBase = DefaultUpdateServer()) noexcept;
    // Cancels a running worker and returns at once; see the top of this file.
    virtual ~CUpdater();
    CUpdater(const CUpdater&) = delete;
    CUpdater& operator=(const CUpdater&) = delete;

    // Prepares a check and starts the worker; returns at once. Ignored while a worker runs.
    void StartCheck() noexcept;
    // The handler's quiet check: starts a check only when none completed today (UTC, by
    // "UpdateLastCheck") and no other background check of this process is running. True when
    // it started one.
    bool StartBackgroundCheck() noexcept;
    // A background check of this process is running (its worker has not ended yet).
    static bool BackgroundCheckRunning() noexcept;
    // No background check is running and none ended without a result (failed or cancelled) within
    // the last hour: such a check stores no date.
    static bool BackgroundCheckMayStart() noexcept;
    // The last completed check found a newer version ("UpdateAvail" in the registry, never the
    // object's own flags).
    bool IsUpdateAvailable() const noexcept;
    // Asks the worker to stop and waits until it has ended, for at most maxWaitMs; true when it
    // has. Messages of this thread keep being dispatched meanwhile, so the worker's sent
    // notifications cannot deadlock with the wait. A worker still in a stalled transfer ends by
    // itself later (see the top of this file).
    bool CancelAndWait(DWORD maxWaitMs = kCancelWaitMs) noexcept;
    // Asks the worker to stop without waiting.
    void Cancel() noexcept;
    // Stops notifications to the owner window (before the window goes away).
    void DetachOwner() noexcept { state_->owner = nullptr; }

    // After a check that found an update: downloads the installer to path, verifies it and opens it.
    // False when no check has run, a worker runs or the offer has no verifiable download.
    bool StartDownload(const wchar_t* path) noexcept;

    // The state, for the owner, once a notification said the step that wrote it is over.
    UpdaterPhase Phase() const noexcept { return state_->phase; }
    bool IsError() const noexcept { return state_->error; }
    bool IsAvailable() const noexcept { return state_->available; }
    bool IsCancelled() const noexcept { return state_->cancelled; }
    bool IsBusy() const noexcept { return state_->busy; }
    bool IsWorkerRunning() const noexcept { return state_->workerRunning; }
    const wchar_t* Key() const noexcept { return state_->key; }
    const wchar_t* CurrentVersion() const noexcept { return state_->currentVersion; }
    const wchar_t* Description() const noexcept { return state_->description; }
    const wchar_t* NewVersion() const noexcept { return state_->newVersion; }
    const wchar_t* DownloadUrl() const noexcept { return state_->downloadUrl; }
    const wchar_t* InstallerFile() const noexcept { return state_->installerFile; }
    UpdaterOfferProblem OfferProblem() const noexcept { return state_->offerProblem; }
    UpdaterRefusal Refusal() const noexcept { return state_->refusal; }
    const wchar_t* RegistryKey() const noexcept { return state_->registryKey; }
    std::wstring RequestUrl() const { return BuildUpdateRequestUrl(state_->server, state_->key); }
    CUpdaterBindStatusCallback* Callback() const noexcept { return &state_->callback; }

private:
    bool StartWorker() noexcept;

    std::shared_ptr<UpdaterState> state_;
    unique_handle worker_;
};

} // namespace dv::updater
