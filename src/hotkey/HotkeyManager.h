#pragma once

#include "KeyboardShortcuts/Name.h"

#include <QObject>

#include <functional>

namespace nimbrel::KeyboardShortcuts {

class Shortcuts;

// The application's one global shortcut: show or hide the clip panel. Defaults to Shift+Super+V (v with the
// command and shift modifiers).
const Name& togglePanelName();

}  // namespace nimbrel::KeyboardShortcuts

namespace nimbrel {

// Attaches the application's action to the toggle-panel shortcut. The panel toggles on release, so
// holding the shortcut does nothing until the key is let go. Main thread only.
class HotkeyManager final : public QObject {
    Q_OBJECT
public:
    // Declares the toggle-panel name (storing its default on first launch) and attaches one key-up action
    // that holds this manager weakly and is never removed.
    explicit HotkeyManager(KeyboardShortcuts::Shortcuts& shortcuts, QObject* parent = nullptr);

    void setOnTrigger(std::function<void()> onTrigger) { m_onTrigger = std::move(onTrigger); }
    const std::function<void()>& onTrigger() const { return m_onTrigger; }

private:
    std::function<void()> m_onTrigger;
};

}  // namespace nimbrel
