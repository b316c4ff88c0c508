#include "icon_lookup.h"
#include "common/handles.h"
#include "common/trace.h"
#include "ui/images.h"
#include <objbase.h>
#include <shellapi.h>
#include <cwctype>
#include <deque>
#include <utility>
#include <vector>

namespace dv::manager {

namespace {

bool IsSlash(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

// Past the component that starts at `from` and the separators after it.
size_t SkipComponent(const std::wstring& path, size_t from) noexcept {
    while (from < path.size() && !IsSlash(path[from])) ++from;
    while (from < path.size() && IsSlash(path[from])) ++from;
    return from;
}

// A drive-letter folder that is not the drive's root: "C:\x".
bool IsBelowDriveRoot(const std::wstring& address) noexcept {
    return address.size() > 3 && std::iswalpha(address[0]) && address[1] == L':' && IsSlash(address[2]) &&
           address.find_first_not_of(L"\\/", 3) != std::wstring::npos;
}

int LookUpIcon(const std::wstring& address, int genericFolder) {
    // A folder on a mapped network drive is a folder below a share too.
    if (IsBelowDriveRoot(address)) {
        const wchar_t root[] = {address[0], L':', L'\\', 0};
        if (::GetDriveTypeW(root) == DRIVE_REMOTE) return genericFolder;
    }
    return ui::GetShellIconIndex(address.c_str());
}

} // namespace

bool IconNeedsShell(const std::wstring& address) {
    if (address.size() < 2 || !IsSlash(address[0]) || !IsSlash(address[1])) return true;
    size_t at = 2;
    // \\?\UNC\server\share\folder names the same folder as \\server\share\folder.
    if (address.compare(2, 6, L"?\\UNC\\") == 0) at = 8;
    else if (address.size() > 2 && (address[2] == L'?' || address[2] == L'.')) return true;
    while (at < address.size() && IsSlash(address[at])) ++at;
    at = SkipComponent(address, at);  // server
    at = SkipComponent(address, at);  // share
    return at >= address.size();      // the share itself has an icon of its own
}

struct IconLookup::Shared {
    SRWLOCK lock = SRWLOCK_INIT;
    HWND window = nullptr;  // null once the window is going
    UINT message = 0;
    bool posted = false;
    bool workerRunning = false;
    int genericFolder = 0;
    std::deque<std::wstring> queue;
    std::vector<std::pair<std::wstring, int>> results;
};

IconLookup::IconLookup() : shared_(std::make_shared<Shared>()) {
    SHFILEINFOW info = {};
    systemImages_ = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoW(
        L"folder", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof(info), SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (systemImages_)
        genericFolder_ = info.iIcon;
    else
        DV_TRACE(L"no generic folder icon");
    shared_->genericFolder = genericFolder_;
}

void IconLookup::Start(HWND window, UINT message) noexcept {
    srw_exclusive lock(shared_->lock);
    shared_->window = window;
    shared_->message = message;
}

void IconLookup::Stop() noexcept {
    if (!shared_) return;
    srw_exclusive lock(shared_->lock);
    shared_->window = nullptr;
    shared_->queue.clear();
}

int IconLookup::IconFor(const std::wstring& address) {
    auto found = known_.find(address);
    if (found != known_.end()) return found->second;
    if (!IconNeedsShell(address) || !asked_.insert(address).second) return genericFolder_;
    {
        srw_exclusive lock(shared_->lock);
        if (!shared_->window) return genericFolder_;
        shared_->queue.push_back(address);
        if (shared_->workerRunning) return genericFolder_;
        shared_->workerRunning = true;
    }
    StartWorker();
    return genericFolder_;
}

void IconLookup::StartWorker() {
    // The worker holds the module and its own share of the state: neither the window's closing nor
    // the host's unload waits for it, and it ends with its current lookup.
    HMODULE self = nullptr;
    auto* share = new (std::nothrow) std::shared_ptr<Shared>(shared_);
    if (share && ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                      reinterpret_cast<LPCWSTR>(&IconLookup::WorkerMain), &self)) {
        unique_handle thread(::CreateThread(nullptr, 0, &IconLookup::WorkerMain, share, 0, nullptr));
        if (thread) return;
        DV_TRACE_WIN32(::GetLastError(), L"CreateThread icon lookup");
        ::FreeLibrary(self);
    }
    delete share;
    // Without a worker the queued addresses keep the generic icon; a later ask may try again.
    srw_exclusive lock(shared_->lock);
    shared_->workerRunning = false;
    for (const auto& address : shared_->queue) asked_.erase(address);
    shared_->queue.clear();
}

DWORD WINAPI IconLookup::WorkerMain(void* parameter) noexcept {
    auto* share = static_cast<std::shared_ptr<Shared>*>(parameter);
    Shared& shared = **share;
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    try {
        for (;;) {
            std::wstring address;
            {
                srw_exclusive lock(shared.lock);
                if (!shared.window || shared.queue.empty()) {
                    shared.workerRunning = false;
                    break;
                }
                address = std::move(shared.queue.front());
                shared.queue.pop_front();
            }
            const int icon = LookUpIcon(address, shared.genericFolder);
            srw_exclusive lock(shared.lock);
            if (!shared.window) continue;  // ends at the top
            shared.results.emplace_back(std::move(address), icon);
            if (!shared.posted) shared.posted = ::PostMessageW(shared.window, shared.message, 0, 0) != FALSE;
        }
    } catch (...) {
        DV_TRACE_EXCEPTION();
        srw_exclusive lock(shared.lock);
        shared.workerRunning = false;
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    delete share;
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&IconLookup::WorkerMain), &self);
    ::FreeLibraryAndExitThread(self, 0);
}

bool IconLookup::TakeResults() {
    std::vector<std::pair<std::wstring, int>> results;
    {
        srw_exclusive lock(shared_->lock);
        results.swap(shared_->results);
        shared_->posted = false;
    }
    for (auto& result : results) known_[std::move(result.first)] = result.second;
    return !results.empty();
}

} // namespace dv::manager
