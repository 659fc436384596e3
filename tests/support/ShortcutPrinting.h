#pragma once

// Readable failure messages for the shortcut tests.

#include "KeyboardShortcuts/Shortcut.h"

#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace nimbrel::KeyboardShortcuts {
inline void PrintTo(const Shortcut& shortcut, std::ostream* os)
{
    *os << "Shortcut{" << shortcut.keyCode << ", " << shortcut.keyModifiers << "}";
}
}  // namespace nimbrel::KeyboardShortcuts
