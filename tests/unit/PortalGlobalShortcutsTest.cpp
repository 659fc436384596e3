#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Key.h"
#include "support/fake/FakePlatform.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "support/PrivateSessionBus.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

using namespace nimbrel;
using namespace nimbrel::native;
using KeyboardShortcuts::modSuper;
using KeyboardShortcuts::modControl;
using KeyboardShortcuts::modAlt;
using KeyboardShortcuts::modShift;
using KeyboardShortcuts::Key;

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct Bind {
    QString session;
    QList<PortalShortcut> shortcuts;
    QString parentWindow;
    QVariantMap options;
};

// The desktop portal's global shortcuts: sessions and binds answered at once, the way the portal documents
// them (the call returns the request's path, the result comes as that request's Response).
class FakePortal final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QMutexLocker lock(&m_mutex);
        m_members.append(message.member());
        if (silent)
            return true;  // never answered
        // The portal's own signatures: a call with other argument types is refused as it would be there.
        static const QHash<QString, QString> signatures = {
            {QStringLiteral("CreateSession"), QStringLiteral("a{sv}")},
            {QStringLiteral("BindShortcuts"), QStringLiteral("oa(sa{sv})sa{sv}")},
            {QStringLiteral("Close"), QString()},
        };
        if (!signatures.contains(message.member()) || signatures.value(message.member()) != message.signature()) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                                     message.member() + u'(' + message.signature() + u')'));
            return true;
        }
        const QString sender = message.service().mid(1).replace(u'.', u'_');
        const QList<QVariant> arguments = message.arguments();
        if (message.member() == QLatin1String("CreateSession")) {
            const auto options = qdbus_cast<QVariantMap>(arguments.value(0));
            const QString request = portalPath + QStringLiteral("/request/") + sender + u'/' +
                                    options.value(QStringLiteral("handle_token")).toString();
            const QString session = portalPath + QStringLiteral("/session/") + sender + u'/' +
                                    options.value(QStringLiteral("session_handle_token")).toString();
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            if (!answerSessions)
                return true;
            m_sessions.append(session);
            respond(connection, request, 0, {{QStringLiteral("session_handle"), session}});
        } else if (message.member() == QLatin1String("BindShortcuts")) {
            Bind bind{qdbus_cast<QDBusObjectPath>(arguments.value(0)).path(),
                      qdbus_cast<QList<PortalShortcut>>(arguments.value(1)), arguments.value(2).toString(),
                      qdbus_cast<QVariantMap>(arguments.value(3))};
            m_binds.append(bind);
            const QString request = portalPath + QStringLiteral("/request/") + sender + u'/' +
                                    bind.options.value(QStringLiteral("handle_token")).toString();
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            QList<PortalShortcut> bound;
            for (const PortalShortcut& shortcut : std::as_const(bind.shortcuts)) {
                if (unassigned.contains(shortcut.id))
                    continue;
                const QString trigger = assigned.value(
                    shortcut.id, shortcut.properties.value(QStringLiteral("preferred_trigger")).toString());
                bound.append(PortalShortcut{
                    shortcut.id,
                    {{QStringLiteral("description"), shortcut.properties.value(QStringLiteral("description"))},
                     {QStringLiteral("trigger_description"), trigger}}});
            }
            respond(connection, request, bindResponse,
                    bindResponse == 0 ? QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}}
                                      : QVariantMap());
        } else {
            m_closed.append(message.path());
            connection.send(message.createReply());
        }
        return true;
    }

    QStringList members() const
    {
        QMutexLocker lock(&m_mutex);
        return m_members;
    }
    QStringList sessions() const
    {
        QMutexLocker lock(&m_mutex);
        return m_sessions;
    }
    QList<Bind> binds() const
    {
        QMutexLocker lock(&m_mutex);
        return m_binds;
    }
    QStringList closed() const
    {
        QMutexLocker lock(&m_mutex);
        return m_closed;
    }

    // Set before the test's first call, read in the service thread.
    bool silent = false;
    bool answerSessions = true;
    uint bindResponse = 0;
    QHash<QString, QString> assigned;  // id → trigger the desktop gives instead of the preferred one
    QSet<QString> unassigned;          // ids the desktop leaves out

private:
    static void respond(const QDBusConnection& connection, const QString& request, uint response,
                        const QVariantMap& results)
    {
        QDBusMessage signal = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                         QStringLiteral("Response"));
        signal << response << results;
        connection.send(signal);
    }

    mutable QMutex m_mutex;
    QStringList m_members;
    QStringList m_sessions;
    QList<Bind> m_binds;
    QStringList m_closed;
};

// Counts the marker signals the test's own connection sees: once a marker sent last arrives, everything
// sent before it was handled too.
class SignalProbe final : public QObject {
    Q_OBJECT
public:
    int seen = 0;
public Q_SLOTS:
    void activated(const QDBusMessage& message)
    {
        if (message.arguments().value(1).toString() == QLatin1String("marker"))
            ++seen;
    }
};

struct Event {
    HotKeyEventKind kind;
    HotKeyIdentifier identifier;
    friend bool operator==(const Event&, const Event&) = default;
};

constexpr HotKeyIdentifier first{0x484B5247, 1};
constexpr HotKeyIdentifier second{0x484B5247, 2};

class PortalGlobalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        ASSERT_FALSE(bus.address().isEmpty()) << "no private dbus-daemon";
        service = bus.connect();
        client = bus.connect();
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(client.isConnected());
        ASSERT_TRUE(client.connect(QString(), portalPath, shortcutsInterface, QStringLiteral("Activated"), &probe,
                                   SLOT(activated(QDBusMessage))));
    }

    void TearDown() override
    {
        shortcuts.reset();
        stopPortal();
    }

    // The fake portal on the bus, answering from its own thread; it also gets the calls on its sessions.
    void startPortal()
    {
        fake = new FakePortal;
        ASSERT_TRUE(service.registerVirtualObject(portalPath, fake, QDBusConnection::SubPath));
        fake->moveToThread(serviceThread.thread());
        ASSERT_TRUE(service.registerService(portalService));
    }

    void stopPortal()
    {
        if (!fake)
            return;
        service.unregisterObject(portalPath);
        service.unregisterService(portalService);
        FakePortal* gone = std::exchange(fake, nullptr);
        QMetaObject::invokeMethod(
            gone, [gone] { delete gone; }, Qt::BlockingQueuedConnection);
    }

    PortalGlobalShortcuts& make(int timeoutMs = 2000)
    {
        shortcuts = std::make_unique<PortalGlobalShortcuts>(console, client, timeoutMs);
        shortcuts->installEventHandler([this](HotKeyEventKind kind, HotKeyIdentifier identifier) {
            events.append(Event{kind, identifier});
            return hotKeyNoError;
        });
        shortcuts->setHotKeyEventsEnabled(true);
        return *shortcuts;
    }

    bool consoleSays(const QString& text) const
    {
        for (const QString& line : console.lines)
            if (line.contains(text))
                return true;
        return false;
    }

    void emitShortcut(const char* signal, const QString& session, const QString& id)
    {
        QDBusMessage message = QDBusMessage::createSignal(portalPath, shortcutsInterface, QLatin1String(signal));
        message << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1234) << QVariantMap();
        ASSERT_TRUE(service.send(message));
    }

    void flushSignals()
    {
        const int before = probe.seen;
        emitShortcut("Activated", portalPath + QStringLiteral("/session/marker"), QStringLiteral("marker"));
        ASSERT_TRUE(test::waitUntil([&] { return probe.seen > before; }));
    }

    test::PrivateSessionBus bus;
    test::ServiceThread serviceThread;
    QDBusConnection service{QString()};
    QDBusConnection client{QString()};
    FakePortal* fake = nullptr;
    SignalProbe probe;
    fake::RecordingConsole console;
    std::unique_ptr<PortalGlobalShortcuts> shortcuts;
    QList<Event> events;
};

TEST_F(PortalGlobalShortcutsTest, BindsTheCombinationWithItsTriggerInTheShortcutsFormat)
{
    startPortal();
    struct Row {
        int storedKey;
        int keyModifiers;
        QString trigger;
    };
    const Row rows[] = {
        {Key::v, modSuper | modShift, QStringLiteral("LOGO+SHIFT+v")},
        {Key::v, modControl | modShift, QStringLiteral("CTRL+SHIFT+v")},
        {Key::f5, modControl | modAlt, QStringLiteral("CTRL+ALT+F5")},
        {Key::keypad5, modSuper, QStringLiteral("LOGO+KP_5")},
        {Key::backtick, modControl, QStringLiteral("CTRL+grave")},
        {Key::space, modShift, QStringLiteral("SHIFT+space")},
        {Key::pageUp, modSuper | modControl | modAlt | modShift,
         QStringLiteral("LOGO+CTRL+ALT+SHIFT+Prior")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.trigger.toStdString());
        const qsizetype bindsBefore = fake->binds().size();
        console.lines.clear();
        HotKeyRef ref = 0;
        EXPECT_EQ(make().registerHotKey(row.storedKey, row.keyModifiers, first, ref), hotKeyNoError);
        EXPECT_NE(ref, 0u);
        // The bind follows the session's Response, which came on the path subscribed before asking.
        ASSERT_TRUE(test::waitUntil([&] { return fake->binds().size() > bindsBefore; }));
        const Bind bind = fake->binds().constLast();
        EXPECT_EQ(bind.session, fake->sessions().constLast());
        EXPECT_EQ(bind.parentWindow, QString());
        EXPECT_FALSE(bind.options.value(QStringLiteral("handle_token")).toString().isEmpty());
        ASSERT_EQ(bind.shortcuts.size(), 1);
        EXPECT_EQ(bind.shortcuts[0].id, QStringLiteral("hotkey-") + row.trigger);
        EXPECT_EQ(bind.shortcuts[0].properties.value(QStringLiteral("preferred_trigger")).toString(), row.trigger);
        EXPECT_FALSE(bind.shortcuts[0].properties.value(QStringLiteral("description")).toString().isEmpty());
        EXPECT_TRUE(test::waitUntil([&] { return consoleSays(QStringLiteral("bound to ") + row.trigger); }))
            << console.lines.join(u'\n').toStdString();
    }
}

TEST_F(PortalGlobalShortcutsTest, ReportsWhatTheDesktopMadeOfTheRequest)
{
    struct Row {
        const char* name;
        uint response;
        QString assigned;  // empty: the preferred one
        bool leftOut;
        QString consoleText;
    };
    const Row rows[] = {
        {"another trigger", 0, QStringLiteral("Ctrl+Alt+P"), false, QStringLiteral("Meta+Shift+V bound to Ctrl+Alt+P")},
        {"left out", 0, {}, true, QStringLiteral("the desktop did not bind Meta+Shift+V")},
        {"user declined", 1, {}, false, QStringLiteral("Meta+Shift+V not bound, the user cancelled it")},
        {"desktop ended it", 2, {}, false, QStringLiteral("Meta+Shift+V not bound, the desktop ended it")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        startPortal();
        fake->bindResponse = row.response;
        if (!row.assigned.isEmpty())
            fake->assigned.insert(QStringLiteral("hotkey-LOGO+SHIFT+v"), row.assigned);
        if (row.leftOut)
            fake->unassigned.insert(QStringLiteral("hotkey-LOGO+SHIFT+v"));
        console.lines.clear();
        HotKeyRef ref = 0;
        EXPECT_EQ(make().registerHotKey(Key::v, modSuper | modShift, first, ref), hotKeyNoError);
        EXPECT_TRUE(test::waitUntil([&] { return consoleSays(row.consoleText); }))
            << console.lines.join(u'\n').toStdString();
        EXPECT_EQ(console.lines.size(), 1) << console.lines.join(u'\n').toStdString();
    }
}

TEST_F(PortalGlobalShortcutsTest, ActivatedAndDeactivatedReachTheHandlerOfTheirShortcutInTheSession)
{
    startPortal();
    PortalGlobalShortcuts& shortcuts = make();
    HotKeyRef ref = 0;
    ASSERT_EQ(shortcuts.registerHotKey(Key::v, modSuper | modShift, first, ref), hotKeyNoError);
    ASSERT_EQ(shortcuts.registerHotKey(Key::b, modControl, second, ref), hotKeyNoError);
    ASSERT_TRUE(test::waitUntil([&] { return console.lines.size() == 2; }));
    // Registered while the session was being made: one session, one bind with both.
    ASSERT_EQ(fake->sessions().size(), 1);
    ASSERT_EQ(fake->binds().size(), 1);
    EXPECT_EQ(fake->binds()[0].shortcuts.size(), 2);
    const QString session = fake->sessions()[0];
    const QString v = QStringLiteral("hotkey-LOGO+SHIFT+v");

    emitShortcut("Activated", session, v);
    emitShortcut("Deactivated", session, v);
    emitShortcut("Activated", session, QStringLiteral("hotkey-CTRL+b"));
    // Another session's shortcut of the same id, and an id Nimbrel never bound.
    emitShortcut("Activated", portalPath + QStringLiteral("/session/1_99/other"), v);
    emitShortcut("Activated", session, QStringLiteral("hotkey-CTRL+x"));
    flushSignals();
    const QList<Event> expected{
        {HotKeyEventKind::pressed, first}, {HotKeyEventKind::released, first}, {HotKeyEventKind::pressed, second}};
    EXPECT_EQ(events, expected);
}

TEST_F(PortalGlobalShortcutsTest, RegisteringAgainAsksNothingAndANewCombinationBindsEverythingOnANewSession)
{
    startPortal();
    PortalGlobalShortcuts& shortcuts = make();
    HotKeyRef ref = 0;
    ASSERT_EQ(shortcuts.registerHotKey(Key::v, modSuper | modShift, first, ref), hotKeyNoError);
    ASSERT_TRUE(test::waitUntil([&] { return console.lines.size() == 1; }));
    const QString oldSession = fake->sessions().value(0);

    // Released and taken again, as while a menu holds the keyboard: the desktop is not asked again.
    shortcuts.unregisterHotKey(ref);
    emitShortcut("Activated", oldSession, QStringLiteral("hotkey-LOGO+SHIFT+v"));
    flushSignals();
    EXPECT_TRUE(events.isEmpty());
    ASSERT_EQ(shortcuts.registerHotKey(Key::v, modSuper | modShift, second, ref), hotKeyNoError);
    emitShortcut("Activated", oldSession, QStringLiteral("hotkey-LOGO+SHIFT+v"));
    flushSignals();
    EXPECT_EQ(events, (QList<Event>{{HotKeyEventKind::pressed, second}}));
    EXPECT_EQ(fake->members(), (QStringList{QStringLiteral("CreateSession"), QStringLiteral("BindShortcuts")}));

    // A session is bound once: a new combination replaces it with one that has both.
    events.clear();
    HotKeyRef other = 0;
    ASSERT_EQ(shortcuts.registerHotKey(Key::b, modControl, first, other), hotKeyNoError);
    ASSERT_TRUE(test::waitUntil([&] { return fake->binds().size() == 2; }));
    EXPECT_EQ(fake->closed(), QStringList{oldSession});
    const Bind bind = fake->binds()[1];
    EXPECT_EQ(bind.session, fake->sessions().value(1));
    EXPECT_NE(bind.session, oldSession);
    QStringList ids;
    for (const PortalShortcut& shortcut : bind.shortcuts)
        ids.append(shortcut.id);
    EXPECT_EQ(ids, (QStringList{QStringLiteral("hotkey-LOGO+SHIFT+v"), QStringLiteral("hotkey-CTRL+b")}));

    emitShortcut("Activated", oldSession, QStringLiteral("hotkey-CTRL+b"));
    emitShortcut("Activated", bind.session, QStringLiteral("hotkey-CTRL+b"));
    flushSignals();
    EXPECT_EQ(events, (QList<Event>{{HotKeyEventKind::pressed, first}}));

    // Quitting closes the session.
    this->shortcuts.reset();
    EXPECT_TRUE(test::waitUntil([&] { return fake->closed().size() == 2; }));
    EXPECT_EQ(fake->closed().value(1), bind.session);
}

TEST_F(PortalGlobalShortcutsTest, AnAbsentOrSilentPortalIsReportedWithoutHanging)
{
    struct Row {
        const char* name;
        bool portal;
        bool silent;
        bool answerSessions;
        int status;
        QString consoleText;
    };
    const Row rows[] = {
        {"no portal", false, false, true, hotKeyInvalid, QStringLiteral("cannot register Meta+Shift+V")},
        {"portal never answers", true, true, true, hotKeyInvalid,
         QStringLiteral("cannot register Meta+Shift+V")},
        {"session never answered", true, false, false, hotKeyNoError,
         QStringLiteral("no session, the portal did not answer")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        if (row.portal) {
            startPortal();
            fake->silent = row.silent;
            fake->answerSessions = row.answerSessions;
        }
        console.lines.clear();
        QElapsedTimer elapsed;
        elapsed.start();
        HotKeyRef ref = 0;
        EXPECT_EQ(make(300).registerHotKey(Key::v, modSuper | modShift, first, ref), row.status);
        EXPECT_TRUE(test::waitUntil([&] { return consoleSays(row.consoleText); }))
            << console.lines.join(u'\n').toStdString();
        EXPECT_LT(elapsed.elapsed(), 3000);
        EXPECT_EQ(console.lines.size(), 1) << console.lines.join(u'\n').toStdString();
    }
}

}  // namespace

#include "PortalGlobalShortcutsTest.moc"
