#pragma once

#include "platform/ClickMonitor.h"

namespace nimbrel::fake {

class FakeClickMonitor final : public ClickMonitor {
public:
    bool start(std::function<void()> onClick) override { return m_onClick = std::move(onClick), true; }
    void stop() override { m_onClick = nullptr; }
    bool isRunning() const override { return static_cast<bool>(m_onClick); }
    // A click somewhere on the desktop.
    void click()
    {
        if (m_onClick)
            m_onClick();
    }

private:
    std::function<void()> m_onClick;
};

}  // namespace nimbrel::fake
