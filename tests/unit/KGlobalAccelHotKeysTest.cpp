#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/Key.h"
#include "support/fake/FakePlatform.h"
#include "platform/linux/KGlobalAccelHotKeys.h"
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
using KeyboardShortcuts::modFunction;
using KeyboardShortcuts::modAlt;
using KeyboardShortcuts::modShift;
using KeyboardShortcuts::Key;

namespace {

// One entry of getGlobalShortcutsByKey's answer, a(ssssssaiai).
struct ShortcutInfo {
    QString action, actionName, component, componentName, context, contextName;
    QList<int> keys, defaultKeys;
};

QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutInfo& info)
{
    argument.beginStructure();
    argument << info.action << info.actionName << info.component << info.componentName << info.context
             << info.contextName << info.keys << info.defaultKeys;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutInfo& info)
{
    argument.beginStructure();
    argument >> info.action >> info.actionName >> info.component >> info.componentName >> info.context >>
        info.contextName >> info.keys >> info.defaultKeys;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(ShortcutInfo)

namespace {

const QString componentPath = QStringLiteral("/component/org_nimbrel_Nimbrel");
const QString componentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

struct Call {
    QString member;
    QVariantList arguments;
};

// kglobalaccel as far as Nimbrel uses it: keys other components own, the actions registered, and every call.
class FakeKGlobalAccel final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(Call{message.member(), message.arguments()});
        if (silent)
            return true;  // never answered
        QVariantList answer;
        const QString member = message.member();
        // The daemon's own signatures: a call with other argument types is refused as it would be there.
        static const QHash<QString, QString> signatures = {
            {QStringLiteral("getGlobalShortcutsByKey"), QStringLiteral("i")},
            {QStringLiteral("doRegister"), QStringLiteral("as")},
            {QStringLiteral("setShortcut"), QStringLiteral("asaiu")},
            {QStringLiteral("getComponent"), QStringLiteral("s")},
            {QStringLiteral("unRegister"), QStringLiteral("as")},
        };
        if (signatures.value(member) != message.signature()) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                                     member + u'(' + message.signature() + u')'));
            return true;
        }
        if (member == QLatin1String("getGlobalShortcutsByKey")) {
            QList<ShortcutInfo> owners;
            const int key = message.arguments().value(0).toInt();
            if (othersKeys.contains(key))
                owners.append(othersKeys.value(key));
            answer.append(QVariant::fromValue(owners));
        } else if (member == QLatin1String("setShortcut")) {
            const auto keys = qdbus_cast<QList<int>>(message.arguments().value(1));
            answer.append(QVariant::fromValue(assignNothing ? QList<int>() : keys));
        } else if (member == QLatin1String("getComponent")) {
            answer.append(QVariant::fromValue(QDBusObjectPath(componentPath)));
        }
        connection.send(message.createReply(answer));
        return true;
    }

    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    QList<Call> calls(const QString& member) const
    {
        QList<Call> matching;
        for (const Call& call : calls())
            if (call.member == member)
                matching.append(call);
        return matching;
    }

    // Set before the test's first call, read in the service thread.
    bool silent = false;
    bool assignNothing = false;
    QHash<int, ShortcutInfo> othersKeys;

private:
    mutable QMutex m_mutex;
    QList<Call> m_calls;
};

// Counts the marker signals the test's own connection sees: once a marker sent last arrives, everything sent
// before it was handled too.
class SignalProbe final : public QObject {
    Q_OBJECT
public:
    int seen = 0;
public Q_SLOTS:
    void keySignal(const QString& component, const QString&, qlonglong)
    {
        if (component == QLatin1String("marker"))
            ++seen;
    }
};

struct Event {
    HotKeyEventKind kind;
    HotKeyIdentifier identifier;
    friend bool operator==(const Event&, const Event&) = default;
};

class KGlobalAccelHotKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<ShortcutInfo>();
        qDBusRegisterMetaType<QList<ShortcutInfo>>();
        ASSERT_FALSE(bus.address().isEmpty()) << "no private dbus-daemon";
        service = bus.connect();
        client = bus.connect();
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(client.isConnected());
        ASSERT_TRUE(client.connect(QString(), componentPath, componentInterface,
                                   QStringLiteral("globalShortcutPressed"), &probe,
                                   SLOT(keySignal(QString, QString, qlonglong))));
    }

    void TearDown() override
    {
        hotKeys.reset();
        stopDaemon();
    }

    // The fake daemon on the bus, answering from its own thread.
    void startDaemon()
    {
        fake = new FakeKGlobalAccel;
        ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/kglobalaccel"), fake));
        fake->moveToThread(serviceThread.thread());
        ASSERT_TRUE(service.registerService(QStringLiteral("org.kde.kglobalaccel")));
    }

    void stopDaemon()
    {
        if (!fake)
            return;
        service.unregisterObject(QStringLiteral("/kglobalaccel"));
        service.unregisterService(QStringLiteral("org.kde.kglobalaccel"));
        FakeKGlobalAccel* gone = std::exchange(fake, nullptr);
        QMetaObject::invokeMethod(
            gone, [gone] { delete gone; }, Qt::BlockingQueuedConnection);
    }

    KGlobalAccelHotKeys& make(int timeoutMs = 2000)
    {
        hotKeys = std::make_unique<KGlobalAccelHotKeys>(console, client, timeoutMs);
        hotKeys->installEventHandler([this](HotKeyEventKind kind, HotKeyIdentifier identifier) {
            events.append(Event{kind, identifier});
            return hotKeyNoError;
        });
        hotKeys->setHotKeyEventsEnabled(true);
        return *hotKeys;
    }

    void emitKey(const char* signal, const QString& component, const QString& action)
    {
        QDBusMessage message = QDBusMessage::createSignal(componentPath, componentInterface, QLatin1String(signal));
        message << component << action << qlonglong(1234);
        ASSERT_TRUE(service.send(message));
    }

    void flushSignals()
    {
        const int before = probe.seen;
        emitKey("globalShortcutPressed", QStringLiteral("marker"), QStringLiteral("marker"));
        ASSERT_TRUE(test::waitUntil([&] { return probe.seen > before; }));
    }

    test::PrivateSessionBus bus;
    test::ServiceThread serviceThread;
    QDBusConnection service{QString()};
    QDBusConnection client{QString()};
    FakeKGlobalAccel* fake = nullptr;
    SignalProbe probe;
    fake::RecordingConsole console;
    std::unique_ptr<KGlobalAccelHotKeys> hotKeys;
    QList<Event> events;
};

constexpr HotKeyIdentifier first{0x484B5247, 1};
constexpr HotKeyIdentifier second{0x484B5247, 2};
constexpr HotKeyIdentifier third{0x484B5247, 3};

TEST_F(KGlobalAccelHotKeysTest, RegistersTheCombinationAsQtKeysUnderNimbrelsComponent)
{
    startDaemon();
    struct Row {
        int storedKey;
        int keyModifiers;
        int qtKey;
        QString action;
    };
    const Row rows[] = {
        {Key::v, modSuper | modShift, (Qt::META | Qt::SHIFT | Qt::Key_V).toCombined(),
         QStringLiteral("Meta+Shift+V")},
        {Key::space, modControl | modAlt, (Qt::CTRL | Qt::ALT | Qt::Key_Space).toCombined(),
         QStringLiteral("Ctrl+Alt+Space")},
        {Key::f5, 0, QKeyCombination(Qt::Key_F5).toCombined(), QStringLiteral("F5")},
        {Key::keypad5, modSuper, QKeyCombination(Qt::MetaModifier | Qt::KeypadModifier, Qt::Key_5).toCombined(),
         QStringLiteral("Meta+Num+5")},
        // Named by what the US layout types at that position.
        {Key::backtick, modControl, (Qt::CTRL | Qt::Key_QuoteLeft).toCombined(), QStringLiteral("Ctrl+`")},
        {Key::help, modShift, (Qt::SHIFT | Qt::Key_Insert).toCombined(), QStringLiteral("Shift+Ins")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.action.toStdString());
        const qsizetype callsBefore = fake->calls().size();
        HotKeyRef ref = 0;
        EXPECT_EQ(make().registerHotKey(row.storedKey, row.keyModifiers, first, ref), hotKeyNoError);
        EXPECT_NE(ref, 0u);
        const QStringList actionId{QStringLiteral("org.nimbrel.Nimbrel"), QStringLiteral("hotkey ") + row.action,
                                   QStringLiteral("Nimbrel"), QStringLiteral("Shortcut ") + row.action};
        QList<Call> calls = fake->calls().mid(callsBefore);
        // The instance of the row before gives its action back as it goes.
        calls.removeIf([](const Call& call) { return call.member == QLatin1String("unRegister"); });
        ASSERT_GE(calls.size(), 3);
        EXPECT_EQ(calls[0].member, QStringLiteral("getGlobalShortcutsByKey"));
        EXPECT_EQ(calls[0].arguments, QVariantList{row.qtKey});
        EXPECT_EQ(calls[1].member, QStringLiteral("doRegister"));
        EXPECT_EQ(calls[1].arguments.value(0).toStringList(), actionId);
        EXPECT_EQ(calls[2].member, QStringLiteral("setShortcut"));
        EXPECT_EQ(calls[2].arguments.value(0).toStringList(), actionId);
        EXPECT_EQ(qdbus_cast<QList<int>>(calls[2].arguments.value(1)), QList<int>{row.qtKey});
        // SetPresent | NoAutoloading: active now, with Nimbrel's key rather than a remembered one.
        EXPECT_EQ(calls[2].arguments.value(2).toUInt(), 6u);
        EXPECT_TRUE(console.lines.isEmpty()) << console.lines.join(u'\n').toStdString();
    }
}

TEST_F(KGlobalAccelHotKeysTest, RefusesWithoutAskingAKeyKdeHasNoNameFor)
{
    startDaemon();
    const std::pair<int, int> rows[] = {{Key::isoSection, modSuper}, {Key::v, modFunction | modShift}};
    for (const auto& [key, modifiers] : rows) {
        SCOPED_TRACE(key);
        console.lines.clear();
        HotKeyRef ref = 0;
        EXPECT_EQ(make().registerHotKey(key, modifiers, first, ref), hotKeyInvalid);
        EXPECT_EQ(console.lines.size(), 1);
    }
    EXPECT_TRUE(fake->calls().isEmpty());
}

TEST_F(KGlobalAccelHotKeysTest, RefusesACombinationTheDaemonWillNotGive)
{
    struct Row {
        const char* name;
        bool ownedElsewhere;
        bool assignNothing;
        const char* consoleText;
        int expectedRegisterCalls;
    };
    const Row rows[] = {
        {"owned by another component", true, false, "taken by KWin (Walk Through Windows)", 0},
        {"not assigned by the daemon", false, true, "did not assign Meta+Shift+V", 1},
    };
    const int key = (Qt::META | Qt::SHIFT | Qt::Key_V).toCombined();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        startDaemon();
        if (row.ownedElsewhere)
            fake->othersKeys.insert(key, ShortcutInfo{QStringLiteral("Walk Through Windows"),
                                                      QStringLiteral("Walk Through Windows"),
                                                      QStringLiteral("kwin"),
                                                      QStringLiteral("KWin"),
                                                      QStringLiteral("default"),
                                                      QStringLiteral("Default Context"),
                                                      {key},
                                                      {key}});
        fake->assignNothing = row.assignNothing;
        console.lines.clear();
        HotKeyRef ref = 0;
        EXPECT_EQ(make().registerHotKey(Key::v, modSuper | modShift, first, ref), hotKeyTaken);
        ASSERT_EQ(console.lines.size(), 1);
        EXPECT_TRUE(console.lines[0].contains(QLatin1String(row.consoleText))) << console.lines[0].toStdString();
        EXPECT_EQ(fake->calls(QStringLiteral("doRegister")).size(), row.expectedRegisterCalls);
        // Whatever was registered is given back.
        EXPECT_TRUE(test::waitUntil(
            [&] { return fake->calls(QStringLiteral("unRegister")).size() == row.expectedRegisterCalls; }));
    }
}

TEST_F(KGlobalAccelHotKeysTest, PressAndReleaseReachTheHandlerOfTheirCombinationOnly)
{
    startDaemon();
    KGlobalAccelHotKeys& hotKeys = make();
    HotKeyRef ref = 0;
    ASSERT_EQ(hotKeys.registerHotKey(Key::v, modSuper | modShift, first, ref), hotKeyNoError);
    ASSERT_EQ(hotKeys.registerHotKey(Key::b, modControl, second, ref), hotKeyNoError);
    const QString component = KGlobalAccelHotKeys::componentUnique;

    emitKey("globalShortcutPressed", component, QStringLiteral("hotkey Meta+Shift+V"));
    emitKey("globalShortcutReleased", component, QStringLiteral("hotkey Meta+Shift+V"));
    emitKey("globalShortcutPressed", component, QStringLiteral("hotkey Ctrl+B"));
    // Another component's action of the same name, and an action Nimbrel never registered.
    emitKey("globalShortcutPressed", QStringLiteral("org.kde.konsole"), QStringLiteral("hotkey Meta+Shift+V"));
    emitKey("globalShortcutPressed", component, QStringLiteral("hotkey Meta+X"));
    flushSignals();
    const QList<Event> expected{
        {HotKeyEventKind::pressed, first}, {HotKeyEventKind::released, first}, {HotKeyEventKind::pressed, second}};
    EXPECT_EQ(events, expected);

    events.clear();
    hotKeys.setHotKeyEventsEnabled(false);
    emitKey("globalShortcutPressed", component, QStringLiteral("hotkey Meta+Shift+V"));
    flushSignals();
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(KGlobalAccelHotKeysTest, UnregisteringGivesTheActionBackOnceNoRegistrationUsesIt)
{
    startDaemon();
    KGlobalAccelHotKeys& hotKeys = make();
    HotKeyRef shared1 = 0, shared2 = 0, other = 0;
    ASSERT_EQ(hotKeys.registerHotKey(Key::v, modSuper | modShift, first, shared1), hotKeyNoError);
    ASSERT_EQ(hotKeys.registerHotKey(Key::v, modSuper | modShift, second, shared2), hotKeyNoError);
    ASSERT_EQ(hotKeys.registerHotKey(Key::f12, modControl, third, other), hotKeyNoError);
    // The second registration of a combination shares the daemon's action.
    EXPECT_EQ(fake->calls(QStringLiteral("doRegister")).size(), 2);

    hotKeys.unregisterHotKey(shared1);
    emitKey("globalShortcutPressed", KGlobalAccelHotKeys::componentUnique, QStringLiteral("hotkey Meta+Shift+V"));
    flushSignals();
    EXPECT_EQ(events, (QList<Event>{{HotKeyEventKind::pressed, second}}));
    EXPECT_TRUE(fake->calls(QStringLiteral("unRegister")).isEmpty());

    events.clear();
    hotKeys.unregisterHotKey(shared2);
    ASSERT_TRUE(test::waitUntil([&] { return !fake->calls(QStringLiteral("unRegister")).isEmpty(); }));
    EXPECT_EQ(fake->calls(QStringLiteral("unRegister"))[0].arguments.value(0).toStringList(),
              KGlobalAccelHotKeys::actionId(Qt::META | Qt::SHIFT | Qt::Key_V));
    emitKey("globalShortcutPressed", KGlobalAccelHotKeys::componentUnique, QStringLiteral("hotkey Meta+Shift+V"));
    flushSignals();
    EXPECT_TRUE(events.isEmpty());

    // Quitting gives back what is left.
    this->hotKeys.reset();
    ASSERT_TRUE(test::waitUntil([&] { return fake->calls(QStringLiteral("unRegister")).size() == 2; }));
    EXPECT_EQ(fake->calls(QStringLiteral("unRegister"))[1].arguments.value(0).toStringList(),
              KGlobalAccelHotKeys::actionId(Qt::CTRL | Qt::Key_F12));
}

TEST_F(KGlobalAccelHotKeysTest, AnAbsentOrSilentDaemonFailsWithinTheTimeout)
{
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "silent daemon" : "no daemon");
        if (present) {
            startDaemon();
            fake->silent = true;
        }
        console.lines.clear();
        QElapsedTimer elapsed;
        elapsed.start();
        HotKeyRef ref = 0;
        EXPECT_EQ(make(300).registerHotKey(Key::v, modSuper | modShift, first, ref), hotKeyInvalid);
        EXPECT_LT(elapsed.elapsed(), 3000);
        EXPECT_EQ(ref, 0u);
        ASSERT_EQ(console.lines.size(), 1);
        EXPECT_TRUE(console.lines[0].contains(QLatin1String("Meta+Shift+V"))) << console.lines[0].toStdString();
    }
}

}  // namespace

#include "KGlobalAccelHotKeysTest.moc"
