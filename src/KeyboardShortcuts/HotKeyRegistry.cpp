#include "KeyboardShortcuts/HotKeyRegistry.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/Console.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

namespace nimbrel::KeyboardShortcuts {

namespace {
constexpr int recognisedKeyModifiers = modControl | modAlt | modShift | modSuper | modFunction;
}

HotKeyRegistry::HotKeyRegistry(HotKeyPlatform& platform, Console& console,
                               std::function<QString(const Shortcut&)> describe, QObject* parent)
    : QObject(parent), m_platform(platform), m_console(console), m_describe(std::move(describe))
{
}

HotKeyRegistry::~HotKeyRegistry()
{
    setWatchingApplicationKeys(false);
    // The platform outlives this object: leave no grab behind. Its handler holds this object weakly.
    for (auto& [id, hotKey] : m_hotKeys)
        if (hotKey.registeredHotKey)
            m_platform.unregisterHotKey(*hotKey.registeredHotKey);
}

void HotKeyRegistry::logRefusal(const Shortcut& shortcut, int status)
{
    m_console.line(QStringLiteral("Error registering hotkey ") + m_describe(shortcut) + QStringLiteral(": ") +
                   QString::number(static_cast<qint32>(status)));
}

void HotKeyRegistry::registerShortcut(const Shortcut& shortcut, Action onKeyDown, Action onKeyUp)
{
    const quint32 id = ++m_hotKeyIdCounter;
    HotKeyRef ref = 0;
    const int status = m_platform.registerHotKey(shortcut.keyCode, shortcut.keyModifiers,
                                                 HotKeyIdentifier{signature, id}, ref);
    if (status != hotKeyNoError || ref == 0) {
        logRefusal(shortcut, status);
        return;
    }
    m_hotKeys[id] = HotKey{shortcut, id, ref, std::move(onKeyDown), std::move(onKeyUp)};

    if (!m_hasEventHandler) {
        QPointer<HotKeyRegistry> self(this);
        const bool installed =
            m_platform.installEventHandler([self](HotKeyEventKind kind, HotKeyIdentifier identifier) {
                if (!self)
                    return hotKeyNotHandled;
                const Event event{static_cast<int>(kind), identifier, std::nullopt, std::nullopt};
                return self->handleEvent(&event);
            });
        // A failed installation leaves the registration standing; the next one tries again.
        if (installed) {
            m_hasEventHandler = true;
            updateEventHandler();
        }
    }
}

void HotKeyRegistry::unregisterShortcut(const Shortcut& shortcut)
{
    for (auto it = m_hotKeys.begin(); it != m_hotKeys.end();) {
        if (it->second.shortcut == shortcut) {
            if (it->second.registeredHotKey)
                m_platform.unregisterHotKey(*it->second.registeredHotKey);
            it = m_hotKeys.erase(it);
        } else {
            ++it;
        }
    }
}

void HotKeyRegistry::unregisterAll()
{
    for (auto& [id, hotKey] : m_hotKeys) {
        if (hotKey.registeredHotKey)
            m_platform.unregisterHotKey(*hotKey.registeredHotKey);
        hotKey.registeredHotKey.reset();
    }
}

void HotKeyRegistry::registerAll()
{
    for (auto it = m_hotKeys.begin(); it != m_hotKeys.end();) {
        HotKey& hotKey = it->second;
        if (hotKey.registeredHotKey) {
            ++it;
            continue;
        }
        HotKeyRef ref = 0;
        const int status = m_platform.registerHotKey(hotKey.shortcut.keyCode, hotKey.shortcut.keyModifiers,
                                                     HotKeyIdentifier{signature, hotKey.registeredHotKeyId}, ref);
        if (status == hotKeyNoError && ref != 0) {
            hotKey.registeredHotKey = ref;
            ++it;
        } else {
            logRefusal(hotKey.shortcut, status);
            it = m_hotKeys.erase(it);
        }
    }
}

void HotKeyRegistry::updateEventHandler()
{
    if (!m_hasEventHandler)
        return;
    if (!m_isEnabled) {
        unregisterAll();
        m_platform.setHotKeyEventsEnabled(false);
        setWatchingApplicationKeys(false);
        return;
    }
    if (isMenuOpen()) {
        // A menu holding the keyboard keeps grabbed keys from being reported; its key events are
        // watched instead.
        unregisterAll();
        m_platform.setHotKeyEventsEnabled(false);
        setWatchingApplicationKeys(true);
        return;
    }
    if (m_isPaused) {
        // The recorder has the focus: a grabbed shortcut would never reach it, so the keys are released
        // and arrive as ordinary key events.
        unregisterAll();
        m_platform.setHotKeyEventsEnabled(false);
        setWatchingApplicationKeys(false);
        return;
    }
    registerAll();
    setWatchingApplicationKeys(false);
    m_platform.setHotKeyEventsEnabled(true);
}

void HotKeyRegistry::setEnabled(bool enabled)
{
    if (enabled == m_isEnabled)
        return;
    m_isEnabled = enabled;
    updateEventHandler();
}

void HotKeyRegistry::setPaused(bool paused)
{
    if (paused == m_isPaused)
        return;
    m_isPaused = paused;
    updateEventHandler();
}

void HotKeyRegistry::menuDidBeginTracking()
{
    if (++m_menuDepth == 1)
        updateEventHandler();
}

void HotKeyRegistry::menuDidEndTracking()
{
    if (m_menuDepth == 0)
        return;
    if (--m_menuDepth == 0)
        updateEventHandler();
}

const HotKeyRegistry::HotKey* HotKeyRegistry::findHotKey(int keyCode, int keyModifiers) const
{
    const int modifiers = keyModifiers & recognisedKeyModifiers;
    for (const auto& [id, hotKey] : m_hotKeys)
        if (hotKey.shortcut.keyCode == keyCode && hotKey.shortcut.keyModifiers == modifiers)
            return &hotKey;
    return nullptr;
}

int HotKeyRegistry::handleEvent(const Event* event)
{
    if (!event)
        return hotKeyNotHandled;

    // The action may change the registrations, so it runs from copies.
    Action action;
    Shortcut shortcut;
    switch (event->kind) {
        case hotKeyPressed:
        case hotKeyReleased: {
            if (!event->hotKeyId)
                return eventParameterNotFoundErr;
            if (event->hotKeyId->signature != signature)
                return hotKeyNotHandled;
            const auto found = m_hotKeys.find(event->hotKeyId->id);
            if (found == m_hotKeys.end())
                return hotKeyNotHandled;
            shortcut = found->second.shortcut;
            action = event->kind == hotKeyPressed ? found->second.onKeyDown : found->second.onKeyUp;
            break;
        }
        case rawKeyDown:
        case rawKeyUp: {
            if (!event->keyCode || !event->modifiers)
                return eventParameterNotFoundErr;
            const HotKey* hotKey = findHotKey(static_cast<int>(*event->keyCode), static_cast<int>(*event->modifiers));
            if (!hotKey)
                return hotKeyNotHandled;
            shortcut = hotKey->shortcut;
            action = event->kind == rawKeyDown ? hotKey->onKeyDown : hotKey->onKeyUp;
            break;
        }
        default:
            return hotKeyNotHandled;
    }
    if (action)
        action(shortcut);
    return hotKeyNoError;
}

void HotKeyRegistry::setWatchingApplicationKeys(bool watching)
{
    if (watching == m_isWatchingApplicationKeys)
        return;
    m_isWatchingApplicationKeys = watching;
    m_pressedWhileWatching.reset();
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (watching)
        app->installEventFilter(this);
    else
        app->removeEventFilter(this);
}

bool HotKeyRegistry::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto keyCode = keyCodeFromX11Keycode(static_cast<int>(key->nativeScanCode()));
    if (!keyCode)
        return false;
    int modifiers = modifiersFromX11State(key->nativeModifiers());

    if (type == QEvent::ShortcutOverride || key->isAutoRepeat()) {
        // Ours, but already dispatched (repeats) or about to be (the override precedes the press):
        // claim it so that neither the menu nor an application shortcut acts on it.
        if (!findHotKey(*keyCode, modifiers))
            return false;
        event->accept();
        return true;
    }

    if (type == QEvent::KeyRelease && m_pressedWhileWatching && m_pressedWhileWatching->keyCode == *keyCode) {
        modifiers = m_pressedWhileWatching->keyModifiers;
        m_pressedWhileWatching.reset();
    }
    const Event raw{type == QEvent::KeyPress ? rawKeyDown : rawKeyUp, std::nullopt, static_cast<quint32>(*keyCode),
                    static_cast<quint32>(modifiers)};
    // Remembered before dispatching: an action that ends tracking forgets the press again.
    if (type == QEvent::KeyPress) {
        if (const HotKey* hotKey = findHotKey(*keyCode, modifiers))
            m_pressedWhileWatching = hotKey->shortcut;
        else if (m_pressedWhileWatching && m_pressedWhileWatching->keyCode == *keyCode)
            m_pressedWhileWatching.reset();  // a new press of that key: the earlier one is over
    }
    return handleEvent(&raw) == hotKeyNoError;
}

}  // namespace nimbrel::KeyboardShortcuts
