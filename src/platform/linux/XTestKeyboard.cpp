#include "platform/linux/XTestKeyboard.h"
#include "platform/linux/X11Connection.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace nimbrel::native {

namespace {

constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymV = 0x0076;
constexpr quint16 heldMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;


}  // namespace

XTestKeyboard::XTestKeyboard()
{
    xcb_connection_t* c = x11Connection();
    if (!c)
        return;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_test_id);
    m_available = extension && extension->present;
}

bool XTestKeyboard::modifiersHeld() const
{
    xcb_connection_t* c = x11Connection();
    if (!c)
        return false;
    const xcb_window_t root = x11RootWindow(c);
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    if (!reply)
        return false;
    const bool held = (reply->mask & heldMask) != 0;
    std::free(reply);
    return held;
}

void XTestKeyboard::post(const QList<SyntheticKey>& keys)
{
    xcb_connection_t* c = x11Connection();
    if (!c || !m_available)
        return;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return;
    const auto keycodeOf = [symbols](xcb_keysym_t symbol) -> xcb_keycode_t {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, symbol);
        const xcb_keycode_t code = codes ? codes[0] : XCB_NO_SYMBOL;
        std::free(codes);
        return code;
    };
    const xcb_keycode_t control = keycodeOf(keysymControlL);
    const xcb_keycode_t v = keycodeOf(keysymV);
    for (const SyntheticKey& key : keys) {
        const xcb_keycode_t code = key.key == SyntheticKey::Key::control ? control : v;
        // A key the keymap does not have is skipped; the others are still typed.
        if (code == XCB_NO_SYMBOL)
            continue;
        xcb_test_fake_input(c, key.down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    xcb_flush(c);
    xcb_key_symbols_free(symbols);
}

}  // namespace nimbrel::native
