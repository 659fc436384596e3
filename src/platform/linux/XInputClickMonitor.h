#pragma once

#include "platform/ClickMonitor.h"

#include <QAbstractNativeEventFilter>

namespace nimbrel::native {

// Clicks seen as XInput 2 raw button events on the root window: every press on the desktop is
// reported, and the click still goes to the window beneath the pointer.
class XInputClickMonitor final : public ClickMonitor, public QAbstractNativeEventFilter {
public:
    XInputClickMonitor();
    ~XInputClickMonitor() override;

    bool start(std::function<void()> onClick) override;
    void stop() override;
    bool isRunning() const override { return static_cast<bool>(m_onClick); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void select(bool enabled);

    quint8 m_opcode = 0;
    bool m_available = false;
    bool m_filterInstalled = false;
    std::function<void()> m_onClick;
    // Counts starts, so a click reported for an earlier showing is not delivered to a later one.
    quint64 m_generation = 0;
};

}  // namespace nimbrel::native
