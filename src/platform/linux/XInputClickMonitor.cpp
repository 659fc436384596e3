#include "platform/linux/XInputClickMonitor.h"
#include "platform/linux/X11Connection.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace nimbrel::native {

XInputClickMonitor::XInputClickMonitor()
{
    xcb_connection_t* c = x11Connection();
    if (!c)
        return;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
    if (!extension || !extension->present)
        return;
    // Raw events on the root window need XInput 2.0 at least.
    xcb_input_xi_query_version_reply_t* version =
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
    m_available = version && version->major_version >= 2;
    std::free(version);
    m_opcode = extension->major_opcode;
}

XInputClickMonitor::~XInputClickMonitor()
{
    stop();
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void XInputClickMonitor::select(bool enabled)
{
    xcb_connection_t* c = x11Connection();
    if (!c)
        return;
    struct {
        xcb_input_event_mask_t header;
        uint32_t bits;
    } mask{};
    mask.header.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.header.mask_len = 1;
    mask.bits = enabled ? XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS : 0;
    const xcb_window_t root = x11RootWindow(c);
    xcb_input_xi_select_events(c, root, 1, &mask.header);
    xcb_flush(c);
}

bool XInputClickMonitor::start(std::function<void()> onClick)
{
    if (!m_available)
        return false;
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    m_onClick = std::move(onClick);
    ++m_generation;
    select(true);
    return true;
}

void XInputClickMonitor::stop()
{
    if (!m_onClick)
        return;
    m_onClick = nullptr;
    select(false);
}

bool XInputClickMonitor::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_onClick || eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_GE_GENERIC)
        return false;
    auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
    if (generic->extension != m_opcode || generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
        return false;
    const auto* raw = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event);
    if (raw->detail == 1 || raw->detail == 3) {
        // Reported after the event is handled, never from inside Qt's event dispatch; clicks on
        // Nimbrel's own windows are not clicks outside.
        QTimer::singleShot(0, QCoreApplication::instance(), [this, generation = m_generation] {
            if (m_onClick && generation == m_generation && !QGuiApplication::topLevelAt(QCursor::pos()))
                m_onClick();
        });
    }
    return false;
}

}  // namespace nimbrel::native
