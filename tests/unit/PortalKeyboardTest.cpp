#include "support/fake/FakePlatform.h"
#include "platform/linux/PortalKeyboard.h"
#include "support/FakeRemoteDesktopPortal.h"
#include "support/PrivateSessionBus.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>

using namespace nimbrel;
using namespace nimbrel::native;
using Answer = test::FakeRemoteDesktopPortal::Answer;
using namespace std::chrono_literals;

namespace nimbrel {
void PrintTo(const SyntheticKey& key, std::ostream* os)
{
    *os << "{0x" << std::hex << key.keysym << std::dec << (key.down ? " down}" : " up}");
}
}  // namespace nimbrel

namespace {

const QString tokenKey = PortalKeyboard::restoreTokenKey;
const QList<SyntheticKey> controlV = KeyChord{KeyChord::control, keysym::v}.transitions();
const QList<SyntheticKey> shiftInsert = KeyChord{KeyChord::shift, keysym::insert}.transitions();
constexpr int waitMs = 5000;

// A private bus with the fake portal on one connection and the keyboard under test on another.
class PortalKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        portalConnection = bus.connect();
        clientConnection = bus.connect();
        ASSERT_TRUE(portalConnection.isConnected());
        ASSERT_TRUE(clientConnection.isConnected());
    }

    void TearDown() override
    {
        keyboard.reset();
        portal.reset();
    }

    void startPortal() { portal = std::make_unique<test::FakeRemoteDesktopPortal>(portalConnection); }

    PortalKeyboard& makeKeyboard(quint32 version, PortalTiming timing = {})
    {
        keyboard = std::make_unique<PortalKeyboard>(clientConnection, version, defaults, console, timing);
        return *keyboard;
    }

    // Returns once the portal has received everything the keyboard sent before this call.
    void barrier()
    {
        const qsizetype before = portal->callsOf(QStringLiteral("Barrier")).size();
        // Sent to the portal's unique name: the test may have taken the well-known one away.
        clientConnection.send(
            QDBusMessage::createMethodCall(portalConnection.baseService(), test::FakeRemoteDesktopPortal::path,
                                           test::FakeRemoteDesktopPortal::barrierInterface, QStringLiteral("Barrier")));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return portal->callsOf(QStringLiteral("Barrier")).size() > before; }, waitMs));
    }

    bool waitForKeys(qsizetype count)
    {
        return QTest::qWaitFor([&] { return portal->keys.size() >= count; }, waitMs);
    }

    bool waitForLines(qsizetype count)
    {
        return QTest::qWaitFor([&] { return console.lines.size() >= count; }, waitMs);
    }

    test::PrivateSessionBus bus;
    QDBusConnection portalConnection{QString()};
    QDBusConnection clientConnection{QString()};
    fake::MemoryDefaults defaults;
    fake::RecordingConsole console;
    std::unique_ptr<test::FakeRemoteDesktopPortal> portal;
    std::unique_ptr<PortalKeyboard> keyboard;
};

const QStringList opening = {QStringLiteral("CreateSession"), QStringLiteral("SelectDevices"), QStringLiteral("Start")};

QStringList withKeys(QStringList members, qsizetype keys)
{
    for (qsizetype i = 0; i < keys; ++i)
        members.append(QStringLiteral("NotifyKeyboardKeysym"));
    return members;
}

TEST_F(PortalKeyboardTest, FirstPasteOpensTheSessionAndTypesTheKeysOnceStarted)
{
    struct Case {
        const char* name;
        quint32 version;
        std::optional<QString> storedToken;
        QStringList tokensHandedOut;
        bool sessionHandleAsString;
        // What SelectDevices carries besides handle_token and types.
        std::optional<uint> persistMode;
        std::optional<QString> restoreTokenSent;
        // The stored token afterwards.
        std::optional<QString> tokenAfter;
    };
    const QList<Case> cases = {
        {"first run, permission kept", 2, std::nullopt, {"t-new"}, false, 2u, std::nullopt, "t-new"},
        {"stored token sent, replaced by the new one", 2, "t-old", {"t-new"}, false, 2u, "t-old", "t-new"},
        {"spent token dropped when none comes back", 2, "t-old", {}, false, 2u, "t-old", std::nullopt},
        {"session handle as a string", 2, std::nullopt, {"t-new"}, true, 2u, std::nullopt, "t-new"},
        {"version 1 has no tokens", 1, "t-old", {}, false, std::nullopt, std::nullopt, "t-old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        defaults.values.clear();
        console.lines.clear();
        if (c.storedToken)
            defaults.setString(tokenKey, *c.storedToken);
        startPortal();
        portal->restoreTokens = c.tokensHandedOut;
        portal->sessionHandleAsString = c.sessionHandleAsString;
        PortalKeyboard& keys = makeKeyboard(c.version);
        EXPECT_TRUE(keys.isAvailable());
        EXPECT_FALSE(keys.modifiersHeld());

        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));
        // The keys wait for the session: nothing is typed before Start has answered.
        EXPECT_EQ(portal->members(), withKeys(opening, controlV.size()));
        EXPECT_EQ(portal->keys, controlV);

        const QVariantMap create = portal->callsOf(QStringLiteral("CreateSession")).value(0).options();
        EXPECT_FALSE(create.value(QStringLiteral("handle_token")).toString().isEmpty());
        EXPECT_FALSE(create.value(QStringLiteral("session_handle_token")).toString().isEmpty());

        const test::FakeRemoteDesktopPortal::Call select = portal->callsOf(QStringLiteral("SelectDevices")).value(0);
        EXPECT_EQ(select.arguments.value(0).value<QDBusObjectPath>().path(), portal->sessionPath);
        QVariantMap selectOptions = select.options();
        EXPECT_FALSE(selectOptions.take(QStringLiteral("handle_token")).toString().isEmpty());
        QVariantMap expected{{QStringLiteral("types"), 1u}};
        if (c.persistMode)
            expected.insert(QStringLiteral("persist_mode"), *c.persistMode);
        if (c.restoreTokenSent)
            expected.insert(QStringLiteral("restore_token"), *c.restoreTokenSent);
        EXPECT_EQ(selectOptions, expected);

        const test::FakeRemoteDesktopPortal::Call start = portal->callsOf(QStringLiteral("Start")).value(0);
        EXPECT_EQ(start.arguments.value(0).value<QDBusObjectPath>().path(), portal->sessionPath);
        EXPECT_EQ(start.arguments.value(1).toString(), QString());
        EXPECT_FALSE(start.options().value(QStringLiteral("handle_token")).toString().isEmpty());

        // Every key names the session.
        for (const auto& call : portal->callsOf(QStringLiteral("NotifyKeyboardKeysym")))
            EXPECT_EQ(call.arguments.value(0).value<QDBusObjectPath>().path(), portal->sessionPath);

        EXPECT_EQ(defaults.string(tokenKey), c.tokenAfter);
        EXPECT_TRUE(keys.isAvailable());
        EXPECT_EQ(console.lines, QStringList());
    }
}

TEST_F(PortalKeyboardTest, LaterPastesReuseTheSessionAndKeysPostedWhileOpeningKeepTheirOrder)
{
    startPortal();
    // Start is answered only when the test says so, as a user who takes a moment over the dialog.
    portal->answers.insert(QStringLiteral("Start"), Answer::silent);
    PortalKeyboard& keys = makeKeyboard(2);

    keys.post(controlV);
    keys.post(shiftInsert);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal->callsOf(QStringLiteral("Start")).isEmpty(); }, waitMs));
    barrier();
    EXPECT_TRUE(portal->keys.isEmpty());

    const QString handleToken =
        portal->callsOf(QStringLiteral("Start")).value(0).options().value(QStringLiteral("handle_token")).toString();
    QString sender = clientConnection.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    QDBusMessage response = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, handleToken),
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    response << 0u << QVariantMap{{QStringLiteral("devices"), 1u}};
    portalConnection.send(response);
    ASSERT_TRUE(waitForKeys(controlV.size() + shiftInsert.size()));

    keys.post(controlV);
    ASSERT_TRUE(waitForKeys(2 * controlV.size() + shiftInsert.size()));
    EXPECT_EQ(portal->keys, controlV + shiftInsert + controlV);
    EXPECT_EQ(portal->members(), withKeys(opening, 2 * controlV.size() + shiftInsert.size()));
    EXPECT_EQ(console.lines, QStringList());
}

TEST_F(PortalKeyboardTest, RefusalTurnsPasteBackOffWithOneLineAndNoSecondQuestion)
{
    struct Case {
        const char* name;
        quint32 version;
        bool portalRuns;
        QMap<QString, Answer> answers;
        uint devices;
        // The opening got as far as a session, which must be closed again.
        bool sessionClosed;
    };
    const QList<Case> cases = {
        {"declined in the dialog", 2, true, {{"Start", Answer::cancelled}}, 1, true},
        {"device selection cancelled", 2, true, {{"SelectDevices", Answer::cancelled}}, 1, true},
        {"session creation ended", 2, true, {{"CreateSession", Answer::ended}}, 1, false},
        {"dialog ended otherwise", 2, true, {{"Start", Answer::ended}}, 1, true},
        {"allowed without the keyboard", 2, true, {}, 2, true},
        {"call refused with an error", 2, true, {{"SelectDevices", Answer::error}}, 1, true},
        {"portal not on the bus", 2, false, {}, 1, false},
        {"no remote desktop interface", 0, true, {}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        defaults.values.clear();
        console.lines.clear();
        startPortal();
        if (!c.portalRuns)
            portalConnection.unregisterService(test::FakeRemoteDesktopPortal::service);
        portal->answers = c.answers;
        portal->devices = c.devices;
        PortalKeyboard& keys = makeKeyboard(c.version);

        keys.post(controlV);
        ASSERT_TRUE(waitForLines(1));
        EXPECT_FALSE(keys.isAvailable());
        EXPECT_TRUE(console.lines.value(0).contains(QStringLiteral("stays on the clipboard")));
        EXPECT_TRUE(console.lines.value(0).contains(QStringLiteral("Ctrl+V")));

        const qsizetype asked = portal->callsOf(QStringLiteral("CreateSession")).size();
        keys.post(controlV);
        keys.prepare();
        barrier();
        EXPECT_EQ(portal->callsOf(QStringLiteral("CreateSession")).size(), asked) << "asked again";
        EXPECT_TRUE(portal->keys.isEmpty());
        EXPECT_EQ(console.lines.size(), 1) << console.lines.join(u'\n').toStdString();
        const bool closed = !portal->sessionPath.isEmpty() &&
                            std::any_of(portal->calls.cbegin(), portal->calls.cend(), [&](const auto& call) {
                                return call.member == QStringLiteral("Close") && call.path == portal->sessionPath;
                            });
        EXPECT_EQ(closed, c.sessionClosed);
    }
}

TEST_F(PortalKeyboardTest, PortalThatNeverAnswersDropsTheKeysAfterTheTimeout)
{
    struct Case {
        const char* name;
        QMap<QString, Answer> answers;
        // The request left waiting, which must be closed so its dialog goes away.
        QString closedRequestOf;
    };
    const QList<Case> cases = {
        {"no reply to CreateSession", {{"CreateSession", Answer::noReply}}, "CreateSession"},
        {"no reply to Start", {{"Start", Answer::noReply}}, "Start"},
        {"dialog never answered", {{"Start", Answer::silent}}, "Start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        console.lines.clear();
        startPortal();
        portal->answers = c.answers;
        const PortalTiming timing{1000ms, 1200ms};
        PortalKeyboard& keys = makeKeyboard(2, timing);

        QElapsedTimer posting;
        posting.start();
        keys.post(controlV);
        // Waiting for the portal would take at least the reply timeout.
        EXPECT_LT(posting.elapsed(), timing.reply.count()) << "post waited for the portal";
        EXPECT_TRUE(keys.isAvailable());

        ASSERT_TRUE(waitForLines(1));
        EXPECT_FALSE(keys.isAvailable());
        EXPECT_TRUE(console.lines.value(0).contains(QStringLiteral("Ctrl+V")));
        barrier();
        EXPECT_TRUE(portal->keys.isEmpty());
        EXPECT_EQ(console.lines.size(), 1);

        const QString token =
            portal->callsOf(c.closedRequestOf).value(0).options().value(QStringLiteral("handle_token")).toString();
        ASSERT_FALSE(token.isEmpty());
        EXPECT_TRUE(std::any_of(portal->calls.cbegin(), portal->calls.cend(), [&](const auto& call) {
            return call.member == QStringLiteral("Close") && call.path.endsWith(QStringLiteral("/") + token);
        }));
    }
}

TEST_F(PortalKeyboardTest, ClosedSessionReopensWithTheTokenOrEndsPasteBackWithoutOne)
{
    struct Case {
        const char* name;
        quint32 version;
        QStringList tokensHandedOut;
        bool keyFails;  // the session is lost through a refused key rather than the Closed signal
        bool reopens;
    };
    const QList<Case> cases = {
        {"closed, token kept", 2, {"t-1", "t-2"}, false, true},
        {"key refused, token kept", 2, {"t-1", "t-2"}, true, true},
        {"closed, no token handed out", 2, {}, false, false},
        {"closed, version 1", 1, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        defaults.values.clear();
        console.lines.clear();
        startPortal();
        portal->restoreTokens = c.tokensHandedOut;
        PortalKeyboard& keys = makeKeyboard(c.version);
        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));

        const QString firstSession = portal->sessionPath;
        if (c.keyFails) {
            portal->failKeys = true;
            keys.post(controlV);
        } else {
            portal->closeSession();
        }
        ASSERT_TRUE(waitForLines(1));
        barrier();
        portal->failKeys = false;
        EXPECT_EQ(keys.isAvailable(), c.reopens);

        const qsizetype typed = portal->keys.size();
        keys.post(shiftInsert);
        if (c.reopens) {
            ASSERT_TRUE(waitForKeys(typed + shiftInsert.size()));
            EXPECT_EQ(portal->keys.mid(typed), shiftInsert);
            EXPECT_NE(portal->sessionPath, firstSession);
            const auto selects = portal->callsOf(QStringLiteral("SelectDevices"));
            ASSERT_EQ(selects.size(), 2);
            EXPECT_EQ(selects[1].options().value(QStringLiteral("restore_token")).toString(), c.tokensHandedOut[0]);
            EXPECT_EQ(defaults.string(tokenKey), c.tokensHandedOut[1]);
            EXPECT_EQ(console.lines.size(), 1);
        } else {
            barrier();
            EXPECT_EQ(portal->keys.size(), typed);
            EXPECT_EQ(portal->callsOf(QStringLiteral("CreateSession")).size(), 1);
            EXPECT_TRUE(console.lines.value(0).contains(QStringLiteral("Ctrl+V")));
            EXPECT_EQ(console.lines.size(), 1);
        }
    }
}

TEST_F(PortalKeyboardTest, PrepareOpensTheSessionAheadOnlyWithAStoredToken)
{
    struct Case {
        const char* name;
        quint32 version;
        std::optional<QString> storedToken;
        bool opensAhead;
    };
    const QList<Case> cases = {
        {"token stored", 2, "t-old", true},
        {"no token", 2, std::nullopt, false},
        {"version 1", 1, "t-old", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        defaults.values.clear();
        console.lines.clear();
        if (c.storedToken)
            defaults.setString(tokenKey, *c.storedToken);
        startPortal();
        portal->restoreTokens = {QStringLiteral("t-new")};
        PortalKeyboard& keys = makeKeyboard(c.version);

        keys.prepare();
        if (c.opensAhead) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return defaults.string(tokenKey) == QStringLiteral("t-new"); }, waitMs));
            EXPECT_EQ(portal->members(), opening);
        } else {
            barrier();
            EXPECT_EQ(portal->members(), QStringList());
        }

        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));
        EXPECT_EQ(portal->members(), withKeys(opening, controlV.size()));
        EXPECT_EQ(console.lines, QStringList());
    }
}

}  // namespace
