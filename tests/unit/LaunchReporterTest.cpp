#include "support/fake/FakePlatform.h"
#include "support/fake/FakeUpdate.h"
#include "platform/linux/QtHttpClient.h"
#include "report/LaunchReporter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace nimbrel {
namespace {

using Response = fake::LocalHttpServer::Response;

const LaunchFacts facts{QStringLiteral("zh-Hans-CN"), QStringLiteral("6.1.0")};
const QString failedPrefix = QStringLiteral("[Nimbrel] 启动上报失败，下次启动重试：");

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

    QUrl endpoint() const { return server.url(QStringLiteral("/api/launch")); }

    QString sentInstallID(qsizetype request) const
    {
        return QJsonDocument::fromJson(server.requests.value(request).body)
            .object()
            .value(QStringLiteral("install_id"))
            .toString();
    }

    fake::LocalHttpServer server;
    native::QtHttpClient http;
    fake::MemoryDefaults defaults;
    fake::RecordingSystemLog log;
    int statusChanges = 0;  // statusChanged signals of the last start
};

TEST(LaunchFacts, LanguageTagOrUnd)
{
    struct Case {
        QStringList languages;
        QString expected;
    };
    const std::vector<Case> cases{
        {{}, QStringLiteral("und")},
        {{QStringLiteral("zh-Hans-CN"), QStringLiteral("en-US")}, QStringLiteral("zh-Hans-CN")},
        {{QStringLiteral("de-CH")}, QStringLiteral("de-CH")},
        {{QStringLiteral("C")}, QStringLiteral("und")},
        {{QStringLiteral("POSIX"), QStringLiteral("en")}, QStringLiteral("und")},
        {{QString()}, QStringLiteral("und")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(preferredLanguageTag(c.languages), c.expected) << c.languages.join(u',').toStdString();
}

TEST(LaunchFacts, KernelReleaseAsThreeNumbers)
{
    struct Case {
        const char* release;
        const char* expected;
    };
    const Case cases[] = {
        {"6.1.0-18-amd64", "6.1.0"},
        {"14.0", "14.0.0"},
        {"6", "6.0.0"},
        {"5.15.90.1-microsoft-standard-WSL2", "5.15.90"},
        {"6.8.0-rc1", "6.8.0"},
        {"4.19.128+", "4.19.128"},
        {"06.01.00", "6.1.0"},
        {"", "0.0.0"},
        {"unknown", "0.0.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(osVersionString(QString::fromLatin1(c.release)), QString::fromLatin1(c.expected)) << c.release;
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(systemLaunchFacts().osVersion).hasMatch());
}

TEST_F(LaunchReporterTest, AcceptedReportSetsTheFlagAndIsNeverSentAgain)
{
    server.answer("/api/launch", Response(204));
    start(endpoint());

    ASSERT_EQ(server.requests.size(), 1);
    const fake::LocalHttpServer::Request& request = server.requests.first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/api/launch");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    const QString id = defaults.string(LaunchReporter::installIDKey).value_or(QString());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(id)
                    .hasMatch())
        << id.toStdString();
    EXPECT_EQ(request.body, R"({"install_id":")" + id.toUtf8() + R"(","language":"zh-Hans-CN","os_version":"6.1.0"})");
    EXPECT_TRUE(defaults.boolean(LaunchReporter::didReportLaunchKey));
    EXPECT_EQ(defaults.values.value(LaunchReporter::didReportLaunchKey).typeId(), QMetaType::Bool);
    EXPECT_EQ(launchReportStatus(defaults), LaunchReportStatus::sent);
    EXPECT_EQ(statusChanges, 1);
    EXPECT_GE(defaults.synchronizations, 2) << "the identifier and the flag are forced to disk";
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();

    // The next start sends nothing.
    LaunchReporter next(http, defaults, log, endpoint(), facts);
    next.report(true);
    QTest::qWait(100);
    EXPECT_EQ(server.requests.size(), 1);
}

TEST_F(LaunchReporterTest, RefusalsAreLoggedAndRetriedAtTheNextStartWithTheSameID)
{
    struct Case {
        Response response;
        QString line;
    };
    const std::vector<Case> cases{
        {{500, "overloaded"}, QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 500），下次启动重试：overloaded")},
        {Response(301, "moved").header("Location", "/elsewhere"),
         QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 301），下次启动重试：moved")},
        {{400, "bad \xff bytes"}, QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 400），下次启动重试：")},
        {{200, "ok"}, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response.status);
        log.lines.clear();
        server.answer("/api/launch", c.response);
        start(endpoint());
        EXPECT_EQ(log.lines, c.line.isEmpty() ? QStringList() : QStringList{c.line});
        EXPECT_EQ(defaults.boolean(LaunchReporter::didReportLaunchKey), c.line.isEmpty());
        EXPECT_EQ(statusChanges, c.line.isEmpty() ? 1 : 0);
    }
    EXPECT_EQ(server.hits("/elsewhere"), 0) << "a redirect is an answer, not followed";
    ASSERT_EQ(server.requests.size(), 4);
    const QString id = defaults.string(LaunchReporter::installIDKey).value_or(QString());
    for (qsizetype i = 0; i < server.requests.size(); ++i)
        EXPECT_EQ(sentInstallID(i), id);
}

TEST_F(LaunchReporterTest, RefusedConnectionIsLoggedAndKeepsTheID)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QUrl closed(QStringLiteral("http://127.0.0.1:%1/api/launch").arg(probe.serverPort()));
    probe.close();

    start(closed);
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().startsWith(failedPrefix)) << log.lines.first().toStdString();
    EXPECT_GT(log.lines.first().size(), failedPrefix.size()) << "the error is described";
    EXPECT_FALSE(defaults.boolean(LaunchReporter::didReportLaunchKey));
    const std::optional<QString> id = defaults.string(LaunchReporter::installIDKey);
    ASSERT_TRUE(id);

    server.answer("/api/launch", Response(204));
    start(endpoint());
    EXPECT_EQ(sentInstallID(0), *id);
    EXPECT_TRUE(defaults.boolean(LaunchReporter::didReportLaunchKey));
}

TEST_F(LaunchReporterTest, ReportedFlagMeansNoRequestAndNoIdentifier)
{
    server.answer("/api/launch", Response(204));
    defaults.setBool(LaunchReporter::didReportLaunchKey, true);
    LaunchReporter reporter(http, defaults, log, endpoint(), facts);
    QSignalSpy finished(&reporter, &LaunchReporter::finished);
    reporter.report(true);
    QTest::qWait(200);
    EXPECT_TRUE(server.requests.isEmpty());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(defaults.values.contains(LaunchReporter::installIDKey));
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(LaunchReporterTest, NotAllowedWhilePendingDeclinesForGoodAndDropsTheIdentifier)
{
    struct Case {
        const char* name;
        bool triedBefore;  // an earlier start sent it and got no acceptance, so an identifier is stored
    };
    const Case cases[] = {{"never tried", false}, {"tried before", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.values.clear();
        log.lines.clear();
        if (c.triedBefore)
            defaults.setString(LaunchReporter::installIDKey, QStringLiteral("8D0C2F1E-0000-4000-8000-000000000001"));
        fake::UnreachableHttpClient recording;
        EXPECT_EQ(launchReportStatus(defaults), LaunchReportStatus::pending);

        LaunchReporter declining(recording, defaults, log, endpoint(), facts);
        QSignalSpy changed(&declining, &LaunchReporter::statusChanged);
        const int synchronizations = defaults.synchronizations;
        declining.report(false);
        EXPECT_TRUE(recording.requests.isEmpty()) << recording.requests.join(u'\n').toStdString();
        EXPECT_EQ(declining.status(), LaunchReportStatus::declined);
        EXPECT_EQ(defaults.values.value(LaunchReporter::didDeclineLaunchReportKey), QVariant(true));
        EXPECT_FALSE(defaults.values.contains(LaunchReporter::installIDKey));
        EXPECT_FALSE(defaults.boolean(LaunchReporter::didReportLaunchKey));
        EXPECT_GT(defaults.synchronizations, synchronizations) << "the decline is forced to disk";
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(log.lines, QStringList{QStringLiteral("[Nimbrel] 启动上报已关闭：不发送，以后也不会发送")});

        // Later starts, allowed again or not, send nothing and say nothing more.
        for (const bool allowed : {true, false}) {
            LaunchReporter later(recording, defaults, log, endpoint(), facts);
            QSignalSpy laterChanged(&later, &LaunchReporter::statusChanged);
            later.report(allowed);
            EXPECT_TRUE(recording.requests.isEmpty());
            EXPECT_EQ(laterChanged.count(), 0);
            EXPECT_FALSE(defaults.values.contains(LaunchReporter::installIDKey));
        }
        EXPECT_EQ(log.lines.size(), 1);
    }
}

TEST_F(LaunchReporterTest, ASentReportIsNotDeclinedAfterwards)
{
    server.answer("/api/launch", Response(204));
    start(endpoint());
    ASSERT_EQ(launchReportStatus(defaults), LaunchReportStatus::sent);
    const QVariant id = defaults.values.value(LaunchReporter::installIDKey);

    fake::UnreachableHttpClient recording;
    LaunchReporter later(recording, defaults, log, endpoint(), facts);
    QSignalSpy changed(&later, &LaunchReporter::statusChanged);
    later.report(false);
    EXPECT_TRUE(recording.requests.isEmpty());
    EXPECT_EQ(later.status(), LaunchReportStatus::sent);
    EXPECT_FALSE(defaults.values.contains(LaunchReporter::didDeclineLaunchReportKey));
    EXPECT_EQ(defaults.values.value(LaunchReporter::installIDKey), id);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(LaunchReporterTest, StoredIdentifierIsKeptAndOnlyAStringCounts)
{
    LaunchReporter reporter(http, defaults, log, endpoint(), facts);
    defaults.setString(LaunchReporter::installIDKey, QStringLiteral("8D0C2F1E-0000-4000-8000-000000000001"));
    EXPECT_EQ(reporter.loadInstallID(), QStringLiteral("8D0C2F1E-0000-4000-8000-000000000001"));

    defaults.setInteger(LaunchReporter::installIDKey, 42);
    const QString created = reporter.loadInstallID();
    EXPECT_EQ(created.size(), 36);
    EXPECT_EQ(defaults.string(LaunchReporter::installIDKey), created);
    EXPECT_EQ(reporter.loadInstallID(), created);
}

}  // namespace
}  // namespace nimbrel
