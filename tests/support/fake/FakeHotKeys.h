#pragma once

// Test doubles of the hot-key service and the keyboard layout.

#include "platform/HotKeyPlatform.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>
#include <utility>

namespace nimbrel::fake {

// Records registrations and releases; a test can refuse a combination, fail the handler installation,
// and press or release a registered combination as the desktop would report it.
class FakeHotKeyPlatform final : public HotKeyPlatform {
public:
    struct Registration {
        int keyCode = 0;
        int keyModifiers = 0;
        HotKeyIdentifier identifier;
        HotKeyRef ref = 0;
    };

    int registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref) override
    {
        attempts.append({keyCode, keyModifiers, identifier, 0});
        if (refused.contains({keyCode, keyModifiers}))
            return refusalStatus;
        ref = m_nextRef++;
        active.insert(ref, {keyCode, keyModifiers, identifier, ref});
        return hotKeyNoError;
    }
    void unregisterHotKey(HotKeyRef ref) override
    {
        released.append(ref);
        active.remove(ref);
    }
    bool installEventHandler(Handler h) override
    {
        handler = std::move(h);
        return true;
    }
    void setHotKeyEventsEnabled(bool enabled) override { eventsEnabled = enabled; }

    // The user presses or releases a combination: delivered only when it is grabbed, a handler is
    // installed and events are on. std::nullopt when nothing was delivered.
    std::optional<int> press(int keyCode, int keyModifiers)
    {
        return fire(HotKeyEventKind::pressed, keyCode, keyModifiers);
    }
    std::optional<int> release(int keyCode, int keyModifiers)
    {
        return fire(HotKeyEventKind::released, keyCode, keyModifiers);
    }
    // Hands an event for any identifier straight to the installed handler.
    int deliver(HotKeyEventKind kind, HotKeyIdentifier identifier) { return handler(kind, identifier); }

    // The active registration of a combination, if any.
    std::optional<Registration> registration(int keyCode, int keyModifiers) const
    {
        for (const Registration& r : active)
            if (r.keyCode == keyCode && r.keyModifiers == keyModifiers)
                return r;
        return std::nullopt;
    }
    // The identifiers' ids of the active registrations, in ref order.
    QList<quint32> activeIds() const
    {
        QList<quint32> ids;
        for (const Registration& r : active)
            ids.append(r.identifier.id);
        return ids;
    }

    QList<Registration> attempts;
    QMap<HotKeyRef, Registration> active;
    QList<HotKeyRef> released;
    QSet<std::pair<int, int>> refused;
    int refusalStatus = hotKeyTaken;
    Handler handler;
    bool eventsEnabled = false;

private:
    std::optional<int> fire(HotKeyEventKind kind, int keyCode, int keyModifiers)
    {
        const auto r = registration(keyCode, keyModifiers);
        if (!r || !handler || !eventsEnabled)
            return std::nullopt;
        return handler(kind, r->identifier);
    }

    HotKeyRef m_nextRef = 1;
};

// A layout given as stored key code → unshifted text.
class FakeKeyboardLayout final : public KeyboardLayout {
public:
    QString unshiftedText(int keyCode) const override { return texts.value(keyCode); }
    QMap<int, QString> texts;
};

}  // namespace nimbrel::fake
