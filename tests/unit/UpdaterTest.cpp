#include "UpdateTestSupport.h"

#include "support/fake/FakePlatform.h"
#include "support/fake/FakeUpdate.h"
#include "platform/linux/QtHttpClient.h"
#include "support/TestEnvironment.h"
#include "update/PackageSignature.h"
#include "update/Release.h"
#include "update/UpdaterService.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <limits>
#include <memory>

namespace nimbrel {
namespace {

using State = UpdaterService::State;
using Response = fake::LocalHttpServer::Response;

const QString failurePrefix = QStringLiteral("[Nimbrel] 更新检查失败，稍后重试：");

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// A package holding a folder signed by the test key for `build`; `top` names the folder inside.
QByteArray signedPackage(qint64 build, const QByteArray& top = "Nimbrel.app")
{
    const QString source = test::freshDirectory() + QStringLiteral("/Nimbrel.app");
    test::makeSignedFolder(source, std::max<qint64>(build, 0), "new build");
    return test::packFolder(source, top);
}

// The feed's fields that describe `package`: its length and its signature by `key`.
QJsonObject packageFields(const QByteArray& package, const QByteArray& key = test::testSigningKey())
{
    const QString file = test::freshDirectory() + QStringLiteral("/package");
    writeFile(file, package);
    return QJsonObject{{QStringLiteral("length"), package.size()},
                       {QStringLiteral("signature"), QString::fromLatin1(signPackage(file, key)->toBase64())}};
}

QByteArray feed(const QJsonValue& build, const QUrl& url, const QByteArray& package,
                const QByteArray& key = test::testSigningKey())
{
    QJsonObject object = packageFields(package, key);
    object.insert(QStringLiteral("version"), QStringLiteral("1.1"));
    object.insert(QStringLiteral("build"), build);
    object.insert(QStringLiteral("url"), url.toString());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A port on this machine that nobody listens on.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
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
        root = test::freshDirectory();
        locations = std::make_unique<fake::Locations>(root);
        m_savedTemp = qgetenv("TMPDIR");
        QDir().mkpath(temporaryFolder());
        qputenv("TMPDIR", temporaryFolder().toUtf8());
        writeFile(executable(), "installed build");
    }
    void TearDown() override
    {
        if (m_savedTemp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTemp);
    }

    QString temporaryFolder() const { return root + QStringLiteral("/tmp"); }
    QString installedFolder() const { return root + QStringLiteral("/apps/Nimbrel.app"); }
    QString executable() const { return installedFolder() + QStringLiteral("/bin/nimbrel"); }
    QString updateFolder() const { return root + QStringLiteral("/data/Nimbrel/Update"); }
    QString stagedFolder() const { return updateFolder() + QStringLiteral("/Nimbrel.app"); }

    std::unique_ptr<UpdaterService> makeService(const QString& build = QStringLiteral("10"),
                                                bool allowLoopbackHttp = true, std::optional<QUrl> feedUrl = {},
                                                std::optional<QString> executablePath = {})
    {
        return std::make_unique<UpdaterService>(UpdaterEnvironment{
            .http = heldHttp ? static_cast<HttpClient&>(*heldHttp) : http,
            .log = log,
            .locations = *locations,
            .executablePath = executablePath.value_or(executable()),
            .buildNumber = build,
            .appcastURL = feedUrl.value_or(server.url(QStringLiteral("/appcast.json"))),
            .allowLoopbackHttp = allowLoopbackHttp,
            .publicKey = test::testPublicKey(),
            .spawn =
                [this](const QString& program, const QStringList& arguments) {
                    spawned.append(QStringList{program} + arguments);
                    return spawnSucceeds;
                },
        });
    }

    void serveRelease(qint64 feedBuild, const QByteArray& packageBytes)
    {
        server.answer("/appcast.json", {200, feed(feedBuild, server.url(QStringLiteral("/package")), packageBytes)});
        server.answer("/package", {200, packageBytes});
    }

    QString root;
    std::unique_ptr<fake::Locations> locations;
    fake::LocalHttpServer server;
    native::QtHttpClient http;
    // Set before makeService: the service's requests wait for the test to answer them.
    fake::HeldHttpClient* heldHttp = nullptr;
    fake::RecordingSystemLog log;
    QList<QStringList> spawned;
    bool spawnSucceeds = true;

private:
    QByteArray m_savedTemp;
};

TEST(ParseBuildNumber, DecimalWithOptionalSignElseZero)
{
    struct Case {
        const char16_t* text;
        qint64 expected;
    };
    const Case cases[] = {
        {u"42", 42},
        {u"007", 7},
        {u"+7", 7},
        {u"-5", -5},
        {u"-0", 0},
        {u"", 0},
        {u"+", 0},
        {u"-", 0},
        {u"1.2", 0},
        {u" 5", 0},
        {u"5 ", 0},
        {u"+-5", 0},
        {u"0x10", 0},
        {u"\u0661\u0662", 0},  // Arabic-Indic digits are not ASCII digits
        {u"9223372036854775807", std::numeric_limits<qint64>::max()},
        {u"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {u"9223372036854775808", 0},
        {u"-9223372036854775809", 0},
        {u"99999999999999999999", 0},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(parseBuildNumber(text), c.expected) << text.toStdString();
    }
}

TEST(DecodeRelease, RequiredKeysAndTheirExactTypes)
{
    // Every case carries the package's length and signature unless it says otherwise.
    const QByteArray signature = QByteArray(64, '\x07').toBase64();
    const QByteArray signed_ = R"("length":5,"signature":")" + signature + R"(",)";
    const auto withPackage = [&](const char* json) {
        QByteArray text(json);
        if (text.startsWith('{') && !text.contains("\"length\"") && !text.contains("\"signature\""))
            text.insert(1, signed_);
        return text;
    };
    const Release full = *decodeRelease(
        withPackage(R"({"version":"2.0","build":12,"url":"https://updates.example.org/Nimbrel-2.0.tar.gz",)"
                    R"("minimumSystemVersion":"5.10","notes":{"ignored":true}})"));
    EXPECT_EQ(full.version, QStringLiteral("2.0"));
    EXPECT_EQ(full.build, 12);
    EXPECT_EQ(full.url, QUrl(QStringLiteral("https://updates.example.org/Nimbrel-2.0.tar.gz")));
    EXPECT_EQ(full.minimumSystemVersion, QStringLiteral("5.10"));
    EXPECT_EQ(full.length, 5);
    EXPECT_EQ(full.signature, QByteArray(64, '\x07'));

    const QString malformed = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
    const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");
    struct Case {
        const char* json;
        std::optional<qint64> build;  // absent: the document fails with `error`
        QString error;
    };
    const Case cases[] = {
        {R"({"version":"1","build":3,"url":"https://h/p"})", 3, {}},
        {R"({"version":"1","build":3,"url":"https://h/p","minimumSystemVersion":null})", 3, {}},
        {R"({"version":"1","build":3.0,"url":"https://h/p"})", 3, {}},
        {R"({"version":"1","build":3e1,"url":"https://h/p"})", 30, {}},
        {R"({"version":"1","build":-4,"url":"https://h/p"})", -4, {}},
        {R"({"version":"1","build":-9223372036854775808,"url":"https://h/p"})", std::numeric_limits<qint64>::min(), {}},
        {R"({"version":"1","build":9223372036854775808,"url":"https://h/p"})", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/p","minimumSystemVersion":14})", {}, malformed},
        {R"({"version":"1","build":"3","url":"https://h/p"})", {}, malformed},
        {R"({"version":"1","build":3.5,"url":"https://h/p"})", {}, malformed},
        {R"({"version":"1","build":true,"url":"https://h/p"})", {}, malformed},
        {R"({"version":1,"build":3,"url":"https://h/p"})", {}, malformed},
        {R"({"version":"1","build":3,"url":7})", {}, malformed},
        {R"({"version":"1","build":3,"url":"relative/path"})", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/a b"})", {}, malformed},
        {R"({"version":"1","build":3,"url":""})", {}, malformed},
        {R"({"build":3,"url":"https://h/p"})", {}, missing},
        {R"({"version":"1","url":"https://h/p"})", {}, missing},
        {R"({"version":"1","build":null,"url":"https://h/p"})", {}, missing},
        {R"({"version":"1","build":3})", {}, missing},
        {R"([{"version":"1","build":3,"url":"https://h/p"}])", {}, malformed},
        {R"(<html><body>502 Bad Gateway</body></html>)", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/p"} trailing)", {}, malformed},
        {"", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/p","length":5})", {}, missing},
        {R"({"version":"1","build":3,"url":"https://h/p","signature":"AAAA"})", {}, missing},
        {R"({"version":"1","build":3,"url":"https://h/p","length":5,"signature":null})", {}, missing},
        {R"({"version":"1","build":3,"url":"https://h/p","length":5,"signature":"AAAA"})", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/p","length":5,"signature":"not base64!"})", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/p","length":0,"signature":"AAAA"})", {}, malformed},
        {R"({"version":"1","build":3,"url":"https://h/p","length":"5","signature":"AAAA"})", {}, malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const Result<Release> release = decodeRelease(withPackage(c.json));
        ASSERT_EQ(release.ok(), c.build.has_value());
        if (release)
            EXPECT_EQ(release->build, *c.build);
        else
            EXPECT_EQ(release.error().description, c.error);
    }
}

TEST(UpdateAddresses, HttpsOnlyUnlessTheFeedIsOverriddenForThisMachine)
{
    struct Case {
        const char* url;
        bool strict;
        bool overridden;
    };
    const Case cases[] = {
        {"https://updates.example.org/appcast.json", true, true},
        {"HTTPS://updates.example.org/appcast.json", true, true},
        {"http://updates.example.org/appcast.json", false, false},
        {"http://127.0.0.1:8080/appcast.json", false, true},
        {"http://127.12.0.9/appcast.json", false, true},
        {"http://[::1]:8080/appcast.json", false, true},
        {"http://localhost:8080/appcast.json", false, true},
        {"http://LOCALHOST/appcast.json", false, true},
        {"http://128.0.0.1/appcast.json", false, false},
        {"http://localhost.example.org/appcast.json", false, false},
        {"http://10.0.0.1/appcast.json", false, false},
        {"ftp://127.0.0.1/appcast.json", false, false},
        {"file:///tmp/appcast.json", false, false},
        {"https:/no-host", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const QUrl url(QString::fromLatin1(c.url));
        EXPECT_EQ(isAllowedUpdateAddress(url, false), c.strict);
        EXPECT_EQ(isAllowedUpdateAddress(url, true), c.overridden);
    }
}

TEST(FolderForExecutable, OnlyTheBinFolderOfANimbrelFolder)
{
    struct Case {
        const char* executable;
        std::optional<QString> folder;
    };
    const Case cases[] = {
        {"/opt/Nimbrel.app/bin/nimbrel", QStringLiteral("/opt/Nimbrel.app")},
        {"/home/a b/Apps/Nimbrel.app/bin/nimbrel", QStringLiteral("/home/a b/Apps/Nimbrel.app")},
        {"/opt/Nimbrel.app/lib/../bin/nimbrel", QStringLiteral("/opt/Nimbrel.app")},
        {"/usr/bin/nimbrel", std::nullopt},
        {"/opt/Nimbrel.app/nimbrel", std::nullopt},
        {"/opt/Other.app/bin/nimbrel", std::nullopt},
        {"/work/build/bin/nimbrel", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        EXPECT_EQ(installFolderOf(QString::fromUtf8(c.executable)), c.folder);
    }
}

TEST_F(UpdaterServiceTest, FeedBuildNotNewerLeavesIdleAndDownloadsNothing)
{
    for (const qint64 feedBuild : {qint64(10), qint64(9), qint64(-1)}) {
        SCOPED_TRACE(feedBuild);
        serveRelease(feedBuild, signedPackage(feedBuild));
        const auto service = makeService(QStringLiteral("10"));
        QSignalSpy states(service.get(), &UpdaterService::stateChanged);
        service->checkForUpdates();
        EXPECT_EQ(service->state(), State::checking);
        ASSERT_TRUE(finishes(*service));
        EXPECT_EQ(service->state(), State::idle);
        EXPECT_EQ(states.count(), 2);
        EXPECT_FALSE(service->stagedApp());
        EXPECT_FALSE(service->availableVersion());
    }
    EXPECT_EQ(server.hits("/appcast.json"), 3);
    EXPECT_EQ(server.hits("/package"), 0);
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
}

TEST_F(UpdaterServiceTest, NewerBuildIsDownloadedVerifiedAndStaged)
{
    serveRelease(11, signedPackage(11));
    const auto service = makeService(QStringLiteral("10"));
    QSignalSpy states(service.get(), &UpdaterService::stateChanged);
    QSignalSpy staged(service.get(), &UpdaterService::stagedAppChanged);
    QSignalSpy versions(service.get(), &UpdaterService::availableVersionChanged);
    QList<State> seen;
    QObject::connect(service.get(), &UpdaterService::stateChanged, [&] { seen.append(service->state()); });

    service->checkForUpdates();
    ASSERT_TRUE(finishes(*service));

    EXPECT_EQ(seen, (QList<State>{State::checking, State::downloading, State::readyToRelaunch}));
    EXPECT_EQ(service->stagedApp(), stagedFolder());
    EXPECT_EQ(service->availableVersion(), QStringLiteral("1.1"));
    EXPECT_EQ(staged.count(), 1);
    EXPECT_EQ(versions.count(), 1);
    EXPECT_EQ(readFile(stagedFolder() + QStringLiteral("/bin/nimbrel")), "#!/bin/sh\necho new build\n");
    EXPECT_EQ(readFile(executable()), "installed build");
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
    EXPECT_EQ(server.hits("/package"), 1);

    EXPECT_TRUE(verifyInstallFolder(stagedFolder(), test::testPublicKey()));
    // The download and the private unpacking folder are gone.
    EXPECT_TRUE(entries(temporaryFolder()).isEmpty()) << entries(temporaryFolder()).join(u' ').toStdString();
    EXPECT_EQ(entries(updateFolder()), QStringList{QStringLiteral("Nimbrel.app")});

    // A staged build is not replaced within the same run: no further check starts.
    service->checkForUpdates();
    QTest::qWait(50);
    EXPECT_EQ(service->state(), State::readyToRelaunch);
    EXPECT_EQ(server.hits("/appcast.json"), 1);
    EXPECT_EQ(states.count(), 3);
}

TEST_F(UpdaterServiceTest, UnreadableRunningBuildCountsAsZero)
{
    for (const QString& running : {QStringLiteral("1.2"), QString(), QStringLiteral("build-7")}) {
        SCOPED_TRACE(running.toStdString());
        serveRelease(1, signedPackage(1));
        const auto service = makeService(running);
        EXPECT_EQ(service->currentBuild(), 0);
        service->checkForUpdates();
        ASSERT_TRUE(finishes(*service));
        EXPECT_EQ(service->state(), State::readyToRelaunch);
    }
}

TEST_F(UpdaterServiceTest, EveryFailureEndsIdleWithOneLineAndKeepsTheEarlierStagedFolder)
{
    const QString malformed = QStringLiteral("isn’t in the correct format");
    const QString notHttps = QStringLiteral("is not an HTTPS address");
    struct Case {
        const char* name;
        Response feedResponse;
        Response packageResponse;
        QString expected;  // the whole description after the prefix, or a part of it when `exact` is false
        bool exact = false;
        int packageHits = 1;
        bool allowLoopbackHttp = true;
        bool refusedFeed = false;
    };
    const QUrl packageUrl = server.url(QStringLiteral("/package"));
    const auto ok = [](const QByteArray& body) { return Response(200, body); };
    const QByteArray big = signedPackage(11);
    const QByteArray older = signedPackage(9);
    const auto feedWithLength = [&](qint64 length) {
        QJsonObject object = QJsonDocument::fromJson(feed(11, packageUrl, big)).object();
        object.insert(QStringLiteral("length"), length);
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    };
    const std::vector<Case> cases{
        {"feed is not JSON", ok("<html>maintenance</html>"), ok(big), malformed, false, 0},
        {"feed is an error page", {500, "<h1>Internal Server Error</h1>"}, ok(big), malformed, false, 0},
        {"feed without a build", ok(R"({"version":"1.1","url":"https://h/p"})"), ok(big), QStringLiteral("is missing"),
         false, 0},
        {"feed without the package's signature",
         ok(R"({"version":"1.1","build":11,"length":5,"url":")" + packageUrl.toEncoded() + R"("})"), ok(big),
         QStringLiteral("is missing"), false, 0},
        {"build given as a string", ok(feed(QStringLiteral("11"), packageUrl, big)), ok(big), malformed, false, 0},
        {"feed over plain HTTP without the override", ok(feed(11, packageUrl, big)), ok(big), notHttps, false, 0,
         false},
        {"package over plain HTTP to another host", ok(feed(11, QUrl(QStringLiteral("http://203.0.113.9/p")), big)),
         ok(big), notHttps, false, 0},
        {"feed refuses the connection", ok(feed(11, packageUrl, big)), ok(big), QString(), false, 0, true, true},
        {"truncated download", ok(feed(11, packageUrl, big)), Response(200, big.left(40)).announcing(big.size()),
         QStringLiteral("ended"), false},
        {"download longer than the feed's length", ok(feed(11, packageUrl, big)),
         Response(200, big + "more").announcing(big.size() + 4), QStringLiteral("larger than"), false},
        {"feed announces more than 512 MiB", ok(feedWithLength(qint64(600) * 1024 * 1024)), ok(big),
         QStringLiteral("larger than"), false, 0},
        {"package signed by someone else", ok(feed(11, packageUrl, big, test::otherSigningKey())), ok(big),
         describe(UpdateError::verificationFailed), true},
        {"forged feed build over an older signed package", ok(feed(99, packageUrl, older)), ok(older),
         describe(UpdateError::verificationFailed), true},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.lines.clear();
        server.requests.clear();
        writeFile(stagedFolder() + QStringLiteral("/bin/nimbrel"), "staged earlier");
        writeFile(updateFolder() + QStringLiteral("/.staging-Left0v/Nimbrel.app/_signature/manifest"), "{}");
        server.answer("/appcast.json", c.feedResponse);
        server.answer("/package", c.packageResponse);
        const auto feedUrl =
            c.refusedFeed
                ? std::optional<QUrl>(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.json").arg(closedPort())))
                : std::nullopt;
        const auto service = makeService(QStringLiteral("10"), c.allowLoopbackHttp, feedUrl);

        service->checkForUpdates();
        ASSERT_TRUE(finishes(*service));

        EXPECT_EQ(service->state(), State::idle);
        EXPECT_FALSE(service->stagedApp());
        EXPECT_FALSE(service->availableVersion());
        ASSERT_EQ(log.lines.size(), 1) << log.lines.join(u'\n').toStdString();
        const QString line = log.lines.first();
        ASSERT_TRUE(line.startsWith(failurePrefix)) << line.toStdString();
        const QString description = line.mid(failurePrefix.size());
        if (c.exact) {
            EXPECT_EQ(description, c.expected);
        } else {
            EXPECT_TRUE(!description.isEmpty() && description.contains(c.expected)) << line.toStdString();
        }
        EXPECT_EQ(server.hits("/package"), c.packageHits);
        if (!c.allowLoopbackHttp) {
            EXPECT_EQ(server.hits("/appcast.json"), 0);
        }
        EXPECT_EQ(readFile(stagedFolder() + QStringLiteral("/bin/nimbrel")), "staged earlier");
        EXPECT_EQ(readFile(executable()), "installed build");
        // Whatever an interrupted staging left is gone after the check.
        EXPECT_TRUE(QTest::qWaitFor([&] { return entries(updateFolder()) == QStringList{"Nimbrel.app"}; }, 2'000))
            << entries(updateFolder()).join(u' ').toStdString();
        // Nothing of the attempt is left in the temporary folder.
        EXPECT_TRUE(QTest::qWaitFor([&] { return entries(temporaryFolder()).isEmpty(); }, 2'000))
            << entries(temporaryFolder()).join(u' ').toStdString();
    }
}

TEST_F(UpdaterServiceTest, InstallationThatCannotReplaceItselfNeitherDownloadsNorLogs)
{
    serveRelease(11, signedPackage(11));
    const QString systemWide = root + QStringLiteral("/usr/bin/nimbrel");
    writeFile(systemWide, "packaged");
    const auto service = makeService(QStringLiteral("10"), true, {}, systemWide);
    EXPECT_FALSE(service->runningInstallFolder());
    EXPECT_FALSE(service->canReplaceInstalledApp());

    service->checkForUpdates();
    ASSERT_TRUE(finishes(*service));
    EXPECT_EQ(service->state(), State::idle);
    EXPECT_EQ(server.hits("/appcast.json"), 1);
    EXPECT_EQ(server.hits("/package"), 0);
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(UpdaterServiceTest, CanReplaceOnlyWhenTheFoldersFolderIsWritable)
{
    const auto service = makeService();
    EXPECT_EQ(service->runningInstallFolder(), installedFolder());
    EXPECT_TRUE(service->canReplaceInstalledApp());
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write to any folder";
    const QString apps = root + QStringLiteral("/apps");
    QFile::setPermissions(apps, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(service->canReplaceInstalledApp());
    QFile::setPermissions(apps, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(UpdaterServiceTest, TwoChecksInARowStartOneCycleAndAFailureAllowsTheNext)
{
    server.answer("/appcast.json", {200, "not json"});
    const auto service = makeService();
    QSignalSpy states(service.get(), &UpdaterService::stateChanged);
    service->checkForUpdates();
    service->checkForUpdates();
    EXPECT_EQ(service->state(), State::checking);
    ASSERT_TRUE(finishes(*service));
    QTest::qWait(50);
    EXPECT_EQ(server.hits("/appcast.json"), 1);
    EXPECT_EQ(states.count(), 2);
    EXPECT_EQ(log.lines.size(), 1);

    serveRelease(10, signedPackage(10));
    service->checkForUpdates();
    ASSERT_TRUE(finishes(*service));
    EXPECT_EQ(server.hits("/appcast.json"), 2);
    EXPECT_EQ(log.lines.size(), 1);
}

TEST_F(UpdaterServiceTest, CheckTimerRepeatsEverySixHoursAndHoldsTheServiceWeakly)
{
    serveRelease(10, signedPackage(10));
    QObject owner;
    auto service = makeService();
    QTimer* timer = service->scheduleCheckTimer(&owner);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(service->timer(), timer);
    EXPECT_EQ(timer->parent(), &owner);
    EXPECT_EQ(timer->interval(), 21'600'000);
    EXPECT_FALSE(timer->isSingleShot());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(server.hits("/appcast.json"), 0) << "scheduling does not check by itself";

    timer->setInterval(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hits("/appcast.json") >= 2; }, 10'000));

    service.reset();
    const int hits = server.hits("/appcast.json");
    QTest::qWait(50);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(server.hits("/appcast.json"), hits);
}

TEST_F(UpdaterServiceTest, SwitchedOffTheFeedIsNeverAskedAndSwitchedOnTheRepeatingCheckResumes)
{
    fake::HeldHttpClient held;
    heldHttp = &held;
    const QByteArray sameBuild = feed(10, server.url(QStringLiteral("/package")), "package");
    const auto answerEveryFeedRequest = [&] {
        while (!held.gets.isEmpty())
            held.gets.takeFirst()(sameBuild);
    };
    QObject owner;
    const auto service = makeService(QStringLiteral("10"));

    // Off from the start: no timer runs and asking for a check does nothing.
    service->setChecksEnabled(false);
    QTimer* timer = service->scheduleCheckTimer(&owner);
    EXPECT_FALSE(timer->isActive());
    service->checkForUpdates();
    EXPECT_EQ(service->state(), State::idle);
    QCoreApplication::processEvents();
    EXPECT_TRUE(held.requests.isEmpty()) << held.requests.join(u'\n').toStdString();

    // On: a check at once, then the repeating one.
    timer->setInterval(1);
    service->setChecksEnabled(true);
    EXPECT_TRUE(service->checksEnabled());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(service->state(), State::checking);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            answerEveryFeedRequest();
            return held.requests.size() >= 3;
        },
        10'000));
    EXPECT_EQ(
        held.requests.filter(QStringLiteral("GET ") + server.url(QStringLiteral("/appcast.json")).toString()).size(),
        held.requests.size());

    // Off again: the timer stops at once, and a cycle it had already queued asks nothing.
    service->setChecksEnabled(false);
    EXPECT_FALSE(timer->isActive());
    answerEveryFeedRequest();
    const qsizetype sent = held.requests.size();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(held.requests.size(), sent);
    EXPECT_EQ(service->state(), State::idle);
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
}

TEST_F(UpdaterServiceTest, SwitchedOffMidCycleTheCycleEndsWithoutAnotherRequest)
{
    enum class Step { queued, feedAsked, downloading };
    struct Case {
        const char* name;
        Step offAt;
        QStringList requests;  // paths asked, in order
    };
    const Case cases[] = {
        {"before the feed is asked", Step::queued, {}},
        {"while the feed is asked", Step::feedAsked, {QStringLiteral("GET /appcast.json")}},
        {"while the package downloads",
         Step::downloading,
         {QStringLiteral("GET /appcast.json"), QStringLiteral("DOWNLOAD /package")}},
    };
    const QByteArray newer = feed(11, server.url(QStringLiteral("/package")), "package");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::HeldHttpClient held;
        heldHttp = &held;
        log.lines.clear();
        const auto service = makeService(QStringLiteral("10"));
        service->checkForUpdates();
        if (c.offAt != Step::queued) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !held.gets.isEmpty(); }, 5'000));
            if (c.offAt == Step::downloading) {
                held.gets.takeFirst()(newer);
                ASSERT_EQ(held.downloads.size(), 1);
                EXPECT_EQ(service->state(), State::downloading);
            }
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
        EXPECT_EQ(paths, c.requests);
        EXPECT_EQ(QFile::exists(package), c.offAt != Step::downloading) << "a package downloaded meanwhile is deleted";
        QFile::remove(package);
        EXPECT_FALSE(service->stagedApp());
        EXPECT_FALSE(QFileInfo::exists(stagedFolder()));
        EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
    }
    heldHttp = nullptr;
}

TEST_F(UpdaterServiceTest, RelaunchHandsOverToTheHelperOnce)
{
    serveRelease(11, signedPackage(11));
    const auto service = makeService();
    QSignalSpy termination(service.get(), &UpdaterService::terminationRequested);
    service->installAndRelaunch();
    EXPECT_TRUE(spawned.isEmpty()) << "nothing is staged yet";

    service->checkForUpdates();
    ASSERT_TRUE(finishes(*service));
    ASSERT_EQ(service->state(), State::readyToRelaunch);
    service->installAndRelaunch();
    service->installAndRelaunch();

    ASSERT_EQ(spawned.size(), 1);
    EXPECT_EQ(spawned.first(),
              (QStringList{executable(), executable(), QStringLiteral("--apply-update"), QStringLiteral("--pid"),
                           QString::number(::getpid()), QStringLiteral("--target"), installedFolder(),
                           QStringLiteral("--staged"), stagedFolder()}));
    EXPECT_TRUE(service->isRelaunching());
    EXPECT_TRUE(service->hasDispatchedUpdate());
    EXPECT_EQ(termination.count(), 1);
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(UpdaterServiceTest, FailedSpawnLogsAndLeavesTheRelaunchToRetry)
{
    serveRelease(11, signedPackage(11));
    const auto service = makeService();
    QSignalSpy termination(service.get(), &UpdaterService::terminationRequested);
    QSignalSpy dispatched(service.get(), &UpdaterService::hasDispatchedUpdateChanged);
    service->checkForUpdates();
    ASSERT_TRUE(finishes(*service));

    spawnSucceeds = false;
    service->installAndRelaunch();
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("[Nimbrel] 启动更新替换进程失败")});
    EXPECT_FALSE(service->hasDispatchedUpdate());
    EXPECT_FALSE(service->isRelaunching());
    EXPECT_EQ(service->state(), State::readyToRelaunch);
    EXPECT_EQ(termination.count(), 0);
    EXPECT_EQ(dispatched.count(), 2);

    spawnSucceeds = true;
    service->installAndRelaunch();
    EXPECT_EQ(spawned.size(), 2);
    EXPECT_TRUE(service->isRelaunching());
    EXPECT_EQ(termination.count(), 1);
}

TEST_F(UpdaterServiceTest, HelperGetsExactlyEightArgumentsEachUnquoted)
{
    const auto service = makeService();
    const QString target = QStringLiteral("/opt/My Apps/Nimbrel.app");
    const QString staged = QStringLiteral("/home/a b/.local/share/Nimbrel/Update/Nimbrel.app");
    ASSERT_TRUE(service->spawnApplyHelper(4321, target, staged));
    ASSERT_EQ(spawned.size(), 1);
    const QStringList vector = spawned.first().mid(1);
    EXPECT_EQ(spawned.first().first(), executable());
    EXPECT_EQ(vector, (QStringList{executable(), QStringLiteral("--apply-update"), QStringLiteral("--pid"),
                                   QStringLiteral("4321"), QStringLiteral("--target"), target,
                                   QStringLiteral("--staged"), staged}));

    const auto unknown = makeService(QStringLiteral("10"), true, {}, QString());
    EXPECT_FALSE(unknown->spawnApplyHelper(4321, target, staged));
    EXPECT_EQ(spawned.size(), 1);
}

TEST_F(UpdaterServiceTest, LastApplyResultIsReadFromTheUpdateFolder)
{
    writeFile(updateFolder() + QStringLiteral("/apply.json"),
              R"({"result":"replaceFailed","note":"installFailed","timestamp":786000000.5})");
    const auto service = makeService();
    service->reportLastApplyResult();
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("[Nimbrel] 上次自动更新未生效（replaceFailed）：installFailed")});
    EXPECT_FALSE(QFileInfo::exists(updateFolder() + QStringLiteral("/apply.json")));
}

TEST(SpawnDetached, ChildLeadsItsOwnSessionAndKeepsTheEnvironment)
{
    const QString folder = test::freshDirectory();
    const QString report = folder + QStringLiteral("/report");
    qputenv("NIMBREL_SPAWN_PROBE", "passed on");
    // Fields 1 and 6 of /proc/<pid>/stat are the process and its session.
    const QString script = QStringLiteral(
        "read -r pid comm state ppid group session rest < /proc/$$/stat; "
        "echo \"$pid $session $NIMBREL_SPAWN_PROBE|$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0\"");
    ASSERT_TRUE(spawnDetached(QStringLiteral("/bin/sh"),
                              {QStringLiteral("sh"), QStringLiteral("-c"), script, report, QStringLiteral("one arg")}));
    qunsetenv("NIMBREL_SPAWN_PROBE");
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(report); }, 10'000));
    const QStringList fields = QString::fromUtf8(readFile(report)).trimmed().split(u' ');
    ASSERT_GE(fields.size(), 4);
    EXPECT_EQ(fields[0], fields[1]) << "the helper is its session's leader";
    EXPECT_NE(fields[1].toLongLong(), qint64(::getsid(0)));
    EXPECT_EQ(fields.mid(2).join(u' '), QStringLiteral("passed on|one arg"));

    EXPECT_FALSE(spawnDetached(folder + QStringLiteral("/missing"), {QStringLiteral("missing")}));
}

TEST(QtHttpClient, GetReturnsTheBodyOfAnyStatus)
{
    fake::LocalHttpServer server;
    server.answer("/down", {503, "maintenance"});
    native::QtHttpClient http;
    std::optional<Result<QByteArray>> answer;
    http.get(server.url(QStringLiteral("/down")), std::chrono::seconds(10), {},
             [&](Result<QByteArray> body) { answer = std::move(body); });
    EXPECT_FALSE(answer) << "completions never run inside the call";
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
    ASSERT_TRUE(answer->ok()) << answer->error().description.toStdString();
    EXPECT_EQ(answer->value(), "maintenance");
    EXPECT_EQ(server.requests.first().headers.value("accept-encoding"), "identity");
}

TEST(QtHttpClient, NoCookieAHostSetsIsKeptOrSentBack)
{
    // A cookie from the launch report's answer would tie every later update check to its install_id.
    fake::LocalHttpServer server;
    server.answer("/api/launch", fake::LocalHttpServer::Response(204).header("Set-Cookie", "visitor=42; Path=/"));
    server.answer("/appcast.json", fake::LocalHttpServer::Response(200, "{}").header("Set-Cookie", "seen=1; Path=/"));
    server.answer("/package", {200, "package"});
    native::QtHttpClient http;
    int answers = 0;
    http.postJson(server.url(QStringLiteral("/api/launch")), "{}", std::chrono::seconds(10),
                  [&](Result<HttpResponse>) { ++answers; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers == 1; }, 10'000));
    http.get(server.url(QStringLiteral("/appcast.json")), std::chrono::seconds(10), {},
             [&](Result<QByteArray>) { ++answers; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers == 2; }, 10'000));
    http.get(server.url(QStringLiteral("/appcast.json")), std::chrono::seconds(10), {},
             [&](Result<QByteArray>) { ++answers; });
    http.download(server.url(QStringLiteral("/package")), std::chrono::seconds(10), 100, {}, [&](Result<QString> file) {
        if (file)
            QFile::remove(*file);
        ++answers;
    });
    http.postJson(server.url(QStringLiteral("/api/launch")), "{}", std::chrono::seconds(10),
                  [&](Result<HttpResponse>) { ++answers; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers == 5; }, 10'000));
    ASSERT_EQ(server.requests.size(), 5);
    for (const fake::LocalHttpServer::Request& request : server.requests)
        EXPECT_FALSE(request.headers.contains("cookie"))
            << request.method.toStdString() << ' ' << request.path.toStdString() << ": "
            << request.headers.value("cookie").toStdString();
}

TEST(QtHttpClient, RedirectsOnlyToAcceptedAddresses)
{
    fake::LocalHttpServer server;
    server.answer("/moved", Response(302).header("Location", server.url(QStringLiteral("/elsewhere")).toEncoded()));
    server.answer("/elsewhere", {200, "arrived"});
    native::QtHttpClient http;
    for (const bool allowed : {false, true}) {
        SCOPED_TRACE(allowed);
        std::optional<Result<QByteArray>> answer;
        const AddressCheck accepts = [allowed](const QUrl& url) {
            return allowed || url.path() != QLatin1String("/elsewhere");
        };
        http.get(server.url(QStringLiteral("/moved")), std::chrono::seconds(10), accepts,
                 [&](Result<QByteArray> body) { answer = std::move(body); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
        EXPECT_EQ(answer->ok(), allowed);
        EXPECT_EQ(server.hits("/elsewhere"), allowed ? 1 : 0);
    }
}

TEST(QtHttpClient, DownloadsIntoAFileWithinItsSizeCap)
{
    const QString temporary = test::freshDirectory();
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", temporary.toUtf8());
    fake::LocalHttpServer server;
    const QByteArray bytes(5000, 'x');
    server.answer("/sized", {200, bytes});
    server.answer("/unsized", Response(200, bytes).unsized());
    native::QtHttpClient http;

    struct Case {
        const char* path;
        qint64 cap;
        bool ok;
    };
    for (const Case& c : {Case{"/sized", 5000, true}, Case{"/sized", 4999, false}, Case{"/unsized", 5000, true},
                          Case{"/unsized", 1000, false}}) {
        SCOPED_TRACE(std::string(c.path) + " cap " + std::to_string(c.cap));
        std::optional<Result<QString>> file;
        http.download(server.url(QString::fromLatin1(c.path)), std::chrono::seconds(10), c.cap, {},
                      [&](Result<QString> downloaded) { file = std::move(downloaded); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return file.has_value(); }, 10'000));
        ASSERT_EQ(file->ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(readFile(file->value()), bytes);
            EXPECT_TRUE(QFile::remove(file->value()));
        } else {
            EXPECT_TRUE(file->error().description.contains(QStringLiteral("larger than")))
                << file->error().description.toStdString();
        }
        EXPECT_TRUE(entries(temporary).isEmpty()) << entries(temporary).join(u' ').toStdString();
    }
    if (saved.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
}

}  // namespace
}  // namespace nimbrel
