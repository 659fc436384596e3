#include "platform/linux/X11HotKeys.h"
#include "platform/linux/X11Connection.h"

#include "KeyboardShortcuts/KeyCodes.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>
// The XKB protocol header names a member `explicit`, a C++ keyword.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <memory>

namespace nimbrel::native {

namespace {

constexpr quint16 lockMask = XCB_MOD_MASK_LOCK;
constexpr quint16 numLockMask = XCB_MOD_MASK_2;
constexpr quint16 lockVariants[] = {0, lockMask, numLockMask, lockMask | numLockMask};
constexpr quint16 shortcutMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr quint8 badAccess = 10;

}  // namespace

X11HotKeys::X11HotKeys() : m_x11(QGuiApplication::platformName() == QLatin1String("xcb") && x11Connection())
{
}

X11HotKeys::~X11HotKeys()
{
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const Grab& grab : std::as_const(m_grabs))
        ungrab(grab);
}

int X11HotKeys::registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref)
{
    if (!m_x11)
        return hotKeyInvalid;
    const auto keycode = KeyboardShortcuts::x11KeycodeFromKeyCode(keyCode);
    if (!keycode || *keycode > 255)
        return hotKeyInvalid;
    xcb_connection_t* c = x11Connection();
    const Grab grab{static_cast<quint8>(*keycode),
                    static_cast<quint16>(KeyboardShortcuts::x11StateFromModifiers(keyModifiers)), identifier};

    // Every variant is checked, so a combination another client holds is known at once rather than
    // silently not firing later.
    int status = hotKeyNoError;
    for (const quint16 variant : lockVariants) {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(c, 1, x11RootWindow(c), grab.modifiers | variant,
                                                              grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            status = error->error_code == badAccess ? hotKeyTaken : hotKeyInvalid;
            std::free(error);
        }
    }
    if (status != hotKeyNoError) {
        ungrab(grab);
        return status;
    }
    ref = m_nextRef++;
    m_grabs.insert(ref, grab);
    return hotKeyNoError;
}

void X11HotKeys::ungrab(const Grab& grab) const
{
    xcb_connection_t* c = m_x11 ? x11Connection() : nullptr;
    if (!c)
        return;
    for (const quint16 variant : lockVariants)
        xcb_ungrab_key(c, grab.keycode, x11RootWindow(c), grab.modifiers | variant);
    xcb_flush(c);
}

void X11HotKeys::unregisterHotKey(HotKeyRef ref)
{
    const auto it = m_grabs.find(ref);
    if (it == m_grabs.end())
        return;
    // Another registration of the same combination keeps the grab.
    const Grab grab = *it;
    m_grabs.erase(it);
    for (const Grab& other : std::as_const(m_grabs))
        if (other.keycode == grab.keycode && other.modifiers == grab.modifiers)
            return;
    ungrab(grab);
}

bool X11HotKeys::installEventHandler(Handler handler)
{
    if (!m_x11)
        return false;
    m_handler = std::move(handler);
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
        // A held key then repeats presses only, and its one release comes when it is really let go.
        xcb_connection_t* c = x11Connection();
        std::free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
        std::free(xcb_xkb_per_client_flags_reply(
            c,
            xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
            nullptr));
    }
    return true;
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // The grabs ask for owner events, so while one of Nimbrel's own windows has the focus a grabbed
    // combination arrives as that window's key event rather than the root's; it is the hot key all the same.
    // (While the recorder or the panel has the keyboard, nothing is grabbed.)
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);

    std::optional<Grab> fired;
    if (type == XCB_KEY_PRESS) {
        for (const Grab& grab : std::as_const(m_grabs))
            if (grab.keycode == key->detail && grab.modifiers == (key->state & shortcutMask)) {
                fired = grab;
                break;
            }
        m_pressed = fired;
    } else if (m_pressed && m_pressed->keycode == key->detail) {
        fired = m_pressed;
        m_pressed.reset();
    }
    if (!fired)
        return false;
    if (m_eventsEnabled && m_handler)
        m_handler(type == XCB_KEY_PRESS ? HotKeyEventKind::pressed : HotKeyEventKind::released, fired->identifier);
    return true;
}

QString XkbKeyboardLayout::unshiftedText(int keyCode) const
{
    const auto keycode = KeyboardShortcuts::x11KeycodeFromKeyCode(keyCode);
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                             &xkb_context_unref);
    if (!keycode || !context)
        return {};
    xcb_connection_t* c = QGuiApplication::platformName() == QLatin1String("xcb") ? x11Connection() : nullptr;
    const int32_t device = c ? xkb_x11_get_core_keyboard_device_id(c) : -1;
    // The X server's layout and group when there is one. A Wayland compositor tells its layout only to the
    // client with the keyboard focus: there the session's default keymap (XKB_DEFAULT_LAYOUT, else the
    // system's) names the keys.
    const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        device >= 0 ? xkb_x11_keymap_new_from_device(context.get(), c, device, XKB_KEYMAP_COMPILE_NO_FLAGS)
                    : xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap)
        return {};
    const std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> plain(xkb_state_new(keymap.get()), &xkb_state_unref);
    if (!plain)
        return {};
    if (device >= 0) {
        // The layout the user types in now, with no modifier held.
        const std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> current(
            xkb_x11_state_new_from_device(keymap.get(), c, device), &xkb_state_unref);
        if (!current)
            return {};
        const xkb_layout_index_t group = xkb_state_serialize_layout(current.get(), XKB_STATE_LAYOUT_EFFECTIVE);
        xkb_state_update_mask(plain.get(), 0, 0, 0, 0, 0, group);
    }
    const xkb_keysym_t symbol = xkb_state_key_get_one_sym(plain.get(), static_cast<xkb_keycode_t>(*keycode));
    char utf8[16] = {};
    if (symbol == XKB_KEY_NoSymbol || xkb_keysym_to_utf8(symbol, utf8, sizeof utf8) <= 0)
        return {};
    return QString::fromUtf8(utf8);
}

}  // namespace nimbrel::native
