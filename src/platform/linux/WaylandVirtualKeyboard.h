#pragma once

#include "platform/KeyboardSynthesizer.h"

#include <QByteArray>

#include <memory>

namespace nimbrel::native {

// Types keys in a Wayland session through one virtual keyboard (zwp_virtual_keyboard_v1) kept for the
// whole session: a keyboard made per chord loses its first key while the compositor takes in its keymap.
// The keymap is the session's default (xkbcommon, XKB_DEFAULT_* honoured); keys are found by keysym.
class WaylandVirtualKeyboard final : public KeyboardSynthesizer {
public:
    // `display` as WAYLAND_DISPLAY takes it; empty: the session's. Unavailable when the compositor offers
    // no virtual keyboard.
    explicit WaylandVirtualKeyboard(QByteArray display = {});
    ~WaylandVirtualKeyboard() override;

    bool isAvailable() const override;
    // Wayland tells an unfocused client nothing of the physical keyboard: never known to be held.
    bool modifiersHeld() const override { return false; }
    // Time for the user to let go of the keys that chose the record and for the compositor to give the
    // keyboard back to the application behind the panel.
    int settleMs() const override { return 250; }
    void post(const QList<SyntheticKey>& keys) override;

    struct Session;

private:
    std::unique_ptr<Session> m_session;
};

}  // namespace nimbrel::native
