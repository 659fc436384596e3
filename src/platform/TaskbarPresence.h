#pragma once

namespace nimbrel {

// Whether Nimbrel has a taskbar entry: none while it lives in the tray alone, one while its settings
// window is open, so the window can be found again like any other.
enum class TaskbarEntry { shown, hidden };

class TaskbarPresence {
public:
    TaskbarPresence() = default;
    virtual ~TaskbarPresence() = default;
    TaskbarPresence(const TaskbarPresence&) = delete;
    TaskbarPresence& operator=(const TaskbarPresence&) = delete;

    virtual void setTaskbarEntry(TaskbarEntry entry) = 0;
    virtual TaskbarEntry taskbarEntry() const = 0;
};

}  // namespace nimbrel
