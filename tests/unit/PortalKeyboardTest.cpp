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
using namespace Qt::StringLiterals;

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
    // A new keyboard and portal for the next case, with nothing stored or said.
    void restart(std::optional<QString> storedToken = std::nullopt)
    {
        TearDown();
        defaults.values.clear();
        console.lines.clear();
        if (storedToken)
            defaults.setString(tokenKey, *storedToken);
        startPortal();
    }
    QString optionOf(const QString& member, const QString& option, int call = 0)
    {
        return portal->callsOf(member).value(call).options().value(option).toString();
    }
    bool closed(const std::function<bool(const QString& path)>& which)
    {
        return std::any_of(portal->calls.cbegin(), portal->calls.cend(), [&](const auto& call) {
            return call.member == QStringLiteral("Close") && which(call.path);
        });
    }

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

QString sessionOf(const test::FakeRemoteDesktopPortal::Call& call)
{
    return call.arguments.value(0).value<QDBusObjectPath>().path();
}

TEST_F(PortalKeyboardTest, FirstPasteOpensTheSessionAndTypesTheKeysOnceStarted)
{
    struct Case {
        const char* name;
        quint32 version;
        std::optional<QString> storedToken;
        QStringList tokensHandedOut;
        bool sessionHandleAsString;
        QVariantMap selected;  // what SelectDevices carries besides handle_token
        std::optional<QString> tokenAfter;
    };
    const QVariantMap kept{{QStringLiteral("types"), 1u}, {QStringLiteral("persist_mode"), 2u}};
    QVariantMap restored = kept;
    restored.insert(QStringLiteral("restore_token"), QStringLiteral("t-old"));
    // clang-format off
    const QList<Case> cases = {
        {"first run, permission kept", 2, std::nullopt, {"t-new"}, false, kept, "t-new"},
        {"stored token sent, replaced by the new one", 2, "t-old", {"t-new"}, false, restored, "t-new"},
        {"spent token dropped when none comes back", 2, "t-old", {}, false, restored, std::nullopt},
        {"session handle as a string", 2, std::nullopt, {"t-new"}, true, kept, "t-new"},
        {"version 1 has no tokens", 1, "t-old", {}, false, {{QStringLiteral("types"), 1u}}, "t-old"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart(c.storedToken);
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
        for (const char* option : {"handle_token", "session_handle_token"})
            EXPECT_FALSE(optionOf(QStringLiteral("CreateSession"), QString::fromLatin1(option)).isEmpty());
        for (const char* member : {"SelectDevices", "Start"})
            EXPECT_FALSE(optionOf(QString::fromLatin1(member), QStringLiteral("handle_token")).isEmpty());
        QVariantMap selected = portal->callsOf(QStringLiteral("SelectDevices")).value(0).options();
        selected.remove(QStringLiteral("handle_token"));
        EXPECT_EQ(selected, c.selected);
        const auto start = portal->callsOf(QStringLiteral("Start")).value(0);
        EXPECT_EQ(start.arguments.value(1).toString(), QString());
        // The devices, the start and every key name the session.
        for (const char* member : {"SelectDevices", "Start", "NotifyKeyboardKeysym"})
            for (const auto& call : portal->callsOf(QString::fromLatin1(member)))
                EXPECT_EQ(sessionOf(call), portal->sessionPath) << member;
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

    QString sender = clientConnection.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    QDBusMessage response =
        QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                       .arg(sender, optionOf(QStringLiteral("Start"), QStringLiteral("handle_token"))),
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

// A refusal, a portal that never answers, or a lost session without a token to reopen it: paste-back
// ends with one line (the record stays on the clipboard for Ctrl+V), the portal is not asked again, no
// key goes out, and what was opened is closed so no dialog stays up.
TEST_F(PortalKeyboardTest, RefusalOrSilenceTurnsPasteBackOffWithOneLineAndNoSecondQuestion)
{
    struct Case {
        const char* name;
        quint32 version;
        bool portalRuns;
        QMap<QString, Answer> answers;
        uint devices;
        const char* closed;  // "session", the request of a member left waiting, or "" for nothing
    };
    // clang-format off
    const QList<Case> cases = {
        {"declined in the dialog", 2, true, {{"Start", Answer::cancelled}}, 1, "session"},
        {"device selection cancelled", 2, true, {{"SelectDevices", Answer::cancelled}}, 1, "session"},
        {"session creation ended", 2, true, {{"CreateSession", Answer::ended}}, 1, ""},
        {"dialog ended otherwise", 2, true, {{"Start", Answer::ended}}, 1, "session"},
        {"allowed without the keyboard", 2, true, {}, 2, "session"},
        {"call refused with an error", 2, true, {{"SelectDevices", Answer::error}}, 1, "session"},
        {"portal not on the bus", 2, false, {}, 1, ""},
        {"no remote desktop interface", 0, true, {}, 1, ""},
        {"no reply to CreateSession", 2, true, {{"CreateSession", Answer::noReply}}, 1, "CreateSession"},
        {"no reply to Start", 2, true, {{"Start", Answer::noReply}}, 1, "Start"},
        {"dialog never answered", 2, true, {{"Start", Answer::silent}}, 1, "Start"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        if (!c.portalRuns)
            portalConnection.unregisterService(test::FakeRemoteDesktopPortal::service);
        portal->answers = c.answers;
        portal->devices = c.devices;
        const PortalTiming timing{1000ms, 1200ms};
        PortalKeyboard& keys = makeKeyboard(c.version, timing);
        QElapsedTimer posting;
        posting.start();
        keys.post(controlV);
        EXPECT_LT(posting.elapsed(), timing.reply.count()) << "post waited for the portal";
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
        const QString what = QString::fromLatin1(c.closed);
        if (what.isEmpty() || what == u"session") {
            const QString session = portal->sessionPath;
            EXPECT_EQ(!session.isEmpty() && closed([&](const QString& path) { return path == session; }),
                      !what.isEmpty());
        } else {
            const QString token = optionOf(what, u"handle_token"_s);
            ASSERT_FALSE(token.isEmpty());
            EXPECT_TRUE(closed([&](const QString& path) { return path.endsWith(u'/' + token); })) << "its dialog stays";
        }
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
    // clang-format off
    const QList<Case> cases = {
        {"closed, token kept", 2, {"t-1", "t-2"}, false, true},
        {"key refused, token kept", 2, {"t-1", "t-2"}, true, true},
        {"closed, no token handed out", 2, {}, false, false},
        {"closed, version 1", 1, {}, false, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        portal->restoreTokens = c.tokensHandedOut;
        PortalKeyboard& keys = makeKeyboard(c.version);
        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));
        const QString firstSession = portal->sessionPath;
        portal->failKeys = c.keyFails;
        if (c.keyFails)
            keys.post(controlV);
        else
            portal->closeSession();
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
            EXPECT_EQ(optionOf(u"SelectDevices"_s, u"restore_token"_s, 1), c.tokensHandedOut[0]);
            EXPECT_EQ(defaults.string(tokenKey), c.tokensHandedOut[1]);
        } else {
            barrier();
            EXPECT_EQ(portal->keys.size(), typed);
            EXPECT_EQ(portal->callsOf(QStringLiteral("CreateSession")).size(), 1);
            EXPECT_TRUE(console.lines.value(0).contains(QStringLiteral("Ctrl+V")));
        }
        EXPECT_EQ(console.lines.size(), 1);
    }
}

TEST_F(PortalKeyboardTest, PrepareOpensTheSessionAheadOnlyWithAStoredToken)
{
    const std::tuple<const char*, quint32, std::optional<QString>, bool> cases[] = {
        {"token stored", 2, u"t-old"_s, true},
        {"no token", 2, std::nullopt, false},
        {"version 1", 1, u"t-old"_s, false},
    };
    for (const auto& [name, version, storedToken, opensAhead] : cases) {
        SCOPED_TRACE(name);
        restart(storedToken);
        portal->restoreTokens = {QStringLiteral("t-new")};
        PortalKeyboard& keys = makeKeyboard(version);
        keys.prepare();
        if (opensAhead)
            ASSERT_TRUE(QTest::qWaitFor([&] { return defaults.string(tokenKey) == QStringLiteral("t-new"); }, waitMs));
        else
            barrier();
        EXPECT_EQ(portal->members(), opensAhead ? opening : QStringList());
        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));
        EXPECT_EQ(portal->members(), withKeys(opening, controlV.size()));
        EXPECT_EQ(console.lines, QStringList());
    }
}

}  // namespace
