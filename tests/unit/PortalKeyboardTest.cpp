#include "platform/linux/PortalKeyboard.h"
#include "support/FakeRemoteDesktopPortal.h"
#include "support/PrivateSessionBus.h"
#include "support/fake/FakePlatform.h"

#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace nimbrel;
using namespace nimbrel::native;
using Portal = test::FakeRemoteDesktopPortal;
using Answer = Portal::Answer;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QString tokenKey = PortalKeyboard::restoreTokenKey;
const QList<SyntheticKey> controlV = KeyChord{KeyChord::control, keysym::v}.transitions();
const QList<SyntheticKey> shiftInsert = KeyChord{KeyChord::shift, keysym::insert}.transitions();
const QStringList opening = {u"CreateSession"_s, u"SelectDevices"_s, u"Start"_s};

// A private bus with the fake portal on one connection and the keyboard under test on another.
class PortalKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(portalConnection.isConnected() && clientConnection.isConnected()); }
    void TearDown() override { keyboard.reset(), portal.reset(); }

    // A new keyboard and portal for the next case, with nothing stored or said.
    PortalKeyboard& restart(quint32 version = 2, std::optional<QString> storedToken = {}, PortalTiming timing = {})
    {
        TearDown();
        defaults.values.clear();
        console.lines.clear();
        if (storedToken)
            defaults.setString(tokenKey, *storedToken);
        portal = std::make_unique<Portal>(portalConnection);
        keyboard = std::make_unique<PortalKeyboard>(clientConnection, version, defaults, console, timing);
        return *keyboard;
    }
    QString optionOf(const QString& member, const QString& option, int call = 0)
    {
        return portal->callsOf(member).value(call).options().value(option).toString();
    }
    bool closed(const std::function<bool(const QString& path)>& which)
    {
        return std::any_of(portal->calls.cbegin(), portal->calls.cend(),
                           [&](const auto& call) { return call.member == u"Close"_s && which(call.path); });
    }
    // Returns once the portal has received everything the keyboard sent before this call.
    void barrier()
    {
        const qsizetype before = portal->callsOf(u"Barrier"_s).size();
        // Sent to the portal's unique name: the test may have taken the well-known one away.
        clientConnection.send(QDBusMessage::createMethodCall(portalConnection.baseService(), Portal::path,
                                                             Portal::barrierInterface, u"Barrier"_s));
        ASSERT_TRUE(QTest::qWaitFor([&] { return portal->callsOf(u"Barrier"_s).size() > before; }, 5000));
    }
    bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 5000); }
    bool waitForKeys(qsizetype count)
    {
        return QTest::qWaitFor([&] { return portal->keys.size() >= count; });
    }

    test::PrivateSessionBus bus;
    QDBusConnection portalConnection = bus.connect();
    QDBusConnection clientConnection = bus.connect();
    fake::MemoryDefaults defaults;
    fake::RecordingConsole console;
    std::unique_ptr<Portal> portal;
    std::unique_ptr<PortalKeyboard> keyboard;
};

// The first paste opens the session and types once Start has answered; the restore token is sent and
// replaced; a token opens the session ahead, at prepare().
TEST_F(PortalKeyboardTest, FirstPasteOpensTheSessionAndTypesTheKeysOnceStarted)
{
    const QVariantMap kept{{u"types"_s, 1u}, {u"persist_mode"_s, 2u}};
    QVariantMap restored = kept;
    restored.insert(u"restore_token"_s, u"t-old"_s);
    // version, stored token, tokens handed out, session handle as a string, what SelectDevices carries besides
    // handle_token, token after
    // clang-format off
    const std::tuple<const char*, quint32, std::optional<QString>, QStringList, bool, QVariantMap, std::optional<QString>> cases[] = {
        {"first run, permission kept", 2, std::nullopt, {"t-new"}, false, kept, "t-new"},
        {"stored token sent, replaced by the new one", 2, "t-old", {"t-new"}, false, restored, "t-new"},
        {"spent token dropped when none comes back", 2, "t-old", {}, false, restored, std::nullopt},
        {"session handle as a string", 2, std::nullopt, {"t-new"}, true, kept, "t-new"},
        {"version 1 has no tokens", 1, "t-old", {}, false, {{u"types"_s, 1u}}, "t-old"},
    };
    // clang-format on
    for (const auto& [name, version, stored, handedOut, asString, selected, after] : cases) {
        SCOPED_TRACE(name);
        PortalKeyboard& keys = restart(version, stored);
        portal->restoreTokens = handedOut;
        portal->sessionHandleAsString = asString;
        EXPECT_TRUE(keys.isAvailable());
        EXPECT_FALSE(keys.modifiersHeld());
        keys.prepare();
        const bool ahead = stored && version > 1;
        if (ahead) {
            ASSERT_TRUE(waitFor([&] { return !portal->callsOf(u"Start"_s).isEmpty(); }));
        }
        barrier();
        EXPECT_EQ(portal->members(), ahead ? opening : QStringList()) << "opened ahead only with a token";
        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));
        // The keys wait for the session: nothing is typed before Start has answered.
        EXPECT_EQ(portal->members(), opening + QStringList(controlV.size(), u"NotifyKeyboardKeysym"_s));
        EXPECT_EQ(portal->keys, controlV);
        for (const char* member : {"CreateSession", "SelectDevices", "Start"})
            EXPECT_FALSE(optionOf(QString::fromLatin1(member), u"handle_token"_s).isEmpty()) << member;
        EXPECT_FALSE(optionOf(u"CreateSession"_s, u"session_handle_token"_s).isEmpty());
        QVariantMap devices = portal->callsOf(u"SelectDevices"_s).value(0).options();
        devices.remove(u"handle_token"_s);
        EXPECT_EQ(devices, selected);
        EXPECT_EQ(portal->callsOf(u"Start"_s).value(0).arguments.value(1).toString(), QString());
        // The devices, the start and every key name the session.
        for (const char* member : {"SelectDevices", "Start", "NotifyKeyboardKeysym"})
            for (const auto& call : portal->callsOf(QString::fromLatin1(member)))
                EXPECT_EQ(call.arguments.value(0).value<QDBusObjectPath>().path(), portal->sessionPath) << member;
        EXPECT_EQ(defaults.string(tokenKey), after);
        EXPECT_TRUE(keys.isAvailable());
        EXPECT_EQ(console.lines, QStringList());
    }
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
        {"session creation ended", 2, true, {{"CreateSession", Answer::ended}}, 1, ""},
        {"allowed without the keyboard", 2, true, {}, 2, "session"},
        {"call refused with an error", 2, true, {{"SelectDevices", Answer::error}}, 1, "session"},
        {"portal not on the bus", 2, false, {}, 1, ""},
        {"no remote desktop interface", 0, true, {}, 1, ""},
        {"no reply to CreateSession", 2, true, {{"CreateSession", Answer::noReply}}, 1, "CreateSession"},
        {"dialog never answered", 2, true, {{"Start", Answer::silent}}, 1, "Start"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PortalTiming timing{1000ms, 1200ms};
        PortalKeyboard& keys = restart(c.version, {}, timing);
        if (!c.portalRuns)
            portalConnection.unregisterService(Portal::service);
        portal->answers = c.answers;
        portal->devices = c.devices;
        QElapsedTimer posting;
        posting.start();
        keys.post(controlV);
        EXPECT_LT(posting.elapsed(), timing.reply.count()) << "post waited for the portal";
        ASSERT_TRUE(waitFor([&] { return !console.lines.isEmpty(); }));
        EXPECT_FALSE(keys.isAvailable());
        EXPECT_TRUE(console.lines.value(0).contains(u"stays on the clipboard"_s));
        EXPECT_TRUE(console.lines.value(0).contains(u"Ctrl+V"_s));

        const qsizetype asked = portal->callsOf(u"CreateSession"_s).size();
        keys.post(controlV);
        keys.prepare();
        barrier();
        EXPECT_EQ(portal->callsOf(u"CreateSession"_s).size(), asked) << "asked again";
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
    // version, tokens handed out, lost through a refused key rather than the Closed signal, reopens
    // clang-format off
    const std::tuple<const char*, quint32, QStringList, bool, bool> cases[] = {
        {"key refused, token kept", 2, {"t-1", "t-2"}, true, true},
        {"closed, no token handed out", 2, {}, false, false},
    };
    // clang-format on
    for (const auto& [name, version, handedOut, keyFails, reopens] : cases) {
        SCOPED_TRACE(name);
        PortalKeyboard& keys = restart(version);
        portal->restoreTokens = handedOut;
        keys.post(controlV);
        ASSERT_TRUE(waitForKeys(controlV.size()));
        const QString firstSession = portal->sessionPath;
        portal->failKeys = keyFails;
        keyFails ? keys.post(controlV) : portal->closeSession();
        ASSERT_TRUE(waitFor([&] { return !console.lines.isEmpty(); }));
        barrier();
        portal->failKeys = false;
        EXPECT_EQ(keys.isAvailable(), reopens);
        const qsizetype typed = portal->keys.size();
        keys.post(shiftInsert);
        if (reopens) {
            ASSERT_TRUE(waitForKeys(typed + shiftInsert.size()));
            EXPECT_EQ(portal->keys.mid(typed), shiftInsert);
            EXPECT_NE(portal->sessionPath, firstSession);
            EXPECT_EQ(optionOf(u"SelectDevices"_s, u"restore_token"_s, 1), handedOut[0]);
            EXPECT_EQ(defaults.string(tokenKey), handedOut[1]);
        } else {
            barrier();
            EXPECT_EQ(portal->keys.size(), typed);
            EXPECT_EQ(portal->callsOf(u"CreateSession"_s).size(), 1);
            EXPECT_TRUE(console.lines.value(0).contains(u"Ctrl+V"_s));
        }
        EXPECT_EQ(console.lines.size(), 1);
    }
}

}  // namespace
