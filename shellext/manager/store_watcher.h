// Tells the manager window that the bookmark store changed, whoever changed it: the menu in
// Explorer, another manager, or this one. A thread of its own waits on the registry's change
// notification, so the window's thread never waits and nothing polls.
#pragma once
#include "common/handles.h"
#include <windows.h>
#include <string>

namespace dv::manager {

class StoreWatcher {
public:
    StoreWatcher() = default;
    ~StoreWatcher() { Stop(); }
    StoreWatcher(const StoreWatcher&) = delete;
    StoreWatcher& operator=(const StoreWatcher&) = delete;

    // Watches HKCU\keyPath with everything below it (while the key does not exist, its nearest
    // existing ancestor) and posts message to window after each change (a burst of writes a little
    // later, as one). No further message is posted until the window calls Acknowledge. False when
    // the watch could not start.
    bool Start(HWND window, UINT message, const wchar_t* keyPath) noexcept;
    // Ends the watch and waits for its thread; call before the window goes.
    void Stop() noexcept;
    // The window has taken the message and is about to read the store: the next change posts again.
    void Acknowledge() noexcept { ::InterlockedExchange(&posted_, 0); }

private:
    static DWORD WINAPI ThreadMain(void* self) noexcept;
    void Watch() noexcept;

    HWND window_ = nullptr;
    UINT message_ = 0;
    std::wstring keyPath_;
    unique_handle stop_;
    unique_handle thread_;
    volatile LONG posted_ = 0;
};

} // namespace dv::manager
