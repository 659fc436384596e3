#pragma once

#include "KeyboardShortcuts/Shortcut.h"

#include <QString>

#include <optional>

namespace nimbrel::KeyboardShortcuts {

// A named, user-configurable shortcut. The name's shortcut is stored under "KeyboardShortcuts_" + rawValue;
// a fresh installation starts with defaultShortcut (see Shortcuts::declare).
struct Name {
    QString rawValue;
    std::optional<Shortcut> defaultShortcut;

    QString userDefaultsKey() const { return QStringLiteral("KeyboardShortcuts_") + rawValue; }

    friend bool operator==(const Name&, const Name&) = default;
};

inline size_t qHash(const Name& name, size_t seed = 0) noexcept
{
    return qHash(name.rawValue, seed);
}

}  // namespace nimbrel::KeyboardShortcuts
