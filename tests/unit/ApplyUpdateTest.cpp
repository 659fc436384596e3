#include "UpdateTestSupport.h"

#include "support/fake/FakePlatform.h"
#include "update/ApplyUpdate.h"
#include "update/FileTree.h"
#include "update/UpdateKey.h"
#include "update/UpdateLog.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>
#include <functional>
#include <set>
#include <thread>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

QString cwd(const QString& relative)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(relative));
}

// Removes a folder on another file system when the test ends.
struct RemoveLater {
    QString path;
    ~RemoveLater()
    {
        if (!path.isEmpty())
            removeTree(path);
    }
};

class FakeProbe final : public ProcessProbe {
public:
    bool isRunning(qint32 pid) override
    {
        ++runningChecks;
        if (endsAfterChecks >= 0 && runningChecks > endsAfterChecks)
            running.erase(pid);
        return running.count(pid) > 0;
    }
    int openExitHandle(qint32) override
    {
        ++opened;
        return handle;
    }
    int waitExitHandle(int, int timeoutMilliseconds) override
    {
        waitedFor = timeoutMilliseconds;
        return waitResult;
    }
    void closeExitHandle(int) override { ++closed; }
    qint64 monotonicMilliseconds() override { return now; }
    void sleepMilliseconds(int milliseconds) override
    {
        now += milliseconds;
        slept += milliseconds;
    }

    std::set<qint32> running;
    int handle = 7;  // or -errno
    int waitResult = 1;
    int endsAfterChecks = -1;  // the fallback's process ends after this many checks
    int runningChecks = 0;
    int opened = 0;
    int closed = 0;
    int waitedFor = -1;
    qint64 now = 1000;
    qint64 slept = 0;
};

// Makes a copy across file systems fail: a pipe is neither a file, a folder nor a link.
void addPipe(const QString& folder)
{
    ::mkfifo(QFile::encodeName(folder + QStringLiteral("/share/pipe")).constData(), 0600);
}

}  // namespace

// --- option parsing --------------------------------------------------------------------------------------

struct OptionsCase {
    const char* name;
    QStringList arguments;
    ApplyOptions expected;
};

class ApplyOptionsParsing : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ApplyOptionsParsing, FollowsTheRules)
{
    EXPECT_EQ(parseApplyOptions(GetParam().arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplyOptionsParsing,
    ::testing::Values(
        OptionsCase{"AsSpawned",
                    {"/opt/Nimbrel.app/bin/nimbrel", "--apply-update", "--pid", "4321", "--target", "/opt/Nimbrel.app",
                     "--staged", "/home/u/Update/Nimbrel.app"},
                    {4321, "/opt/Nimbrel.app", "/home/u/Update/Nimbrel.app"}},
        OptionsCase{
            "OtherOrder",
            {"nimbrel", "--staged", "/s/Nimbrel.app", "--pid", "9", "--apply-update", "--target", "/t/Nimbrel.app"},
            {9, "/t/Nimbrel.app", "/s/Nimbrel.app"}},
        OptionsCase{"PathsWithSpacesStayWhole",
                    {"nimbrel", "--target", "/My Apps/Nimbrel.app", "--staged", "/tmp/a b/Nimbrel.app"},
                    {0, "/My Apps/Nimbrel.app", "/tmp/a b/Nimbrel.app"}},
        OptionsCase{"LaterReplacesEarlier",
                    {"nimbrel", "--pid", "1", "--target", "/a", "--pid", "2", "--target", "/b"},
                    {2, "/b", ""}},
        OptionsCase{"LaterInvalidPidResetsToZero", {"nimbrel", "--pid", "5", "--pid", "x"}, {0, "", ""}},
        OptionsCase{"PidAsLastArgumentIsIgnored", {"nimbrel", "--pid", "5", "--pid"}, {5, "", ""}},
        OptionsCase{"TargetAsLastArgumentIsIgnored", {"nimbrel", "--target", "/a", "--target"}, {0, "/a", ""}},
        OptionsCase{"StagedAsLastArgumentIsIgnored", {"nimbrel", "--staged"}, {0, "", ""}},
        OptionsCase{"ValueIsConsumedEvenWhenItLooksLikeAnOption", {"nimbrel", "--pid", "--target", "/a"}, {0, "", ""}},
        OptionsCase{
            "TargetTakesTheNextArgumentWhatever", {"nimbrel", "--target", "--staged", "/b"}, {0, cwd("--staged"), ""}},
        OptionsCase{"FirstArgumentIsTheProgram", {"--pid", "5", "--target"}, {0, "", ""}},
        OptionsCase{"UnknownArgumentsAreSkipped", {"nimbrel", "--verbose", "--pid", "3", "extra"}, {3, "", ""}},
        OptionsCase{"RelativePathsAreMadeAbsolute",
                    {"nimbrel", "--target", "rel/Nimbrel.app/"},
                    {0, cwd("rel/Nimbrel.app"), ""}},
        OptionsCase{"EmptyValueCountsAsMissing", {"nimbrel", "--target", "/a", "--target", ""}, {0, "", ""}},
        OptionsCase{"NoArgumentsAtAll", {}, {0, "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

struct PidCase {
    const char* text;
    qint32 expected;
};

class PidValueParsing : public ::testing::TestWithParam<PidCase> {};

TEST_P(PidValueParsing, AcceptsOnlySignedDecimalInRange)
{
    EXPECT_EQ(parsePidValue(QString::fromUtf8(GetParam().text)), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, PidValueParsing,
                         ::testing::Values(PidCase{"4321", 4321}, PidCase{"+12", 12}, PidCase{"-7", -7},
                                           PidCase{"0", 0}, PidCase{"007", 7}, PidCase{"", 0}, PidCase{"+", 0},
                                           PidCase{"-", 0}, PidCase{"abc", 0}, PidCase{"12x", 0}, PidCase{" 12", 0},
                                           PidCase{"12 ", 0}, PidCase{"+-3", 0}, PidCase{"0x10", 0}, PidCase{"1.0", 0},
                                           PidCase{"١٢", 0}, PidCase{"2147483647", 2147483647},
                                           PidCase{"2147483648", 0}, PidCase{"-2147483648", INT32_MIN},
                                           PidCase{"-2147483649", 0}, PidCase{"99999999999999999999999", 0}));

// --- waiting for the old process ---------------------------------------------------------------------------

TEST(WaitForExit, NoPidOrAGoneProcessNeedsNoWait)
{
    for (qint32 pid : {0, -1, -4321}) {
        FakeProbe probe;
        probe.running = {pid};
        EXPECT_TRUE(waitForExit(pid, 30, probe)) << pid;
        EXPECT_EQ(probe.runningChecks, 0) << "a pid below 1 is never probed";
    }
    FakeProbe probe;
    EXPECT_TRUE(waitForExit(4321, 30, probe));
    EXPECT_EQ(probe.opened, 0);
}

struct WaitCase {
    const char* name;
    int handle;
    int waitResult;
    bool expected;
};

class WaitOnHandle : public ::testing::TestWithParam<WaitCase> {};

TEST_P(WaitOnHandle, ReportsTheEventAndClosesTheHandle)
{
    FakeProbe probe;
    probe.running = {4321};
    probe.handle = GetParam().handle;
    probe.waitResult = GetParam().waitResult;
    EXPECT_EQ(waitForExit(4321, 30, probe), GetParam().expected);
    if (GetParam().handle >= 0) {
        EXPECT_EQ(probe.waitedFor, 30'000);
        EXPECT_EQ(probe.closed, 1);
    } else {
        EXPECT_EQ(probe.closed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, WaitOnHandle,
                         ::testing::Values(WaitCase{"Exited", 7, 1, true}, WaitCase{"TimedOut", 7, 0, false},
                                           WaitCase{"WaitFailed", 7, -1, false},
                                           WaitCase{"EndedBeforeTheHandleWasOpened", -ESRCH, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WaitForExit, WithoutPidfdPollsUntilTheProcessEnds)
{
    FakeProbe probe;
    probe.running = {4321};
    probe.handle = -ENOSYS;
    probe.endsAfterChecks = 4;
    EXPECT_TRUE(waitForExit(4321, 30, probe));
    EXPECT_EQ(probe.slept, 300) << "three pauses of 100 ms between four checks";
}

TEST(WaitForExit, WithoutPidfdGivesUpAfterTheTimeout)
{
    FakeProbe probe;
    probe.running = {4321};
    probe.handle = -EPERM;
    EXPECT_FALSE(waitForExit(4321, 30, probe));
    EXPECT_EQ(probe.slept, 30'000);
}

TEST(WaitForExit, RealProcessThatEndsIsSeenAtOnce)
{
    QProcess sleeper;
    sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(sleeper.waitForStarted());
    const auto pid = static_cast<qint32>(sleeper.processId());
    std::thread killer([pid] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(pid, SIGKILL);
    });
    SystemProcessProbe probe;
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(waitForExit(pid, 10, probe));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_GE(timer.elapsed(), 250) << "returned before the process ended";
    killer.join();
    sleeper.waitForFinished();
}

TEST(WaitForExit, RealProcessThatStaysTimesOut)
{
    QProcess sleeper;
    sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(sleeper.waitForStarted());
    SystemProcessProbe probe;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(waitForExit(static_cast<qint32>(sleeper.processId()), 1, probe));
    EXPECT_GE(timer.elapsed(), 900);
    sleeper.kill();
    sleeper.waitForFinished();
}

TEST(SystemProcessProbe, AnEndedChildNotYetCollectedDoesNotRun)
{
    pid_t child = 0;
    char* arguments[] = {const_cast<char*>("true"), nullptr};
    ASSERT_EQ(posix_spawnp(&child, "true", nullptr, nullptr, arguments, environ), 0);
    SystemProcessProbe probe;
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        ended = !probe.isRunning(child);
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ended) << "a zombie counts as ended";
    EXPECT_EQ(::kill(child, 0), 0) << "the child was not collected yet";
    EXPECT_TRUE(waitForExit(child, 5, probe));
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(waitForExit(INT32_MAX, 5, probe)) << "no such process";
}

// --- swapping the folders -----------------------------------------------------------------------------------

class ReplaceApp : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = freshDirectory();
        target = makeInstallFolder(root + QStringLiteral("/Applications/Nimbrel.app"), "old");
        staged = makeSignedFolder(root + QStringLiteral("/Update/Nimbrel.app"), 42, "new");
        oldContents = snapshot(target);
        newContents = snapshot(staged);
    }

    std::optional<ReplaceError> replace(const QString& from) { return replaceApp(target, from, testPublicKey()); }

    QString root;
    QString target;
    QString staged;
    QMap<QString, QString> oldContents;
    QMap<QString, QString> newContents;
};

TEST_F(ReplaceApp, MovesTheStagedFolderInAndDropsTheBackup)
{
    writeFile(backupPath(target) + QStringLiteral("/stale"), "left by an earlier attempt");
    EXPECT_EQ(replace(staged), std::nullopt);
    EXPECT_EQ(snapshot(target), newContents);
    EXPECT_FALSE(exists(staged));
    EXPECT_FALSE(exists(backupPath(target)));
}

TEST_F(ReplaceApp, MissingTargetFailsWithBackupFailedAndChangesNothingElse)
{
    removeTree(target);
    EXPECT_EQ(replace(staged), ReplaceError::backupFailed);
    EXPECT_EQ(snapshot(staged), newContents);
    EXPECT_FALSE(exists(target));
}

TEST_F(ReplaceApp, AcrossFileSystemsCopies)
{
    RemoveLater other{otherDeviceDirectory()};
    if (other.path.isEmpty())
        GTEST_SKIP() << "no second file system";
    const QString remote = makeSignedFolder(other.path + QStringLiteral("/Nimbrel.app"), 42, "remote");
    const auto remoteContents = snapshot(remote);

    EXPECT_EQ(replace(remote), std::nullopt);
    EXPECT_EQ(snapshot(target), remoteContents) << "modes and links survive the copy";
    EXPECT_FALSE(exists(remote)) << "the staged copy is removed after copying";
    EXPECT_FALSE(exists(backupPath(target)));
}

TEST_F(ReplaceApp, FailedCopyPutsTheBackupBack)
{
    RemoveLater other{otherDeviceDirectory()};
    if (other.path.isEmpty())
        GTEST_SKIP() << "no second file system";
    const struct {
        const char* name;
        std::function<void(const QString&)> spoil;
    } cases[] = {
        {"the copy stops at a pipe", addPipe},
        {"the copy is not the signed folder",
         [](const QString& folder) { writeFile(folder + QStringLiteral("/bin/extra"), "not signed", 0755); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString remote = makeSignedFolder(other.path + QStringLiteral("/Nimbrel.app"), 42, "remote");
        c.spoil(remote);
        const auto remoteContents = snapshot(remote);
        EXPECT_EQ(replace(remote), ReplaceError::installFailed);
        EXPECT_EQ(snapshot(target), oldContents) << "the target never held a partial copy";
        EXPECT_FALSE(exists(backupPath(target)));
        EXPECT_EQ(snapshot(remote), remoteContents) << "the staged folder stays for another attempt";
        EXPECT_EQ(QDir(root + QStringLiteral("/Applications"))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("Nimbrel.app")});
        removeTree(remote);
    }
}

// --- the whole run ---------------------------------------------------------------------------------------------

class ApplyRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = freshDirectory();
        updateDirectory = root + QStringLiteral("/data/Nimbrel/Update");
        target = makeInstallFolder(root + QStringLiteral("/Applications/Nimbrel.app"), "old");
        staged = makeSignedFolder(updateDirectory + QStringLiteral("/Nimbrel.app"), 42, "new");
        oldContents = snapshot(target);
        newContents = snapshot(staged);
        probe.running = {4321};
    }

    int run(const QStringList& arguments)
    {
        ApplyServices services{updateDirectory, probe, clock, log, testPublicKey(), [this](const QString& folder) {
                                   launched.append(folder);
                                   recordWhenLaunched = record();
                                   return true;
                               }};
        return runApplyUpdate(arguments, services);
    }

    QStringList fullArguments() const
    {
        return {QStringLiteral("nimbrel"),  QStringLiteral("--apply-update"),
                QStringLiteral("--pid"),    QStringLiteral("4321"),
                QStringLiteral("--target"), target,
                QStringLiteral("--staged"), staged};
    }

    std::optional<UpdateLog> record() const
    {
        return decodeUpdateLog(readFile(updateDirectory + QStringLiteral("/apply.json")));
    }

    void expectUntouched()
    {
        EXPECT_EQ(snapshot(target), oldContents);
        EXPECT_EQ(snapshot(staged), newContents);
        EXPECT_FALSE(exists(backupPath(target)));
    }

    // 2026-01-01 00:00:00 UTC, 788 918 400 seconds after the reference date.
    static constexpr double expectedTimestamp = 788'918'400.0;

    QString root;
    QString updateDirectory;
    QString target;
    QString staged;
    QMap<QString, QString> oldContents;
    QMap<QString, QString> newContents;
    FakeProbe probe;
    QStringList launched;
    std::optional<UpdateLog> recordWhenLaunched;
    fake::ManualClock clock;
    fake::RecordingSystemLog log;
};

TEST_F(ApplyRun, SuccessSwapsStartsAndRecords)
{
    EXPECT_EQ(run(fullArguments()), 0);

    EXPECT_EQ(snapshot(target), newContents);
    EXPECT_FALSE(exists(staged));
    EXPECT_FALSE(exists(backupPath(target)));
    EXPECT_EQ(launched, QStringList{target});
    EXPECT_EQ(record(), (UpdateLog{"success", std::nullopt, expectedTimestamp}));
    EXPECT_EQ(recordWhenLaunched, record()) << "the new application finds the record at its start";
    EXPECT_EQ(readFile(updateDirectory + QStringLiteral("/apply.json")),
              QByteArray("{\"result\":\"success\",\"timestamp\":788918400}"));
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(ApplyRun, ProcessStillRunningTimesOutAndTouchesNothing)
{
    probe.waitResult = 0;
    EXPECT_EQ(run(fullArguments()), 1);
    EXPECT_EQ(probe.waitedFor, 30'000);
    expectUntouched();
    EXPECT_TRUE(launched.isEmpty());
    EXPECT_EQ(record(), (UpdateLog{"timeoutWaitingForExit", QStringLiteral("pid=4321"), expectedTimestamp}));
}

TEST_F(ApplyRun, InvalidSignatureTouchesNothing)
{
    // Changed after it was signed: a file the manifest does not list.
    writeFile(staged + QStringLiteral("/bin/extra"), "added later", 0755);
    newContents = snapshot(staged);
    EXPECT_EQ(run(fullArguments()), 1);
    expectUntouched();
    EXPECT_TRUE(launched.isEmpty());
    EXPECT_EQ(record(), (UpdateLog{"signatureInvalid", staged, expectedTimestamp}));
}

TEST_F(ApplyRun, MissingTargetRecordsBackupFailed)
{
    removeTree(target);
    EXPECT_EQ(run(fullArguments()), 1);
    EXPECT_EQ(snapshot(staged), newContents);
    EXPECT_EQ(record(), (UpdateLog{"replaceFailed", QStringLiteral("backupFailed"), expectedTimestamp}));
    EXPECT_TRUE(launched.isEmpty()) << "nothing is started";
}

class ApplyRunWithoutPid : public ApplyRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(ApplyRunWithoutPid, SwapsAtOnce)
{
    probe.running = {0, -5};
    QStringList arguments = fullArguments();
    arguments[3] = QString::fromLatin1(GetParam());
    EXPECT_EQ(run(arguments), 0);
    EXPECT_EQ(probe.runningChecks, 0) << "nothing to wait for";
    EXPECT_EQ(snapshot(target), newContents);
}

INSTANTIATE_TEST_SUITE_P(Table, ApplyRunWithoutPid, ::testing::Values("0", "-5", "junk", "99999999999"));

struct MissingCase {
    const char* name;
    bool withTarget;
    bool withStaged;
    const char* note;
};

class ApplyRunMissing : public ApplyRun, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(ApplyRunMissing, RecordsAFailureAndTouchesNothing)
{
    QStringList arguments{QStringLiteral("nimbrel"), QStringLiteral("--apply-update"), QStringLiteral("--pid"),
                          QStringLiteral("4321")};
    if (GetParam().withTarget)
        arguments << QStringLiteral("--target") << target;
    if (GetParam().withStaged)
        arguments << QStringLiteral("--staged") << staged;
    else
        arguments << QStringLiteral("--staged");  // an option without its value does not count

    EXPECT_EQ(run(arguments), 1);
    expectUntouched();
    EXPECT_TRUE(launched.isEmpty());
    EXPECT_EQ(probe.runningChecks, 0) << "no waiting either";
    EXPECT_EQ(record(), (UpdateLog{"missingOptions", QString::fromLatin1(GetParam().note), expectedTimestamp}));
}

INSTANTIATE_TEST_SUITE_P(Table, ApplyRunMissing,
                         ::testing::Values(MissingCase{"Target", false, true, "--target"},
                                           MissingCase{"Staged", true, false, "--staged"},
                                           MissingCase{"Both", false, false, "--target --staged"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplyRun, AFailureThatCannotBeRecordedGoesToTheSystemLog)
{
    // A file where the update folder's parent should be: the record cannot be written.
    writeFile(root + QStringLiteral("/blocked"), "not a folder");
    updateDirectory = root + QStringLiteral("/blocked/Update");
    writeFile(staged + QStringLiteral("/bin/extra"), "added later", 0755);
    EXPECT_EQ(run(fullArguments()), 1);
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("[Nimbrel] 自动更新未生效（signatureInvalid）：") + staged});

    log.lines.clear();
    QFile::remove(staged + QStringLiteral("/bin/extra"));
    EXPECT_EQ(run(fullArguments()), 0);
    EXPECT_TRUE(log.lines.isEmpty()) << "a success stays silent";
}

TEST(UpdateKey, BuiltInKeyIsTheTestKeyOnlyWhenNoReleaseKeyWasGiven)
{
    EXPECT_EQ(updatePublicKey().size(), 32);
    if (updatePublicKeyIsTestKey())
        EXPECT_EQ(updatePublicKey(), testPublicKey());
    else
        EXPECT_NE(updatePublicKey(), testPublicKey());
}

TEST(LaunchFolder, StartsTheFoldersProgramDetached)
{
    const QString root = freshDirectory();
    const QString folder = root + QStringLiteral("/Nimbrel.app");
    const QString report = root + QStringLiteral("/started");
    writeFile(folder + QStringLiteral("/bin/nimbrel"),
              "#!/bin/sh\nread -r pid comm state ppid group session rest < /proc/$$/stat\n"
              "echo \"$pid $session $0\" > \"" +
                  QFile::encodeName(report) + ".tmp\" && mv \"" + QFile::encodeName(report) + ".tmp\" \"" +
                  QFile::encodeName(report) + "\"\n",
              0755);
    ASSERT_TRUE(launchInstalled(folder));
    ASSERT_TRUE(QTest::qWaitFor([&] { return exists(report); }, 10'000));
    const QStringList fields = QString::fromUtf8(readFile(report)).trimmed().split(u' ');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0], fields[1]) << "it leads a session of its own";
    EXPECT_EQ(fields[2], folder + QStringLiteral("/bin/nimbrel"));
    EXPECT_FALSE(launchInstalled(root + QStringLiteral("/Missing.app")));
}
