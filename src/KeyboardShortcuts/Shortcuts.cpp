#include "KeyboardShortcuts/Shortcuts.h"

#include "platform/Defaults.h"
#include "platform/HotKeyPlatform.h"

#include <algorithm>

namespace nimbrel::KeyboardShortcuts {

Shortcuts::Shortcuts(Defaults& defaults, HotKeyPlatform& platform, const KeyboardLayout& layout, Console& console,
                     ShortcutNotation notation, QObject* parent)
    : QObject(parent),
      m_defaults(defaults),
      m_layout(layout),
      m_notation(notation),
      m_hotKeys(platform, console, [this](const Shortcut& shortcut) { return description(shortcut); })
{
}

Shortcuts::~Shortcuts() = default;

void Shortcuts::remember(const Name& name)
{
    if (!m_knownNames.contains(name.rawValue))
        m_knownNames.append(name.rawValue);
}

void Shortcuts::declare(const Name& name)
{
    remember(name);
    // Only a key that holds nothing at all gets the default: false means the user cleared it, and an
    // unreadable value is left for the next store to overwrite.
    if (name.defaultShortcut && !m_defaults.object(name.userDefaultsKey()).isValid())
        setShortcut(name.defaultShortcut, name);
}

std::optional<Shortcut> Shortcuts::storedShortcut(const QString& rawValue) const
{
    const auto json = m_defaults.string(Name{rawValue, std::nullopt}.userDefaultsKey());
    if (!json)
        return std::nullopt;
    return Shortcut::fromJson(*json);
}

void Shortcuts::registerShortcut(const Shortcut& shortcut)
{
    m_hotKeys.registerShortcut(
        shortcut, [this](const Shortcut& fired) { handleOnKeyDown(fired); },
        [this](const Shortcut& fired) { handleOnKeyUp(fired); });
    m_registeredShortcuts.insert(shortcut);
}

void Shortcuts::releaseShortcut(const Shortcut& shortcut, const QString& rawValue)
{
    // Two names may share one registration; the other one must keep working.
    const bool stillUsed = std::any_of(m_knownNames.cbegin(), m_knownNames.cend(), [&](const QString& other) {
        return other != rawValue && storedShortcut(other) == shortcut;
    });
    if (stillUsed)
        return;
    m_hotKeys.unregisterShortcut(shortcut);
    m_registeredShortcuts.remove(shortcut);
}

void Shortcuts::setShortcut(const std::optional<Shortcut>& shortcut, const Name& name)
{
    remember(name);
    const QString key = name.userDefaultsKey();
    const std::optional<Shortcut> current = getShortcut(name);

    if (!shortcut) {
        if (!current)
            return;
        if (name.defaultShortcut)
            m_defaults.setBool(key, false);
        else
            m_defaults.removeObject(key);
        releaseShortcut(*current, name.rawValue);
        Q_EMIT shortcutByNameDidChange(name.rawValue);
        return;
    }

    const QString json = shortcut->toJson();
    if (current)
        releaseShortcut(*current, name.rawValue);
    if (!m_registeredShortcuts.contains(*shortcut))
        registerShortcut(*shortcut);
    m_defaults.setString(key, json);
    Q_EMIT shortcutByNameDidChange(name.rawValue);
}

void Shortcuts::addHandler(HandlerTable& table, const Name& name, Action action)
{
    remember(name);
    auto entry = std::find_if(table.begin(), table.end(), [&](const auto& e) { return e.first == name.rawValue; });
    if (entry == table.end())
        entry = table.insert(table.end(), {name.rawValue, {}});
    entry->second.push_back(std::move(action));

    const auto stored = getShortcut(name);
    if (stored && !m_registeredShortcuts.contains(*stored))
        registerShortcut(*stored);
}

void Shortcuts::onKeyDown(const Name& name, Action action)
{
    addHandler(m_keyDownHandlers, name, std::move(action));
}

void Shortcuts::onKeyUp(const Name& name, Action action)
{
    addHandler(m_keyUpHandlers, name, std::move(action));
}

void Shortcuts::dispatch(const HandlerTable& table, const Shortcut& shortcut)
{
    if (isPaused())
        return;
    // An action may attach actions or change shortcuts; the walk runs over the lists as they were.
    const HandlerTable snapshot = table;
    for (const auto& [rawValue, actions] : snapshot) {
        if (storedShortcut(rawValue) != shortcut)
            continue;
        for (const Action& action : actions)
            action();
    }
}

void Shortcuts::handleOnKeyDown(const Shortcut& shortcut)
{
    dispatch(m_keyDownHandlers, shortcut);
}

void Shortcuts::handleOnKeyUp(const Shortcut& shortcut)
{
    dispatch(m_keyUpHandlers, shortcut);
}

QString Shortcuts::description(const Shortcut& shortcut) const
{
    return KeyboardShortcuts::description(shortcut, m_layout, m_notation);
}

std::optional<QString> Shortcuts::menuItemKeyText(const Shortcut& shortcut) const
{
    return KeyboardShortcuts::menuItemKeyText(shortcut, m_layout);
}

std::optional<QString> Shortcuts::keyToCharacter(int keyCode) const
{
    return KeyboardShortcuts::keyToCharacter(keyCode, m_layout);
}

}  // namespace nimbrel::KeyboardShortcuts
