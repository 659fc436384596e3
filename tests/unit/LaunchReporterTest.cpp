#include "platform/linux/QtHttpClient.h"
#include "report/LaunchReporter.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeUpdate.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

namespace nimbrel {
namespace {

using Response = fake::LocalHttpServer::Response;

const LaunchFacts facts{QStringLiteral("zh-Hans-CN"), QStringLiteral("6.1.0")};
const QString pendingID = QStringLiteral("8D0C2F1E-0000-4000-8000-000000000001");

class LaunchReporterTest : public ::testing::Test {
protected:
    // One start of the application: a reporter over the same defaults, sending and awaiting its answer.
    void start(const QUrl& endpoint)
    {
        LaunchReporter reporter(http, defaults, log, endpoint, facts);
        QSignalSpy finished(&reporter, &LaunchReporter::finished);
        QSignalSpy changed(&reporter, &LaunchReporter::statusChanged);
        reporter.report(true);
        ASSERT_TRUE(finished.wait(10'000));
        statusChanges = changed.count();
    }

    // A later start, which must send nothing and change no status.
    void startWithoutSending(bool allowed)
    {
        fake::HeldHttpClient recording;
        LaunchReporter later(recording, defaults, log, endpoint(), facts);
        QSignalSpy changed(&later, &LaunchReporter::statusChanged);
        later.report(allowed);
        EXPECT_TRUE(recording.requests.isEmpty()) << recording.requests.join(u'\n').toStdString();
        EXPECT_EQ(changed.count(), 0);
    }

    QUrl endpoint() const { return server.url(QStringLiteral("/api/launch")); }
    std::optional<QString> storedID() const { return defaults.string(LaunchReporter::installIDKey); }

    fake::LocalHttpServer server;
    native::QtHttpClient http;
    fake::MemoryDefaults defaults;
    fake::RecordingSystemLog log;
    int statusChanges = 0;  // statusChanged signals of the last start
};

TEST_F(LaunchReporterTest, TheFirstLaunchIsReportedOnceAndNeverDeclinedAfterwards)
{
    server.answer("/api/launch", Response(204));
    start(endpoint());

    ASSERT_EQ(server.requests.size(), 1);
    const fake::LocalHttpServer::Request& request = server.requests.first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    const QString id = storedID().value_or(QString());
    EXPECT_TRUE(QUuid::fromString(id).version() == QUuid::Random && id == id.toUpper()) << id.toStdString();
    EXPECT_EQ(request.body, R"({"install_id":")" + id.toUtf8() + R"(","language":"zh-Hans-CN","os_version":"6.1.0"})");
    EXPECT_EQ(defaults.values.value(LaunchReporter::didReportLaunchKey), QVariant(true));
    EXPECT_EQ(statusChanges, 1);
    EXPECT_GE(defaults.synchronizations, 2) << "the identifier and the flag are forced to disk";
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();

    // Later starts, allowed or not, send nothing and decline nothing.
    startWithoutSending(true);
    startWithoutSending(false);
    EXPECT_EQ(launchReportStatus(defaults), LaunchReportStatus::sent);
    EXPECT_FALSE(defaults.values.contains(LaunchReporter::didDeclineLaunchReportKey));
    EXPECT_EQ(storedID(), id);
    // Sent without an identifier kept: none is made.
    defaults.removeObject(LaunchReporter::installIDKey);
    startWithoutSending(true);
    EXPECT_FALSE(defaults.values.contains(LaunchReporter::installIDKey));
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(LaunchReporterTest, FailuresAreLoggedAndRetriedAtTheNextStartWithTheSameID)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QUrl closed(QStringLiteral("http://127.0.0.1:%1/api/launch").arg(probe.serverPort()));
    probe.close();
    const std::tuple<std::optional<Response>, QString, bool> cases[] = {
        // answer (none: the connection is refused), the line or its start, whether the line is whole
        {std::nullopt, QStringLiteral("[Nimbrel] 启动上报失败，下次启动重试："), false},
        {Response(500, "overloaded"), QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 500），下次启动重试：overloaded"),
         true},
        {Response(301, "moved").header("Location", "/elsewhere"),
         QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 301），下次启动重试：moved"), true},
        {Response(400, "bad \xff bytes"), QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 400），下次启动重试："), true},
        {Response(200, "ok"), QString(), true},
    };
    for (const auto& [response, line, whole] : cases) {
        SCOPED_TRACE(line.toStdString());
        log.lines.clear();
        if (response)
            server.answer("/api/launch", *response);
        start(response ? endpoint() : closed);
        if (whole) {
            EXPECT_EQ(log.lines, line.isEmpty() ? QStringList() : QStringList{line});
        } else {
            ASSERT_EQ(log.lines.size(), 1);
            EXPECT_TRUE(log.lines.first().startsWith(line) && log.lines.first().size() > line.size())
                << log.lines.first().toStdString();
        }
        EXPECT_EQ(defaults.boolean(LaunchReporter::didReportLaunchKey), line.isEmpty());
        EXPECT_EQ(statusChanges, line.isEmpty() ? 1 : 0);
        EXPECT_TRUE(storedID());
    }
    EXPECT_EQ(server.hits("/elsewhere"), 0) << "a redirect is an answer, not followed";
    ASSERT_EQ(server.requests.size(), 4);
    for (const fake::LocalHttpServer::Request& request : server.requests)
        EXPECT_EQ(QJsonDocument::fromJson(request.body).object().value(QStringLiteral("install_id")).toString(),
                  storedID());
}

TEST_F(LaunchReporterTest, NotAllowedWhilePendingDeclinesForGoodAndDropsTheIdentifier)
{
    for (const bool triedBefore : {false, true}) {  // tried: an earlier start stored an identifier
        SCOPED_TRACE(triedBefore);
        defaults.values.clear();
        log.lines.clear();
        if (triedBefore)
            defaults.setString(LaunchReporter::installIDKey, pendingID);
        EXPECT_EQ(launchReportStatus(defaults), LaunchReportStatus::pending);

        fake::HeldHttpClient recording;
        LaunchReporter declining(recording, defaults, log, endpoint(), facts);
        QSignalSpy changed(&declining, &LaunchReporter::statusChanged);
        const int synchronizations = defaults.synchronizations;
        declining.report(false);
        EXPECT_TRUE(recording.requests.isEmpty());
        EXPECT_EQ(declining.status(), LaunchReportStatus::declined);
        EXPECT_EQ(defaults.values.value(LaunchReporter::didDeclineLaunchReportKey), QVariant(true));
        EXPECT_FALSE(defaults.values.contains(LaunchReporter::installIDKey));
        EXPECT_GT(defaults.synchronizations, synchronizations) << "the decline is forced to disk";
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(log.lines, QStringList{QStringLiteral("[Nimbrel] 启动上报已关闭：不发送，以后也不会发送")});

        // Later starts, allowed again or not, send nothing and say nothing more.
        startWithoutSending(true);
        startWithoutSending(false);
        EXPECT_FALSE(defaults.values.contains(LaunchReporter::installIDKey));
        EXPECT_EQ(log.lines.size(), 1);
    }
}

}  // namespace
}  // namespace nimbrel
