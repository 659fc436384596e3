#pragma once

#include <QList>

namespace nimbrel {

// One of the desktop's own global key bindings, in the units shortcuts are stored in (stored key code
// and the five stored modifier bits).
struct SystemHotKey {
    int keyCode = 0;
    int keyModifiers = 0;
    friend bool operator==(const SystemHotKey&, const SystemHotKey&) = default;
};

// The key bindings the desktop itself has taken (window manager, shell, media keys), so a new shortcut
// can be checked against them before it is stored.
class SystemShortcuts {
public:
    SystemShortcuts() = default;
    virtual ~SystemShortcuts() = default;
    SystemShortcuts(const SystemShortcuts&) = delete;
    SystemShortcuts& operator=(const SystemShortcuts&) = delete;

    // The enabled bindings, read afresh on every call; empty when the desktop's bindings cannot be read.
    virtual QList<SystemHotKey> enabledHotKeys() const = 0;
};

}  // namespace nimbrel
