#pragma once

#include "KeyboardShortcuts/HotKeyRegistry.h"
#include "KeyboardShortcuts/KeyText.h"
#include "KeyboardShortcuts/Name.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "KeyboardShortcuts/Strings.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace nimbrel {
class Console;
class Defaults;
class HotKeyPlatform;
class KeyboardLayout;
}  // namespace nimbrel

namespace nimbrel::KeyboardShortcuts {

// The named global shortcuts of the application: where each one is stored, how it shows, which actions
// run when it is pressed or released, and its registration with the desktop's hot-key service.
// One instance, made by the composition root and passed to whoever needs it. Main thread only.
class Shortcuts final : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void()>;

    // `notation` is how the desktop writes shortcuts, for every display text (see notationForDesktop).
    Shortcuts(Defaults& defaults, HotKeyPlatform& platform, const KeyboardLayout& layout, Console& console,
              ShortcutNotation notation = ShortcutNotation::gtk, QObject* parent = nullptr);
    ~Shortcuts() override;

    // How the module's texts are looked up (see Strings.h); unset, every key answers itself.
    void setStrings(Strings strings) { m_strings = std::move(strings); }
    QString localized(const QString& key) const { return localizedString(m_strings, key); }

    // Makes a name known. When it has a default and nothing at all is stored under its key, the default is
    // stored exactly as if the user had recorded it (registered, and listeners told). A name the user
    // cleared keeps its "cleared" mark and gets no default.
    void declare(const Name& name);

    // The name's stored shortcut; nothing when none is stored or the stored value cannot be read.
    std::optional<Shortcut> getShortcut(const Name& name) const { return storedShortcut(name.rawValue); }
    // Stores (and registers) a shortcut for the name, or clears it with std::nullopt. Clearing a name
    // with a default leaves the mark false, so the default is not applied again; without a default the
    // key is removed. Clearing a name that has no shortcut changes nothing.
    void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);

    // Appends an action for the name's press or release (the same action twice runs twice) and makes
    // sure the name's stored shortcut is registered.
    void onKeyDown(const Name& name, Action action);
    void onKeyUp(const Name& name, Action action);

    // Off releases every platform hot key; on registers them again under their old ids.
    bool isEnabled() const { return m_hotKeys.isEnabled(); }
    void setEnabled(bool enabled) { m_hotKeys.setEnabled(enabled); }
    // True while the recorder records: presses and releases run nothing.
    bool isPaused() const { return m_hotKeys.isPaused(); }
    void setPaused(bool paused) { m_hotKeys.setPaused(paused); }
    // Called by whatever takes the keyboard from the desktop (a menu's aboutToShow/aboutToHide, the
    // panel): while tracking, shortcuts are recognised in the application's own key events.
    void menuDidBeginTracking() { m_hotKeys.menuDidBeginTracking(); }
    void menuDidEndTracking() { m_hotKeys.menuDidEndTracking(); }
    bool isMenuOpen() const { return m_hotKeys.isMenuOpen(); }

    // The dispatchers given to every registration: run the actions of every name whose stored shortcut
    // is `shortcut` at this moment, names in the order they first got an action.
    void handleOnKeyDown(const Shortcut& shortcut);
    void handleOnKeyUp(const Shortcut& shortcut);

    // The shortcuts the name layer has registered (refused ones included; they are not retried).
    const QSet<Shortcut>& registeredShortcuts() const { return m_registeredShortcuts; }

    // Display texts in the desktop's notation, the current keyboard layout and the language of the installed
    // Qt translations.
    ShortcutNotation notation() const { return m_notation; }
    QString description(const Shortcut& shortcut) const;
    std::optional<QString> menuItemKeyText(const Shortcut& shortcut) const;
    std::optional<QString> keyToCharacter(int keyCode) const;

    const HotKeyRegistry& hotKeyRegistry() const { return m_hotKeys; }

    // Told by a recorder when it starts or stops recording; process-wide, like the pause.
    void postRecorderActiveStatus(bool isActive) { Q_EMIT recorderActiveStatusDidChange(isActive); }

Q_SIGNALS:
    // A name's stored shortcut was set or cleared.
    void shortcutByNameDidChange(const QString& name);
    // "KeyboardShortcuts_recorderActiveStatusDidChange": a recorder started (true) or stopped recording.
    void recorderActiveStatusDidChange(bool isActive);

private:
    using HandlerTable = std::vector<std::pair<QString, std::vector<Action>>>;

    std::optional<Shortcut> storedShortcut(const QString& rawValue) const;
    void addHandler(HandlerTable& table, const Name& name, Action action);
    void dispatch(const HandlerTable& table, const Shortcut& shortcut);
    void registerShortcut(const Shortcut& shortcut);
    // Unregisters the shortcut a name no longer stores, unless another known name still stores it.
    void releaseShortcut(const Shortcut& shortcut, const QString& rawValue);
    void remember(const Name& name);

    Defaults& m_defaults;
    const KeyboardLayout& m_layout;
    const ShortcutNotation m_notation;
    Strings m_strings;
    HotKeyRegistry m_hotKeys;
    QSet<Shortcut> m_registeredShortcuts;
    HandlerTable m_keyDownHandlers;
    HandlerTable m_keyUpHandlers;
    QStringList m_knownNames;
};

}  // namespace nimbrel::KeyboardShortcuts
