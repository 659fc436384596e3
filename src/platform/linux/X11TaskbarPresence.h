#pragma once

#include "platform/TaskbarPresence.h"

#include <QObject>

class QWindow;

namespace nimbrel::native {

// The tray-only / taskbar switch. Accessory marks every top-level window of Nimbrel to skip the
// taskbar and pager (EWMH _NET_WM_STATE); regular gives them a taskbar entry. Windows shown later
// follow the current policy. On a session that is not X11 only the state is kept.
class X11TaskbarPresence final : public QObject, public TaskbarPresence {
    Q_OBJECT
public:
    X11TaskbarPresence();
    ~X11TaskbarPresence() override;

    void setTaskbarEntry(TaskbarEntry policy) override;
    TaskbarEntry taskbarEntry() const override { return m_entry; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply(QWindow* window) const;

    TaskbarEntry m_entry = TaskbarEntry::shown;
    bool m_x11 = false;
};

}  // namespace nimbrel::native
