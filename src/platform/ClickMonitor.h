#pragma once

#include <functional>

namespace nimbrel {

// Watches left and right mouse clicks outside Nimbrel's own windows, anywhere on the desktop, without
// taking them from the window they are meant for.
class ClickMonitor {
public:
    ClickMonitor() = default;
    virtual ~ClickMonitor() = default;
    ClickMonitor(const ClickMonitor&) = delete;
    ClickMonitor& operator=(const ClickMonitor&) = delete;

    // Starts calling `onClick` for every left or right button press; false when this desktop cannot
    // report them (the caller tries again next time).
    virtual bool start(std::function<void()> onClick) = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

}  // namespace nimbrel
