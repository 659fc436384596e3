#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/QtKeys.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "support/FakeBusService.h"
#include "support/fake/FakePlatform.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QMutex>

#include <gtest/gtest.h>

#include <memory>

using namespace nimbrel;
using namespace nimbrel::KeyboardShortcuts;
using native::PortalGlobalShortcuts;
using native::PortalShortcut;

namespace {

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct Bind {
    QString session;
    QStringList ids;
    QStringList preferred;
};

// The desktop portal's global shortcuts: sessions and binds answered at once, the way the portal documents
// them (the call returns the request's path, the result comes as that request's Response).
class FakePortal final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QMutexLocker lock(&m_mutex);
        members.append(message.member());
        if (silent)
            return true;  // never answered
        // The portal's own signatures: a call with other argument types is refused as it would be there.
        if (!QString("CreateSession:a{sv} BindShortcuts:oa(sa{sv})sa{sv} Close:")
                 .split(' ')
                 .contains(message.member() + ':' + message.signature())) {
            connection.send(message.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", message.member()));
            return true;
        }
        const QList<QVariant> arguments = message.arguments();
        const QString sender = message.service().mid(1).replace(u'.', u'_');
        const auto path = [&](const char* kind, const QVariant& options, const char* token) -> QString {
            return portalPath + kind + sender + u'/' + qdbus_cast<QVariantMap>(options).value(token).toString();
        };
        if (message.member() == "Close") {
            closed.append(message.path());
            connection.send(message.createReply());
        } else if (message.member() == "CreateSession") {
            const QString request = path("/request/", arguments.value(0), "handle_token");
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            sessions.append(path("/session/", arguments.value(0), "session_handle_token"));
            respond(connection, request, 0, {{"session_handle", sessions.last()}});
        } else {
            const QString request = path("/request/", arguments.value(3), "handle_token");
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            Bind bind{qdbus_cast<QDBusObjectPath>(arguments.value(0)).path(), {}, {}};
            QList<PortalShortcut> bound;
            for (const PortalShortcut& shortcut : qdbus_cast<QList<PortalShortcut>>(arguments.value(1))) {
                const QString preferred = shortcut.properties.value("preferred_trigger").toString();
                bind.ids.append(shortcut.id);
                bind.preferred.append(preferred);
                bound.append({shortcut.id, {{"trigger_description", preferred}}});
            }
            binds.append(bind);
            respond(connection, request, 0, {{"shortcuts", QVariant::fromValue(bound)}});
        }
        return true;
    }

    template <typename T>
    T get(const T& field) const
    {
        QMutexLocker lock(&m_mutex);
        return field;
    }

    bool silent = false;  // set before the test's first call, read in the service thread
    // What it was asked; read through get().
    QStringList members, sessions, closed;
    QList<Bind> binds;

private:
    static void respond(const QDBusConnection& connection, const QString& request, uint response,
                        const QVariantMap& results)
    {
        QDBusMessage signal = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        connection.send(signal);
    }

    mutable QMutex m_mutex;
};

class PortalGlobalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.connected()) << "no private dbus-daemon";
        ASSERT_TRUE(bus.watch(activation(portalPath, "marker")));
    }

    void startPortal() { bus.start("org.freedesktop.portal.Desktop", portalPath, true); }

    PortalGlobalShortcuts& make(int timeoutMs = 2000)
    {
        shortcuts = std::make_unique<PortalGlobalShortcuts>(console, bus.client, timeoutMs);
        shortcuts->installEventHandler(events.handler());
        shortcuts->setHotKeyEventsEnabled(true);
        return *shortcuts;
    }

    static QDBusMessage activation(const QString& session, const QString& id)
    {
        QDBusMessage message = QDBusMessage::createSignal(portalPath, shortcutsInterface,
                                                          id.startsWith('-') ? "Deactivated" : "Activated");
        return message << QVariant::fromValue(QDBusObjectPath(session)) << id.mid(id.startsWith('-')) << qulonglong(1)
                       << QVariantMap();
    }

    // Sends the signals ("-" for Deactivated) and waits until the test's connection has handled them all.
    void emitShortcuts(const QString& session, const QStringList& ids)
    {
        ASSERT_TRUE(bus.sendInOrder(ids, [&](const QString& id) { return activation(session, id); }));
    }

    test::FakeBusService<FakePortal> bus;
    fake::RecordingConsole console;
    test::HotKeyEvents events;
    std::unique_ptr<PortalGlobalShortcuts> shortcuts;
};

using Event = test::HotKeyEvents::Event;
constexpr auto pressed = HotKeyEventKind::pressed;

TEST(PortalTrigger, IsTheCombinationInTheShortcutsFormat)
{
    const std::tuple<int, int, const char*> rows[] = {
        {Key::f5, modControl | modAlt, "CTRL+ALT+F5"},
        {Key::keypad5, modSuper, "LOGO+KP_5"},
        {Key::backtick, modControl, "CTRL+grave"},
        {Key::space, modShift, "SHIFT+space"},
        {Key::pageUp, modSuper | modControl | modAlt | modShift, "LOGO+CTRL+ALT+SHIFT+Prior"},
    };
    for (const auto& [key, modifiers, trigger] : rows)
        EXPECT_EQ(PortalGlobalShortcuts::trigger(*qtKeyCombination(key, modifiers)), trigger);
}

TEST_F(PortalGlobalShortcutsTest, BindsOnOneSessionAndEventsOfItsOwnSessionReachTheirHandler)
{
    startPortal();
    PortalGlobalShortcuts& shortcuts = make();
    HotKeyRef ref = 0, other = 0;
    ASSERT_EQ(shortcuts.registerHotKey(Key::v, modSuper | modShift, {1, 1}, ref), hotKeyNoError);
    ASSERT_EQ(shortcuts.registerHotKey(Key::b, modControl, {1, 2}, other), hotKeyNoError);
    ASSERT_TRUE(test::waitUntil([&] { return console.lines.size() == 2; }));
    EXPECT_TRUE(console.lines.join(' ').contains("Meta+Shift+V bound to LOGO+SHIFT+v"));
    // Registered while the session was being made: one session, one bind with both.
    ASSERT_EQ(bus.fake->get(bus.fake->sessions).size(), 1);
    const QString session = bus.fake->get(bus.fake->sessions)[0];
    const QList<Bind> binds = bus.fake->get(bus.fake->binds);
    ASSERT_EQ(binds.size(), 1);
    EXPECT_EQ(binds[0].session, session);
    EXPECT_EQ(binds[0].ids, (QStringList{"hotkey-LOGO+SHIFT+v", "hotkey-CTRL+b"}));
    EXPECT_EQ(binds[0].preferred, (QStringList{"LOGO+SHIFT+v", "CTRL+b"}));

    // Another session's shortcut of the same id, and an id Nimbrel never bound, reach nobody.
    emitShortcuts(session, {"hotkey-LOGO+SHIFT+v", "-hotkey-LOGO+SHIFT+v", "hotkey-CTRL+b", "hotkey-CTRL+x"});
    emitShortcuts(portalPath + "/session/1_99/other", {"hotkey-LOGO+SHIFT+v"});
    EXPECT_EQ(events.seen, (QList<Event>{{pressed, 1}, {HotKeyEventKind::released, 1}, {pressed, 2}}));

    // Released and taken again, as while a menu holds the keyboard: the desktop is not asked again.
    events.seen.clear();
    shortcuts.unregisterHotKey(ref);
    emitShortcuts(session, {"hotkey-LOGO+SHIFT+v"});
    EXPECT_TRUE(events.seen.isEmpty());
    ASSERT_EQ(shortcuts.registerHotKey(Key::v, modSuper | modShift, {1, 3}, ref), hotKeyNoError);
    emitShortcuts(session, {"hotkey-LOGO+SHIFT+v"});
    EXPECT_EQ(events.seen, (QList<Event>{{pressed, 3}}));
    EXPECT_EQ(bus.fake->get(bus.fake->members), (QStringList{"CreateSession", "BindShortcuts"}));

    // A session is bound once: a new combination replaces it with one that has all of them.
    ASSERT_EQ(shortcuts.registerHotKey(Key::x, modAlt, {1, 4}, other), hotKeyNoError);
    ASSERT_TRUE(test::waitUntil([&] { return bus.fake->get(bus.fake->binds).size() == 2; }));
    const Bind bind = bus.fake->get(bus.fake->binds)[1];
    EXPECT_EQ(bus.fake->get(bus.fake->closed), QStringList{session});
    EXPECT_EQ(bind.session, bus.fake->get(bus.fake->sessions).value(1));
    EXPECT_EQ(bind.ids, (QStringList{"hotkey-CTRL+b", "hotkey-LOGO+SHIFT+v", "hotkey-ALT+x"}));
    events.seen.clear();
    emitShortcuts(session, {"hotkey-ALT+x"});
    emitShortcuts(bind.session, {"hotkey-ALT+x"});
    EXPECT_EQ(events.seen, (QList<Event>{{pressed, 4}}));

    // Quitting closes the session.
    this->shortcuts.reset();
    EXPECT_TRUE(test::waitUntil([&] { return bus.fake->get(bus.fake->closed).size() == 2; }));
    EXPECT_EQ(bus.fake->get(bus.fake->closed).value(1), bind.session);
}

// Without a portal, or with one that never answers, registering is one line and a status, never a hang.
TEST_F(PortalGlobalShortcutsTest, AnAbsentOrSilentPortalIsOneLineAndAStatusWithoutHanging)
{
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "portal never answers" : "no portal");
        shortcuts.reset();
        console.lines.clear();
        if (present) {
            startPortal();
            bus.fake->silent = true;
        }
        QElapsedTimer elapsed;
        elapsed.start();
        HotKeyRef ref = 0;
        EXPECT_EQ(make(300).registerHotKey(Key::v, modSuper | modShift, {1, 1}, ref), hotKeyInvalid);
        EXPECT_TRUE(test::waitUntil([&] {
            return console.lines.size() == 1 && console.lines[0].contains("cannot register Meta+Shift+V");
        })) << console.lines.join(u'\n').toStdString();
        EXPECT_LT(elapsed.elapsed(), 3000);
    }
}

}  // namespace
