#pragma once

#include "platform/SystemShortcuts.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct xkb_context;
struct xkb_keymap;

namespace nimbrel::native {

// The stored key code of the physical key that types an X keysym; nullopt when no key of the keyboard does.
using KeysymToKeyCode = std::function<std::optional<int>(quint32 keysym)>;

// A GNOME accelerator ("<Primary><Alt>t", "<Shift><Super>Page_Up", "XF86AudioMute") as a binding. Nothing for
// an empty accelerator, a modifier Nimbrel cannot store (<Hyper>, <Mod3>…), or a key the keyboard lacks.
std::optional<SystemHotKey> parseGnomeAccelerator(const QString& accelerator, const KeysymToKeyCode& keyCodeFromKeysym);

// The strings of a value as gsettings prints it: "['<Super>v', '<Super>Up']", "@as []", "'<Super>e'". Empty for
// anything that is neither a string nor an array of strings.
QStringList parseGvariantStrings(const QString& value);

// The bindings in `gsettings list-recursively` output ("schema key value" lines), deduplicated. Custom
// keybinding schemas contribute their `binding` key only.
QList<SystemHotKey> parseGsettingsListing(const QString& listing, const KeysymToKeyCode& keyCodeFromKeysym);

// The GNOME schemas that hold global key bindings (window manager, shell, mutter, media keys).
QStringList gnomeKeybindingSchemas();
// The schema of a custom keybinding (relocatable: one path per binding) and the media-keys schema that lists them.
QString gnomeMediaKeysSchema();
QString gnomeCustomKeybindingSchema();

// The paths of the user's custom keybindings named in a media-keys listing.
QStringList customKeybindingPaths(const QString& listing);

// A KDE shortcut ("Meta+Shift+V", "Alt+F4", "Meta+Num+5") as a binding; nothing for "none", a multi-key
// sequence, a lone modifier or a key the keyboard lacks.
std::optional<SystemHotKey> parseKdeShortcut(const QString& shortcut, const KeysymToKeyCode& keyCodeFromKeysym);

// The active bindings of a kglobalshortcutsrc file, deduplicated.
QList<SystemHotKey> parseKdeShortcutFile(const QByteArray& contents, const KeysymToKeyCode& keyCodeFromKeysym);

// Which desktops' bindings apply, from XDG_CURRENT_DESKTOP ("ubuntu:GNOME", "KDE"). Another desktop's settings
// left on the system (GNOME's schemas are installed almost everywhere) would only raise false alarms; when the
// desktop is not named, both are read.
struct BindingSources {
    bool gnome = false;
    bool kde = false;
    friend bool operator==(const BindingSources&, const BindingSources&) = default;
};
BindingSources bindingSourcesFor(const QString& currentDesktop);

// Keysym lookups over a keymap: levels 0 and 1 of each layout, the first layout first, the unshifted level
// before the shifted one, the lowest keycode that has a stored key code.
KeysymToKeyCode keysymLookup(xkb_keymap* keymap);
// The system default keymap (XKB's default names, usually "us").
KeysymToKeyCode defaultKeymapLookup();
// The X server's core keyboard on X11, the default keymap elsewhere.
KeysymToKeyCode currentKeymapLookup();
// That keymap itself, owned by the caller (xkb_keymap_unref); null when neither can be compiled.
xkb_keymap* newCurrentKeymap(xkb_context* context);

// The desktop's global key bindings: GNOME's through gsettings (window manager, shell, mutter, media keys and
// custom keybindings), KDE's from kglobalshortcutsrc.
class DesktopKeyBindings final : public SystemShortcuts {
public:
    QList<SystemHotKey> enabledHotKeys() const override;
};

}  // namespace nimbrel::native
