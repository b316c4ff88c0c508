// Icons of the manager's tree without disk or network on the window's thread. A folder below a
// share shows the system's generic folder icon untouched; every other address (a local folder, a
// drive, a namespace or special folder) shows the generic folder icon at first and its own icon as
// soon as a worker thread has asked the shell. The tree asks for icons only of the nodes it draws.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace dv::manager {

// Whether the address's own icon may be asked of the shell at all (on the worker): a folder below
// a share (\\server\share\folder) is a folder, and asking about it may wait on the network.
bool IconNeedsShell(const std::wstring& address);

class IconLookup {
public:
    IconLookup();
    ~IconLookup() { Stop(); }
    IconLookup(const IconLookup&) = delete;
    IconLookup& operator=(const IconLookup&) = delete;

    // Results are announced by posting message to window (once until TakeResults is called).
    void Start(HWND window, UINT message) noexcept;
    // The index in the system's small image list to show now; the first ask of an address that
    // needs the shell queues it for the worker.
    int IconFor(const std::wstring& address);
    // Takes the worker's results in (on the window's thread, on its message): true when some came.
    bool TakeResults();
    // The window is going: nothing more is posted to it and the worker ends after its current
    // lookup, which is never waited for (it keeps the module loaded until it ends).
    void Stop() noexcept;

    // The generic folder icon, made from attributes alone (no folder is touched).
    int GenericFolderIcon() const noexcept { return genericFolder_; }
    // The system's small image list (the system's own: never destroyed), got the same way.
    HIMAGELIST SystemImages() const noexcept { return systemImages_; }

private:
    struct Shared;
    static DWORD WINAPI WorkerMain(void* shared) noexcept;
    void StartWorker();

    std::shared_ptr<Shared> shared_;
    std::unordered_map<std::wstring, int> known_;
    std::unordered_set<std::wstring> asked_;
    int genericFolder_ = 0;
    HIMAGELIST systemImages_ = nullptr;
};

} // namespace dv::manager
