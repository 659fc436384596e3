#include "hotkey/HotkeyManager.h"

#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/Shortcuts.h"

#include <QPointer>

namespace nimbrel {

namespace KeyboardShortcuts {

const Name& togglePanelName()
{
    static const Name name{QStringLiteral("togglePanel"), Shortcut::fromKey(Key::v, eventSuper | eventShift)};
    return name;
}

}  // namespace KeyboardShortcuts

HotkeyManager::HotkeyManager(KeyboardShortcuts::Shortcuts& shortcuts, QObject* parent) : QObject(parent)
{
    const KeyboardShortcuts::Name& name = KeyboardShortcuts::togglePanelName();
    shortcuts.declare(name);
    // The action outlives nothing it points at: a destroyed manager leaves an action that does nothing.
    shortcuts.onKeyUp(name, [manager = QPointer<HotkeyManager>(this)] {
        if (manager && manager->m_onTrigger)
            manager->m_onTrigger();
    });
}

}  // namespace nimbrel
