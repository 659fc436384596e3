#include "KeyboardShortcuts/Key.h"
#include "KeyboardShortcuts/KeyCodes.h"
#include "KeyboardShortcuts/QtKeys.h"
#include "platform/linux/KGlobalAccelHotKeys.h"
#include "support/FakeBusService.h"
#include "support/fake/FakePlatform.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QMutex>

#include <gtest/gtest.h>

#include <memory>

using namespace nimbrel;
using namespace nimbrel::KeyboardShortcuts;
using native::KGlobalAccelHotKeys;

namespace {

// One entry of getGlobalShortcutsByKey's answer, a(ssssssaiai): action, component and context, each with its
// display name, then the keys and the default keys. The fake owns none, but answers in the daemon's type.
struct ShortcutInfo {};

QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutInfo&)
{
    argument.beginStructure();
    argument << QString() << QString() << QString() << QString() << QString() << QString() << QList<int>()
             << QList<int>();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutInfo&)
{
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(ShortcutInfo)

namespace {

const QString componentPath = QStringLiteral("/component/org_nimbrel_Nimbrel");
const QString componentInterface = QStringLiteral("org.kde.kglobalaccel.Component");
const int metaShiftV = (Qt::META | Qt::SHIFT | Qt::Key_V).toCombined();

// kglobalaccel as far as Nimbrel uses it: the actions registered, and every call.
class FakeKGlobalAccel final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(message);
        if (silent)
            return true;  // never answered
        // The daemon's own signatures: a call with other argument types is refused as it would be there.
        const QString member = message.member();
        if (!QString("getGlobalShortcutsByKey:i doRegister:as setShortcut:asaiu getComponent:s unRegister:as")
                 .split(' ')
                 .contains(member + ':' + message.signature())) {
            connection.send(message.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", member));
            return true;
        }
        QVariantList answer;
        if (member == "getGlobalShortcutsByKey")
            answer.append(QVariant::fromValue(QList<ShortcutInfo>()));
        else if (member == "setShortcut")
            answer.append(QVariant::fromValue(qdbus_cast<QList<int>>(message.arguments().value(1))));
        else if (member == "getComponent")
            answer.append(QVariant::fromValue(QDBusObjectPath(componentPath)));
        connection.send(message.createReply(answer));
        return true;
    }

    QList<QDBusMessage> calls(const QString& member = {}) const
    {
        QMutexLocker lock(&m_mutex);
        QList<QDBusMessage> matching;
        for (const QDBusMessage& call : m_calls)
            if (member.isEmpty() || call.member() == member)
                matching.append(call);
        return matching;
    }

    bool silent = false;  // set before the test's first call, read in the service thread

private:
    mutable QMutex m_mutex;
    QList<QDBusMessage> m_calls;
};

class KGlobalAccelHotKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<ShortcutInfo>();
        qDBusRegisterMetaType<QList<ShortcutInfo>>();
        ASSERT_TRUE(bus.connected()) << "no private dbus-daemon";
        ASSERT_TRUE(bus.watch(key({}, "marker")));
    }

    KGlobalAccelHotKeys& make(int timeoutMs = 2000)
    {
        hotKeys = std::make_unique<KGlobalAccelHotKeys>(console, bus.client, timeoutMs);
        hotKeys->installEventHandler(events.handler());
        hotKeys->setHotKeyEventsEnabled(true);
        return *hotKeys;
    }

    // A key of the component pressed, or released ("-").
    static QDBusMessage key(const QString& component, const QString& action)
    {
        QDBusMessage message =
            QDBusMessage::createSignal(componentPath, componentInterface,
                                       action.startsWith('-') ? "globalShortcutReleased" : "globalShortcutPressed");
        return message << component << QString("hotkey " + action.mid(action.startsWith('-'))) << qlonglong(1234);
    }

    // Presses the keys and waits until the test's connection has handled them.
    void press(const QStringList& keys, const QString& component = KGlobalAccelHotKeys::componentUnique)
    {
        ASSERT_TRUE(bus.sendInOrder(keys, [&](const QString& action) { return key(component, action); }));
    }

    QStringList unregistered() const
    {
        QStringList ids;
        for (const QDBusMessage& call : bus.fake->calls("unRegister"))
            ids.append(call.arguments().value(0).toStringList().value(1));
        return ids;
    }

    test::FakeBusService<FakeKGlobalAccel> bus;
    fake::RecordingConsole console;
    test::HotKeyEvents events;
    std::unique_ptr<KGlobalAccelHotKeys> hotKeys;
};

using Event = test::HotKeyEvents::Event;
constexpr auto pressed = HotKeyEventKind::pressed;

TEST_F(KGlobalAccelHotKeysTest, RegistersQtKeysUnderNimbrelsComponentAndKeysReachTheirHandlerUntilUnregistered)
{
    // Keys named by what the US layout types at that position.
    const std::tuple<int, int, QKeyCombination, QString> rows[] = {
        {Key::space, modControl | modAlt, Qt::CTRL | Qt::ALT | Qt::Key_Space, "Ctrl+Alt+Space"},
        {Key::keypad5, modSuper, QKeyCombination(Qt::MetaModifier | Qt::KeypadModifier, Qt::Key_5), "Meta+Num+5"},
        {Key::backtick, modControl, Qt::CTRL | Qt::Key_QuoteLeft, "Ctrl+`"},
        {Key::help, modShift, Qt::SHIFT | Qt::Key_Insert, "Shift+Ins"}};
    for (const auto& [key, modifiers, combination, text] : rows) {
        EXPECT_EQ(qtKeyCombination(key, modifiers), combination) << text.toStdString();
        EXPECT_EQ(KGlobalAccelHotKeys::actionId(combination),
                  (QStringList{"org.nimbrel.Nimbrel", "hotkey " + text, "Nimbrel", "Shortcut " + text}));
    }

    bus.start("org.kde.kglobalaccel", "/kglobalaccel");
    KGlobalAccelHotKeys& hotKeys = make();
    HotKeyRef shared1 = 0, shared2 = 0, other = 0;
    ASSERT_EQ(hotKeys.registerHotKey(Key::v, modSuper | modShift, {1, 1}, shared1), hotKeyNoError);
    EXPECT_NE(shared1, 0u);
    const QStringList actionId = KGlobalAccelHotKeys::actionId(Qt::META | Qt::SHIFT | Qt::Key_V);
    const QList<QDBusMessage> calls = bus.fake->calls();
    ASSERT_GE(calls.size(), 3);
    EXPECT_EQ(calls[0].member(), "getGlobalShortcutsByKey");
    EXPECT_EQ(calls[0].arguments(), QVariantList{metaShiftV});
    EXPECT_EQ(calls[1].member(), "doRegister");
    EXPECT_EQ(calls[1].arguments().value(0).toStringList(), actionId);
    EXPECT_EQ(calls[2].member(), "setShortcut");
    EXPECT_EQ(calls[2].arguments().value(0).toStringList(), actionId);
    EXPECT_EQ(qdbus_cast<QList<int>>(calls[2].arguments().value(1)), QList<int>{metaShiftV});
    // SetPresent | NoAutoloading: active now, with Nimbrel's key rather than a remembered one.
    EXPECT_EQ(calls[2].arguments().value(2).toUInt(), 6u);
    ASSERT_EQ(hotKeys.registerHotKey(Key::b, modControl, {1, 2}, other), hotKeyNoError);
    ASSERT_EQ(hotKeys.registerHotKey(Key::v, modSuper | modShift, {1, 3}, shared2), hotKeyNoError);
    EXPECT_EQ(bus.fake->calls("doRegister").size(), 2) << "the second registration shares the daemon's action";
    EXPECT_TRUE(console.lines.isEmpty()) << console.lines.join(u'\n').toStdString();

    // Another component's action of the same name, and an action Nimbrel never registered, reach nobody.
    press({"Meta+Shift+V", "-Meta+Shift+V", "Ctrl+B", "Meta+X"});
    press({"Meta+Shift+V"}, "org.kde.konsole");
    EXPECT_EQ(events.seen, (QList<Event>{{pressed, 1}, {HotKeyEventKind::released, 1}, {pressed, 2}}));

    events.seen.clear();
    hotKeys.unregisterHotKey(shared1);
    press({"Meta+Shift+V"});
    EXPECT_EQ(events.seen, (QList<Event>{{pressed, 3}}));
    EXPECT_TRUE(unregistered().isEmpty());
    hotKeys.unregisterHotKey(shared2);
    ASSERT_TRUE(test::waitUntil([&] { return unregistered() == QStringList{"hotkey Meta+Shift+V"}; }));
    press({"Meta+Shift+V"});
    hotKeys.setHotKeyEventsEnabled(false);
    press({"Ctrl+B"});
    EXPECT_EQ(events.seen, (QList<Event>{{pressed, 3}}));

    // Quitting gives back what is left.
    this->hotKeys.reset();
    ASSERT_TRUE(test::waitUntil([&] { return unregistered().size() == 2; }));
    EXPECT_EQ(unregistered()[1], "hotkey Ctrl+B");
}

// Without kglobalaccel, or with one that never answers, registering is one line and a status, never a hang.
TEST_F(KGlobalAccelHotKeysTest, AnAbsentOrSilentDaemonIsOneLineAndAStatusWithoutHanging)
{
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "silent daemon" : "no daemon");
        hotKeys.reset();
        console.lines.clear();
        if (present) {
            bus.start("org.kde.kglobalaccel", "/kglobalaccel");
            bus.fake->silent = true;
        }
        QElapsedTimer elapsed;
        elapsed.start();
        HotKeyRef ref = 0;
        EXPECT_EQ(make(300).registerHotKey(Key::v, modSuper | modShift, {1, 1}, ref), hotKeyInvalid);
        EXPECT_LT(elapsed.elapsed(), 3000);
        ASSERT_EQ(console.lines.size(), 1);
        EXPECT_TRUE(console.lines[0].contains("Meta+Shift+V")) << console.lines[0].toStdString();
    }
}

}  // namespace
