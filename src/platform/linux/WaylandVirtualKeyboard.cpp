#include "platform/linux/WaylandVirtualKeyboard.h"

#include "platform/linux/WaylandEvents.h"

#include <QHash>

#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace nimbrel::native {

struct WaylandVirtualKeyboard::Session {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    // The first key (on the first level of the first layout) that types each keysym.
    QHash<quint32, xkb_keycode_t> keycodes;

    ~Session()
    {
        if (state)
            xkb_state_unref(state);
        if (keymap)
            xkb_keymap_unref(keymap);
        if (context)
            xkb_context_unref(context);
        if (keyboard)
            zwp_virtual_keyboard_v1_destroy(keyboard);
        if (manager)
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        if (seat)
            wl_seat_destroy(seat);
        closeConnection(display, registry);
    }
};

namespace {

using Session = WaylandVirtualKeyboard::Session;

void announceGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* session = static_cast<Session*>(data);
    const QByteArray which(interface);
    if (which == wl_seat_interface.name && !session->seat)
        session->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (which == zwp_virtual_keyboard_manager_v1_interface.name && !session->manager)
        session->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}

void forgetGlobal(void*, wl_registry*, uint32_t)
{
}

const wl_registry_listener registryListener{announceGlobal, forgetGlobal};

void rememberKey(xkb_keymap* keymap, xkb_keycode_t keycode, void* data)
{
    auto* keycodes = static_cast<QHash<quint32, xkb_keycode_t>*>(data);
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms);
    for (int i = 0; i < count; ++i)
        if (!keycodes->contains(syms[i]))
            keycodes->insert(syms[i], keycode);
}

// The keymap handed to the compositor travels as a file.
bool sendKeymap(Session& s)
{
    char* text = xkb_keymap_get_as_string(s.keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!text)
        return false;
    const size_t size = std::strlen(text) + 1;
    const int fd = ::memfd_create("nimbrel-keymap", MFD_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, text, size) == static_cast<ssize_t>(size);
    std::free(text);
    if (written)
        zwp_virtual_keyboard_v1_keymap(s.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    if (fd >= 0)
        ::close(fd);
    return written;
}

uint32_t milliseconds()
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace

WaylandVirtualKeyboard::WaylandVirtualKeyboard(QByteArray display) : m_session(std::make_unique<Session>())
{
    Session& s = *m_session;
    s.display = wl_display_connect(display.isEmpty() ? nullptr : display.constData());
    if (!s.display)
        return;
    s.registry = listGlobals(s.display, registryListener, &s);
    s.context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    s.keymap = s.context ? xkb_keymap_new_from_names(s.context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!s.manager || !s.seat || !s.keymap)
        return;
    s.state = xkb_state_new(s.keymap);
    xkb_keymap_key_for_each(s.keymap, rememberKey, &s.keycodes);
    s.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(s.manager, s.seat);
    if (!sendKeymap(s)) {
        zwp_virtual_keyboard_v1_destroy(s.keyboard);
        s.keyboard = nullptr;
        return;
    }
    // The compositor has the keymap before the first key.
    wl_display_roundtrip(s.display);
}

WaylandVirtualKeyboard::~WaylandVirtualKeyboard() = default;

bool WaylandVirtualKeyboard::isAvailable() const
{
    return m_session->keyboard != nullptr;
}

void WaylandVirtualKeyboard::post(const QList<SyntheticKey>& keys)
{
    Session& s = *m_session;
    if (!s.keyboard)
        return;
    // A key the keymap lacks: nothing is typed rather than a chord without it.
    for (const SyntheticKey& key : keys)
        if (!s.keycodes.contains(key.keysym))
            return;
    for (const SyntheticKey& key : keys) {
        const xkb_keycode_t keycode = s.keycodes.value(key.keysym);
        xkb_state_update_key(s.state, keycode, key.down ? XKB_KEY_DOWN : XKB_KEY_UP);
        // Wayland numbers keys as evdev does: eight below xkb.
        zwp_virtual_keyboard_v1_key(s.keyboard, milliseconds(), keycode - 8,
                                    key.down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        zwp_virtual_keyboard_v1_modifiers(s.keyboard, xkb_state_serialize_mods(s.state, XKB_STATE_MODS_DEPRESSED),
                                          xkb_state_serialize_mods(s.state, XKB_STATE_MODS_LATCHED),
                                          xkb_state_serialize_mods(s.state, XKB_STATE_MODS_LOCKED),
                                          xkb_state_serialize_layout(s.state, XKB_STATE_LAYOUT_EFFECTIVE));
    }
    wl_display_roundtrip(s.display);
}

}  // namespace nimbrel::native
