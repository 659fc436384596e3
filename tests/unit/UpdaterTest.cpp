#include "UpdateTestSupport.h"

#include "platform/linux/QtHttpClient.h"
#include "report/LaunchReporter.h"
#include "support/fake/FakePlatform.h"
#include "support/fake/FakeUpdate.h"
#include "update/FileTree.h"
#include "update/PackageSignature.h"
#include "update/Release.h"
#include "update/UpdaterService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

namespace nimbrel {
namespace {

using namespace test;
using State = UpdaterService::State;
using Response = fake::LocalHttpServer::Response;

const QString failurePrefix = QStringLiteral("[Nimbrel] 更新检查失败，稍后重试：");

// A package holding a folder signed by `folderKey` for `build`, named `top` inside the package.
QByteArray signedPackage(qint64 build, const QString& top = QStringLiteral("Nimbrel.app"),
                         const QByteArray& folderKey = testSigningKey)
{
    const QString source = makeInstallFolder(freshDirectory() + QStringLiteral("/Nimbrel.app"), "new build");
    EXPECT_TRUE(signInstallFolder(source, build, folderKey));
    return packFolder(source, top);
}

// A feed offering `package` as `build`, with its length (or `length`) and its signature by `key`.
QByteArray feed(qint64 build, const QUrl& url, const QByteArray& package, const QByteArray& key = testSigningKey,
                std::optional<qint64> length = {})
{
    const QString file = freshDirectory() + QStringLiteral("/package");
    writeFile(file, package);
    return QJsonDocument(QJsonObject{{"version", "1.1"},
                                     {"build", build},
                                     {"url", url.toString()},
                                     {"length", length.value_or(package.size())},
                                     {"signature", QString::fromLatin1(signPackage(file, key)->toBase64())}})
        .toJson(QJsonDocument::Compact);
}

// An address on this machine where nothing listens: connections to it are refused.
QUrl closedPort(const QString& path)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()) + path);
}

bool finishes(const UpdaterService& service)
{
    return QTest::qWaitFor([&] { return service.state() == State::idle || service.state() == State::readyToRelaunch; },
                           15'000);
}

class UpdaterServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(temporaryFolder());
        qputenv("TMPDIR", temporaryFolder().toUtf8());
        writeFile(executable(), "installed build");
    }
    void TearDown() override { qputenv("TMPDIR", savedTemp); }
    QString temporaryFolder() const { return root + QStringLiteral("/tmp"); }
    QString installedFolder() const { return root + QStringLiteral("/apps/Nimbrel.app"); }
    QString executable() const { return installedFolder() + QStringLiteral("/bin/nimbrel"); }
    QString updateFolder() const { return root + QStringLiteral("/data/Nimbrel/Update"); }
    QString stagedFolder() const { return updateFolder() + QStringLiteral("/Nimbrel.app"); }
    std::unique_ptr<UpdaterService> makeService(const QString& build = QStringLiteral("10"), bool loopbackHttp = true,
                                                std::optional<QUrl> feedUrl = {}, std::optional<QString> program = {})
    {
        return std::make_unique<UpdaterService>(UpdaterEnvironment{
            heldHttp ? static_cast<HttpClient&>(*heldHttp) : http, log, locations, program.value_or(executable()),
            build, feedUrl.value_or(server.url(QStringLiteral("/appcast.json"))), loopbackHttp, testPublicKey,
            [](const QString&, const QStringList&) { return false; }});
    }
    void serveRelease(qint64 feedBuild, const QByteArray& packageBytes)
    {
        server.answer("/appcast.json", {200, feed(feedBuild, server.url(QStringLiteral("/package")), packageBytes)});
        server.answer("/package", {200, packageBytes});
    }
    QString root = freshDirectory();
    fake::Locations locations{root};
    QByteArray savedTemp = qgetenv("TMPDIR");
    fake::LocalHttpServer server;
    native::QtHttpClient http;
    fake::HeldHttpClient* heldHttp = nullptr;  // set before makeService: requests wait for the test
    fake::RecordingSystemLog log;
};

TEST(Release, BuildNumbersAddressesAndFolders)
{
    const std::pair<const char16_t*, qint64> builds[] = {
        {u"42", 42}, {u"+7", 7},   {u"-5", -5},          {u"", 0},
        {u"+", 0},   {u"1.2", 0},  {u" 5", 0},           {u"5 ", 0},
        {u"+-5", 0}, {u"0x10", 0}, {u"\u0661\u0662", 0}, {u"9223372036854775808", 0}};
    for (const auto& [text, build] : builds)
        EXPECT_EQ(parseBuildNumber(QString::fromUtf16(text)), build) << QString::fromUtf16(text).toStdString();
    EXPECT_EQ(parseBuildNumber(QStringLiteral("-9223372036854775808")), std::numeric_limits<qint64>::min());
    const auto allowed = [](const char* url, bool feedOverridden) {
        return isAllowedUpdateAddress(QUrl(QString::fromLatin1(url)), feedOverridden);
    };
    for (const char* url : {"https://u.example.org/appcast.json", "HTTPS://u.example.org/a"})
        EXPECT_TRUE(allowed(url, false) && allowed(url, true)) << url;
    // Plain HTTP only to this machine, and only while NIMBREL_FEED_URL is set.
    for (const char* url : {"http://127.12.0.9:8080/a", "http://[::1]:8080/a", "http://LOCALHOST/a"})
        EXPECT_TRUE(!allowed(url, false) && allowed(url, true)) << url;
    for (const char* url : {"http://u.example.org/a", "http://128.0.0.1/a", "http://localhost.example.org/a",
                            "ftp://127.0.0.1/a", "https:/no-host"})
        EXPECT_FALSE(allowed(url, false) || allowed(url, true)) << url;
    EXPECT_EQ(installFolderOf(QStringLiteral("/o/Nimbrel.app/lib/../bin/nimbrel")), QStringLiteral("/o/Nimbrel.app"));
    for (const char* path : {"/usr/bin/nimbrel", "/opt/Nimbrel.app/nimbrel", "/opt/Other.app/bin/nimbrel", ""})
        EXPECT_EQ(installFolderOf(QString::fromUtf8(path)), std::nullopt) << path;
}

TEST(DecodeRelease, RequiredKeysAndTheirExactTypes)
{
    // Every document carries the package's length and signature unless it names one of them.
    const QByteArray signature = QByteArray(64, '\x07').toBase64();
    const auto decode = [&](QByteArray text) {
        if (text.startsWith('{') && !text.contains("\"length\"") && !text.contains("\"signature\""))
            text.insert(1, R"("length":5,"signature":")" + signature + R"(",)");
        return decodeRelease(text);
    };
    EXPECT_EQ(
        decode(R"({"version":"2.0","build":12,"url":"https://u.org/N.tar.gz","notes":{"ignored":true}})")->signature,
        QByteArray(64, '\x07'));
    const QByteArray v = R"({"version":"1",)";
    const QByteArray vb = v + R"("build":3,)";
    const QByteArray vbu = vb + R"("url":"https://h/p")";
    EXPECT_EQ(decode(vbu + R"(,"minimumSystemVersion":null})").value().build, 3);
    EXPECT_EQ(decode(v + R"("build":-4.0,"url":"https://h/p"})").value().build, -4);
    const QString malformed = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
    const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");
    for (const auto& [error, documents] : std::initializer_list<std::pair<QString, QList<QByteArray>>>{
             {malformed,
              {v + R"("build":9223372036854775808,"url":"https://h/p"})", v + R"("build":"3","url":"https://h/p"})",
               v + R"("build":3.5,"url":"https://h/p"})", vbu + R"(,"minimumSystemVersion":14})",
               R"({"version":1,"build":3,"url":"https://h/p"})", vb + R"("url":7})", vb + R"("url":"relative/path"})",
               vb + R"("url":""})", "[" + vbu + "}]", vbu + "} trailing", "<html>502 Bad Gateway</html>",
               vbu + R"(,"length":5,"signature":"AAAA"})", vbu + R"(,"length":5,"signature":"not base64!"})",
               vbu + R"(,"length":0,"signature":"AAAA"})", vbu + R"(,"length":"5","signature":"AAAA"})"}},
             {missing,
              {R"({"build":3,"url":"https://h/p"})", v + R"("build":null,"url":"https://h/p"})", v + R"("build":3})",
               vbu + R"(,"length":5})", vbu + R"(,"signature":"AAAA"})"}}}) {
        for (const QByteArray& json : documents) {
            const Result<Release> release = decode(json);
            ASSERT_FALSE(release.ok()) << json.constData();
            EXPECT_EQ(release.error().description, error) << json.constData();
        }
    }
}

TEST_F(UpdaterServiceTest, OnlyANewerBuildIsDownloadedVerifiedAndStagedInPlaceOfTheEarlierOne)
{
    const std::tuple<const char*, QString, qint64, std::optional<QString>> cases[] = {
        // running build, feed build, executable
        {"same build", QStringLiteral("10"), 10, {}},
        {"installed otherwise than as a folder", QStringLiteral("10"), 11, root + QStringLiteral("/usr/bin/nimbrel")},
        {"newer build", QStringLiteral("10"), 11, {}},
        {"running build unreadable, so 0", QStringLiteral("build-7"), 11, {}},
    };
    for (const auto& [name, running, feedBuild, executablePath] : cases) {
        SCOPED_TRACE(name);
        const bool stages = feedBuild == 11 && !executablePath;
        server.requests.clear();
        makeSignedFolder(stagedFolder(), 11, "earlier");
        serveRelease(feedBuild, signedPackage(feedBuild));
        const auto service = makeService(running, true, {}, executablePath);
        QSignalSpy versions(service.get(), &UpdaterService::availableVersionChanged);
        QList<State> seen;
        QObject::connect(service.get(), &UpdaterService::stateChanged, [&] { seen.append(service->state()); });
        service->checkForUpdates();
        ASSERT_TRUE(finishes(*service));
        EXPECT_EQ(seen, (stages ? QList<State>{State::checking, State::downloading, State::readyToRelaunch}
                                : QList<State>{State::checking, State::idle}));
        EXPECT_EQ(service->stagedApp(), stages ? std::optional(stagedFolder()) : std::nullopt);
        EXPECT_EQ(service->availableVersion(), stages ? std::optional(QStringLiteral("1.1")) : std::nullopt);
        EXPECT_EQ(versions.count(), stages ? 1 : 0);
        EXPECT_EQ(readFile(stagedFolder() + QStringLiteral("/bin/nimbrel")),
                  stages ? "#!/bin/sh\necho new build\n" : "#!/bin/sh\necho earlier\n");
        EXPECT_TRUE(verifyInstallFolder(stagedFolder(), testPublicKey));
        EXPECT_EQ(server.hits("/package"), stages ? 1 : 0);
        EXPECT_EQ(readFile(executable()), "installed build");
        EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
        EXPECT_EQ(names(temporaryFolder()) + names(updateFolder()), QStringList{"Nimbrel.app"}) << "nothing left over";
        if (stages)
            service->checkForUpdates();
        EXPECT_EQ(seen.size(), stages ? 3 : 2) << "a staged build is not replaced within the same run";
    }
}

TEST_F(UpdaterServiceTest, EveryFailureEndsIdleWithOneLineAndKeepsTheEarlierStagedFolder)
{
    const QString notHttps = QStringLiteral("is not an HTTPS address"), larger = QStringLiteral("larger than");
    const QString refused = describe(UpdateError::verificationFailed);
    const QUrl packageUrl = server.url(QStringLiteral("/package"));
    const auto ok = [](const QByteArray& body) { return Response(200, body); };
    const QString outside = root + QStringLiteral("/outside");
    QDir().mkpath(outside);
    const QByteArray good = signedPackage(11), equalBuild = signedPackage(10);
    const QByteArray foreignFolder = signedPackage(11, QStringLiteral("Nimbrel.app"), otherSigningKey);
    const QByteArray nested = signedPackage(11, QStringLiteral("Release/Nimbrel.app"));
    const QByteArray absolute = gzip(tarArchive({tarFile(QFile::encodeName(outside) + "/escaped.txt", "x")}));
    // The escape once reproduced with the first reader: a pax path whose ".." components carry a NUL.
    const QByteArray hostile =
        gzip(tarArchive({pax("path", QByteArray("..\0/", 4).repeated(12) + QFile::encodeName(outside).mid(1) + "/x"),
                         tarFile("x", "x")}));
    const QUrl closedFeed = closedPort(QStringLiteral("/appcast.json"));
    struct Case {
        const char* name;
        Response feedResponse, packageResponse;
        QString expected;  // a part of the description after the prefix
        int packageHits = 1;
        bool allowLoopbackHttp = true;
        std::optional<QUrl> feedUrl = {};
    };
    const auto offered = [&](const QByteArray& package, const QByteArray& key = testSigningKey,
                             std::optional<qint64> length = {}) {
        return ok(feed(11, packageUrl, package, key, length));
    };
    const Case cases[] = {
        {"feed is an error page", {500, "<h1>Internal Server Error</h1>"}, ok(good), "isn’t in the correct format", 0},
        {"feed over plain HTTP without the override", offered(good), ok(good), notHttps, 0, false},
        {"package over plain HTTP to another host", ok(feed(11, QUrl(QStringLiteral("http://203.0.113.9/p")), good)),
         ok(good), notHttps, 0},
        {"feed refuses the connection", offered(good), ok(good), QString(), 0, true, closedFeed},
        {"feed announces more than 512 MiB", offered(good, testSigningKey, qint64(600) << 20), ok(good), larger, 0},
        {"truncated download", offered(good), Response(200, good.left(40)).announcing(good.size()), "ended"},
        {"download longer than the feed's length", offered(good),
         Response(200, good + "more").announcing(good.size() + 4), larger},
        {"length differs from the feed's", offered(good, testSigningKey, good.size() + 1), ok(good), refused},
        {"package signed by someone else", offered(good, otherSigningKey), ok(good), refused},
        // Signed by someone else and hostile: the old order unpacked it before any check.
        {"hostile package signed by someone else", offered(absolute, otherSigningKey), ok(absolute), refused},
        {"folder signed by someone else", offered(foreignFolder), ok(foreignFolder), refused},
        {"forged feed build over a signed build equal to the running one", ok(feed(99, packageUrl, equalBuild)),
         ok(equalBuild), refused},
        {"folder in a subfolder", offered(nested), ok(nested), describe(UpdateError::appNotFound)},
        // Signed with the trusted key, as a compromised release machine could: the reader must refuse it.
        {"hostile package signed by the trusted key", offered(hostile), ok(hostile),
         describe(UpdateError::mountFailed)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        server.requests.clear();
        writeFile(stagedFolder() + QStringLiteral("/bin/nimbrel"), "staged earlier");
        writeFile(updateFolder() + QStringLiteral("/.staging-Left0v/Nimbrel.app/_signature/manifest"), "{}");
        server.answer("/appcast.json", c.feedResponse);
        server.answer("/package", c.packageResponse);
        const auto service = makeService(QStringLiteral("10"), c.allowLoopbackHttp, c.feedUrl);
        service->checkForUpdates();
        ASSERT_TRUE(finishes(*service));
        EXPECT_EQ(service->state(), State::idle);
        EXPECT_FALSE(service->stagedApp() || service->availableVersion());
        ASSERT_EQ(log.lines.size(), 1) << log.lines.join(u'\n').toStdString();
        const QString line = log.lines.first();
        EXPECT_TRUE(line.startsWith(failurePrefix) && line.size() > failurePrefix.size() &&
                    line.mid(failurePrefix.size()).contains(c.expected))
            << line.toStdString();
        EXPECT_EQ(server.hits("/package"), c.packageHits);
        EXPECT_EQ(server.hits("/appcast.json"), c.allowLoopbackHttp && !c.feedUrl ? 1 : 0);
        EXPECT_EQ(readFile(stagedFolder() + QStringLiteral("/bin/nimbrel")), "staged earlier");
        EXPECT_EQ(readFile(executable()), "installed build");
        EXPECT_EQ(names(outside), QStringList());
        // Whatever an interrupted staging left, and the attempt's download, are gone after the check.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return names(updateFolder()) + names(temporaryFolder()) == QStringList{"Nimbrel.app"}; }, 2'000))
            << (names(updateFolder()) + names(temporaryFolder())).join(u' ').toStdString();
    }
}

TEST_F(UpdaterServiceTest, ChecksDoNotOverlapAndTheTimerRepeatsHoldingTheServiceWeakly)
{
    server.answer("/appcast.json", {200, "not json"});
    auto service = makeService();
    QSignalSpy states(service.get(), &UpdaterService::stateChanged);
    service->checkForUpdates();
    service->checkForUpdates();
    ASSERT_TRUE(finishes(*service));
    EXPECT_EQ(states.count(), 2);
    EXPECT_EQ(log.lines.size(), 1);
    serveRelease(10, signedPackage(10));
    QObject owner;
    QTimer* timer = service->scheduleCheckTimer(&owner);
    EXPECT_EQ(server.hits("/appcast.json"), 1) << "scheduling does not check by itself";
    timer->setInterval(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hits("/appcast.json") >= 3; }, 10'000))
        << "a failure allows the next";
    service.reset();
    const int hits = server.hits("/appcast.json");
    QSignalSpy fired(timer, &QTimer::timeout);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired.count() >= 3; }, 5'000));
    EXPECT_EQ(server.hits("/appcast.json"), hits);
}

TEST_F(UpdaterServiceTest, SwitchedOffMidCycleTheCycleEndsWithoutAnotherRequest)
{
    // Switched off before the feed is asked, while it is, or while the package downloads: the requests made.
    const QStringList requests[] = {{}, {"GET /appcast.json"}, {"GET /appcast.json", "DOWNLOAD /package"}};
    const QByteArray newer = feed(11, server.url(QStringLiteral("/package")), "package");
    for (int offAt = 0; offAt < 3; ++offAt) {
        SCOPED_TRACE(offAt);
        fake::HeldHttpClient held;
        heldHttp = &held;
        const auto service = makeService(QStringLiteral("10"));
        service->checkForUpdates();
        if (offAt > 0) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !held.gets.isEmpty(); }, 5'000));
        }
        if (offAt == 2) {
            held.gets.takeFirst()(newer);
            ASSERT_EQ(held.downloads.size(), 1);
        }
        service->setChecksEnabled(false);
        const QString package = temporaryFolder() + QStringLiteral("/nimbrel-download-test");
        writeFile(package, "package");
        if (!held.gets.isEmpty())
            held.gets.takeFirst()(newer);
        if (!held.downloads.isEmpty())
            held.downloads.takeFirst()(package);
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->state() == State::idle; }, 5'000));
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        QStringList paths;
        for (const QString& request : held.requests)
            paths.append(request.section(u' ', 0, 0) + u' ' + QUrl(request.section(u' ', 1)).path());
        EXPECT_EQ(paths, requests[offAt]);
        EXPECT_EQ(QFile::remove(package), offAt != 2) << "a package downloaded meanwhile is deleted";
        EXPECT_FALSE(service->stagedApp() || exists(stagedFolder()));
        EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
    }
}

TEST_F(UpdaterServiceTest, HttpClientAnswersAnyStatusKeepsNoCookieAndFollowsOnlyAcceptedRedirects)
{
    // A cookie from the launch report's answer would tie every later update check to its install_id.
    server.answer("/api/launch", Response(204).header("Set-Cookie", "visitor=42; Path=/"));
    server.answer("/appcast.json", Response(503, "maintenance").header("Set-Cookie", "seen=1; Path=/"));
    server.answer("/moved", Response(302).header("Location", server.url(QStringLiteral("/appcast.json")).toEncoded()));
    const auto url = [&](const char* path) { return server.url(QString::fromLatin1(path)); };
    const auto wait = [](const auto& answer) { return QTest::qWaitFor([&] { return answer.has_value(); }, 10'000); };
    std::optional<Result<HttpResponse>> posted;
    http.postJson(url("/api/launch"), "{}", std::chrono::seconds(10), [&](auto answer) { posted = std::move(answer); });
    ASSERT_TRUE(wait(posted));
    for (const bool redirectAllowed : {true, false}) {
        std::optional<Result<QByteArray>> body;
        http.get(
            url("/moved"), std::chrono::seconds(10),
            [&](const QUrl& to) { return redirectAllowed || to.path() != QLatin1String("/appcast.json"); },
            [&](Result<QByteArray> answer) { body = std::move(answer); });
        EXPECT_FALSE(body) << "completions never run inside the call";
        ASSERT_TRUE(wait(body));
        EXPECT_EQ(body->ok() ? body->value() : QByteArray(), redirectAllowed ? "maintenance" : "");
    }
    EXPECT_EQ(server.hits("/appcast.json"), 1);
    EXPECT_EQ(server.requests.value(1).headers.value("accept-encoding"), "identity");
    for (const fake::LocalHttpServer::Request& request : server.requests)
        EXPECT_FALSE(request.headers.contains("cookie")) << request.path.toStdString();
}

// --- the launch report ---------------------------------------------------------------------------------------

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
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(LaunchReporterTest, FailuresAreLoggedAndRetriedAtTheNextStartWithTheSameID)
{
    const QUrl closed = closedPort(QStringLiteral("/api/launch"));
    const std::pair<std::optional<Response>, QString> cases[] = {
        // answer (none: the connection is refused), the start of the line it logs
        {std::nullopt, QStringLiteral("[Nimbrel] 启动上报失败，下次启动重试：")},
        {Response(500, "overloaded"), QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 500），下次启动重试：overloaded")},
        {Response(301, "moved").header("Location", "/elsewhere"),
         QStringLiteral("[Nimbrel] 启动上报未成功（HTTP 301），下次启动重试：moved")},
        {Response(200, "ok"), QString()},
    };
    for (const auto& [response, line] : cases) {
        SCOPED_TRACE(line.toStdString());
        log.lines.clear();
        if (response)
            server.answer("/api/launch", *response);
        start(response ? endpoint() : closed);
        EXPECT_TRUE(line.isEmpty() ? log.lines.isEmpty() : log.lines.size() == 1 && log.lines[0].startsWith(line))
            << log.lines.join(u'\n').toStdString();
        EXPECT_EQ(defaults.boolean(LaunchReporter::didReportLaunchKey), line.isEmpty());
        EXPECT_EQ(statusChanges, line.isEmpty() ? 1 : 0);
        EXPECT_TRUE(storedID());
    }
    EXPECT_EQ(server.hits("/elsewhere"), 0) << "a redirect is an answer, not followed";
    ASSERT_EQ(server.requests.size(), 3);
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
