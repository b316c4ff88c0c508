// Whether the bookmark manager's shortcuts apply: the manager and every modal window over it (its
// own dialogs, the update dialog) share this flag within one process.
#pragma once

namespace dv::ui {

// True while a modal window is open over the bookmark manager (item dialog, confirmations, file
// dialogs, the update dialog): the manager's shortcut hook then leaves keystrokes alone.
inline volatile bool ManagerAcceleratorsSuspended = false;

// Sets ManagerAcceleratorsSuspended for a scope and restores the previous value on every way out.
class ManagerAcceleratorsSuspension {
public:
    ManagerAcceleratorsSuspension() noexcept : previous_(ManagerAcceleratorsSuspended) {
        ManagerAcceleratorsSuspended = true;
    }
    ~ManagerAcceleratorsSuspension() { ManagerAcceleratorsSuspended = previous_; }
    ManagerAcceleratorsSuspension(const ManagerAcceleratorsSuspension&) = delete;
    ManagerAcceleratorsSuspension& operator=(const ManagerAcceleratorsSuspension&) = delete;

private:
    bool previous_;
};

} // namespace dv::ui
