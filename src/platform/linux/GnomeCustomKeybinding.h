#pragma once

#include "platform/HotKeyPlatform.h"

#include <QString>

#include <memory>
#include <optional>

struct xkb_keymap;

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// registerHotKey's status while the user has not allowed Nimbrel to change the desktop's key bindings.
// Nimbrel's own number, not one of the platform's.
inline constexpr int hotKeyNotAllowedErr = -9890;

// A GNOME accelerator for the key at a stored key code with stored modifiers ("<Shift><Super>v"): the key named
// by the keysym it types unshifted in the keymap's first layout. Nothing for a key the keymap lacks.
std::optional<QString> gnomeAcceleratorFor(int keyCode, int keyModifiers, xkb_keymap* keymap);

// Nimbrel's shortcut as a GNOME custom keybinding (media-keys' custom-keybindings list, one entry at
// Nimbrel's own path) whose command runs `program --toggle`, which reaches the running Nimbrel. GNOME runs
// the command when the keys go down, not on release as Nimbrel's own shortcut does, and the handler is never
// called: installEventHandler accepts one only so the shortcut machinery stays the same on every desktop.
//
// This writes to the user's desktop settings, so nothing is written until setAllowed(true); until then
// registerHotKey returns hotKeyNotAllowedErr. setAllowed(false), unregistering and destruction take the entry
// out again (a quit Nimbrel leaves no key behind that would silently start it), leaving the user's other
// entries as they were. Registering again replaces the entry. The key is named by the keysym it types in the
// X server's layout under X11, or in the system's default XKB layout (XKB_DEFAULT_*; usually "us") elsewhere.
class GnomeCustomKeybinding final : public HotKeyPlatform {
public:
    // Where the settings live; empty fields: the desktop's own (installed schemas, dconf).
    struct Store {
        // A folder with a compiled gschemas.compiled.
        QString schemaDirectory;
        // A key file for GIO's keyfile backend.
        QString keyfile;
    };
    static constexpr const char* path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/nimbrel/";

    GnomeCustomKeybinding(QString program, Console& console, Store store = {});
    ~GnomeCustomKeybinding() override;

    // False where GNOME's media-keys schemas are not installed (not GNOME, or a trimmed system).
    bool isAvailable() const;
    void setAllowed(bool allowed);
    bool isAllowed() const { return m_allowed; }

    // hotKeyTaken when a window manager, shell, media or another custom keybinding has the combination.
    int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override;
    void unregisterHotKey(HotKeyRef ref) override;
    bool installEventHandler(Handler) override { return true; }
    void setHotKeyEventsEnabled(bool) override {}

    struct Gio;

private:
    void remove();

    QString m_program;
    Console& m_console;
    std::unique_ptr<Gio> m_gio;
    bool m_allowed = false;
    HotKeyRef m_nextRef = 1;
    // The registration the entry stands for; 0 when none is written.
    HotKeyRef m_current = 0;
};

}  // namespace nimbrel::native
