#pragma once

#include "platform/ActivationPolicy.h"

#include <QObject>

class QWindow;

namespace nimbrel::native {

// The tray-only / taskbar switch. Accessory marks every top-level window of Nimbrel to skip the
// taskbar and pager (EWMH _NET_WM_STATE); regular gives them a taskbar entry. Windows shown later
// follow the current policy. On a session that is not X11 only the state is kept.
class X11ActivationPolicy final : public QObject, public ActivationPolicy {
    Q_OBJECT
public:
    X11ActivationPolicy();
    ~X11ActivationPolicy() override;

    void setPolicy(Policy policy) override;
    Policy policy() const override { return m_policy; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply(QWindow* window) const;

    Policy m_policy = Policy::regular;
    bool m_x11 = false;
};

}  // namespace nimbrel::native
