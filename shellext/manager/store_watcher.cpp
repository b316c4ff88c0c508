#include "store_watcher.h"
#include "common/trace.h"
#include "common/registry.h"

namespace dv::manager {

namespace {

// Writes that come in a burst (another process adding many items) are taken in together.
constexpr DWORD kSettleMilliseconds = 60;

// The key itself, or while it is missing its nearest existing ancestor (creating it later changes
// that ancestor's subtree, which ends the wait).
unique_hkey OpenNearestKey(std::wstring path) {
    for (;;) {
        unique_hkey key = OpenRegKey(HKEY_CURRENT_USER, path.c_str(), KEY_NOTIFY);
        if (key) return key;
        const size_t cut = path.rfind(L'\\');
        if (cut == std::wstring::npos) return unique_hkey();
        path.resize(cut);
    }
}

} // namespace

bool StoreWatcher::Start(HWND window, UINT message, const wchar_t* keyPath) noexcept {
    Stop();
    try {
        keyPath_ = keyPath;
    } catch (...) {
        DV_TRACE_EXCEPTION();
        return false;
    }
    window_ = window;
    message_ = message;
    posted_ = 0;
    stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_) return false;
    thread_.reset(::CreateThread(nullptr, 0, &StoreWatcher::ThreadMain, this, 0, nullptr));
    if (!thread_) {
        DV_TRACE(L"the manager cannot watch the bookmark store (no thread)");
        stop_.reset();
        return false;
    }
    return true;
}

void StoreWatcher::Stop() noexcept {
    if (!thread_) return;
    ::SetEvent(stop_.get());
    ::WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    stop_.reset();
}

DWORD WINAPI StoreWatcher::ThreadMain(void* self) noexcept {
    static_cast<StoreWatcher*>(self)->Watch();
    return 0;
}

void StoreWatcher::Watch() noexcept {
    unique_handle changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!changed) return;
    bool changeSeen = false;
    for (;;) {
        // The key is opened again for every round: it may have been deleted or made meanwhile.
        unique_hkey key = OpenNearestKey(keyPath_);
        LONG rc = key ? ::RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                                  changed.get(), TRUE)
                      : ERROR_FILE_NOT_FOUND;
        if (rc != ERROR_SUCCESS) {
            DV_TRACE(L"the manager cannot watch the bookmark store (no notification)");
            return;
        }
        // Armed before the window is told, so that no change after its reload goes unnoticed.
        if (changeSeen && ::InterlockedExchange(&posted_, 1) == 0 && !::PostMessageW(window_, message_, 0, 0))
            ::InterlockedExchange(&posted_, 0);
        changeSeen = false;

        HANDLE handles[2] = {stop_.get(), changed.get()};
        if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        changeSeen = true;
        if (::WaitForSingleObject(stop_.get(), kSettleMilliseconds) != WAIT_TIMEOUT) return;
    }
}

} // namespace dv::manager
