#include "platform/linux/XTestKeyboard.h"
#include "platform/Console.h"
#include "platform/linux/X11Connection.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>

namespace nimbrel::native {

namespace {

constexpr quint16 heldMask = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

}  // namespace

XTestKeyboard::XTestKeyboard(Console& console) : m_console(console)
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
    QList<xcb_keycode_t> codes;
    for (const SyntheticKey& key : keys) {
        xcb_keycode_t* found = xcb_key_symbols_get_keycode(symbols, key.keysym);
        const xcb_keycode_t code = found ? found[0] : XCB_NO_SYMBOL;
        std::free(found);
        if (code == XCB_NO_SYMBOL) {
            // Nothing is typed: the rest of a chord could type a stray character. The record stays on the clipboard.
            if (!m_reportedMissing.contains(key.keysym)) {
                m_reportedMissing.insert(key.keysym);
                char name[64] = "?";
                xkb_keysym_get_name(key.keysym, name, sizeof name);
                m_console.line(QStringLiteral("[Nimbrel] The keyboard layout has no %1 key, so the paste keys are not "
                                              "typed; the record is on the clipboard to paste by hand.")
                                   .arg(QString::fromLatin1(name)));
            }
            codes.clear();
            break;
        }
        codes.append(code);
    }
    xcb_key_symbols_free(symbols);
    for (qsizetype i = 0; i < codes.size(); ++i)
        xcb_test_fake_input(c, keys[i].down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, codes[i], XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
    xcb_flush(c);
}

}  // namespace nimbrel::native
