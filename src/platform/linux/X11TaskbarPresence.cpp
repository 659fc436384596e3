#include "platform/linux/X11TaskbarPresence.h"
#include "platform/linux/X11Connection.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace nimbrel::native {

X11TaskbarPresence::X11TaskbarPresence() : m_x11(QGuiApplication::platformName() == QLatin1String("xcb"))
{
    if (m_x11)
        qGuiApp->installEventFilter(this);
}

X11TaskbarPresence::~X11TaskbarPresence()
{
    if (m_x11 && qGuiApp)
        qGuiApp->removeEventFilter(this);
}

void X11TaskbarPresence::setTaskbarEntry(TaskbarEntry entry)
{
    m_entry = entry;
    if (!m_x11)
        return;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        apply(window);
}

bool X11TaskbarPresence::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        if (auto* window = qobject_cast<QWindow*>(watched); window && !window->parent()) {
            // The window manager takes state changes only once it manages the window: after the map.
            QTimer::singleShot(0, this, [this, w = QPointer<QWindow>(window)] {
                if (w)
                    apply(w);
            });
        }
    }
    return false;
}

void X11TaskbarPresence::apply(QWindow* window) const
{
    xcb_connection_t* c = x11Connection();
    if (!c || !window->handle() || !window->isVisible())
        return;
    // The tray icon's and the clip panel's windows carry their own window types; only ordinary
    // windows and dialogs change with the policy.
    if (window->type() != Qt::Window && window->type() != Qt::Dialog)
        return;
    const xcb_atom_t state = x11Atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = x11Atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t skipPager = x11Atom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (!state || !skipTaskbar || !skipPager)
        return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window->winId());
    message.type = state;
    message.data.data32[0] = m_entry == TaskbarEntry::hidden ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
    message.data.data32[1] = skipTaskbar;
    message.data.data32[2] = skipPager;
    message.data.data32[3] = 1;  // a normal application
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
}

}  // namespace nimbrel::native
