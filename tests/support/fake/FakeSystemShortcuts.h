#pragma once

#include "platform/SystemShortcuts.h"

namespace nimbrel::fake {

// A desktop whose bindings the test sets; counts how often they were read.
class SystemShortcutList final : public SystemShortcuts {
public:
    QList<SystemHotKey> enabledHotKeys() const override { return ++reads, hotKeys; }

    QList<SystemHotKey> hotKeys;
    mutable int reads = 0;
};

}  // namespace nimbrel::fake
