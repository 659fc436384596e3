#include "UpdateTestSupport.h"

#include "support/fake/FakePlatform.h"
#include "update/ApplyUpdate.h"
#include "update/FileTree.h"
#include "update/UpdateKey.h"
#include "update/UpdateLog.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <cerrno>
#include <functional>
#include <set>
#include <utility>

using namespace nimbrel;
using namespace nimbrel::test;

namespace {

class FakeProbe final : public ProcessProbe {
public:
    bool isRunning(qint32 pid) override
    {
        if (++runningChecks > endsAfterChecks && endsAfterChecks >= 0)
            running.erase(pid);
        return running.count(pid) > 0;
    }
    int openExitHandle(qint32) override { return handle; }
    int waitExitHandle(int, int timeoutMilliseconds) override { return waitedFor = timeoutMilliseconds, waitResult; }
    void closeExitHandle(int) override { ++closed; }
    qint64 monotonicMilliseconds() override { return now; }
    void sleepMilliseconds(int milliseconds) override { now += milliseconds; }
    std::set<qint32> running;
    int handle = 7, waitResult = 1;  // the exit handle (or -errno) and its wait's result
    int endsAfterChecks = -1;        // the fallback's process ends after this many checks
    int runningChecks = 0, closed = 0, waitedFor = -1;
    qint64 now = 1000;
};

}  // namespace

TEST(ApplyOptions, ValuesAreTakenAsGivenAndOnlyDecimalPidsInRangeCount)
{
    EXPECT_EQ(parseApplyOptions({"nimbrel", "--pid", "5", "--target", "--staged", "/b", "--pid"}),
              (ApplyOptions{5, QDir::current().absoluteFilePath("--staged"), ""}))
        << "a value is taken whatever it looks like; an option without one is skipped";
    for (const auto& [text, pid] : std::initializer_list<std::pair<const char*, qint32>>{
             {"4321", 4321}, {"+12", 12}, {"-7", -7}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}})
        EXPECT_EQ(parsePidValue(QString::fromUtf8(text)), pid) << text;
    for (const char* text :
         {"", "+", "12x", " 12", "+-3", "0x10", "١٢", "2147483648", "-2147483649", "99999999999999999999999"})
        EXPECT_EQ(parsePidValue(QString::fromUtf8(text)), 0) << text;
}

TEST(WaitForExit, OnTheExitHandleOrByPollingUntilTheTimeout)
{
    const std::tuple<const char*, qint32, int, int, int, bool> cases[] = {
        // pid, exit handle (or -errno), its wait's result, checks until a polled process ends, ended
        {"no pid", 0, 7, 0, -1, true},
        {"negative pid", -4321, 7, 0, -1, true},
        {"exited", 4321, 7, 1, -1, true},
        {"timed out", 4321, 7, 0, -1, false},
        {"wait failed", 4321, 7, -1, -1, false},
        {"ended before the handle was opened", 4321, -ESRCH, 0, -1, true},
        {"no pidfd, ends while polled", 4321, -ENOSYS, 0, 4, true},
        {"no pidfd, runs on", 4321, -EPERM, 0, -1, false},
    };
    for (const auto& [name, pid, handle, waitResult, endsAfterChecks, ended] : cases) {
        SCOPED_TRACE(name);
        FakeProbe probe;
        probe.running = {pid};
        std::tie(probe.handle, probe.waitResult, probe.endsAfterChecks) =
            std::tuple(handle, waitResult, endsAfterChecks);
        EXPECT_EQ(waitForExit(pid, 30, probe), ended);
        EXPECT_TRUE(pid > 0 || probe.runningChecks == 0) << "a pid below 1 is never probed";
        EXPECT_EQ(probe.closed, pid > 0 && handle >= 0 ? 1 : 0);
        EXPECT_EQ(probe.waitedFor, pid > 0 && handle >= 0 ? 30'000 : -1);
        if (pid > 0 && handle < 0 && handle != -ESRCH) {
            EXPECT_EQ(probe.now - 1000 >= 30'000, !ended) << "polls until the time-out, no longer";
        }
    }
}

TEST(SystemProcessProbe, CountsAnUncollectedChildAsEnded)
{
    SystemProcessProbe probe;
    pid_t child = 0;
    char* arguments[] = {const_cast<char*>("true"), nullptr};
    ASSERT_EQ(posix_spawnp(&child, "true", nullptr, nullptr, arguments, environ), 0);
    EXPECT_TRUE(probe.isRunning(::getpid()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !probe.isRunning(child); }, 5'000)) << "a zombie counts as ended";
    EXPECT_EQ(::kill(child, 0), 0) << "the child was not collected yet";
    EXPECT_TRUE(waitForExit(child, 5, probe));
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(waitForExit(INT32_MAX, 5, probe)) << "no such process";
}

// --- the whole run ---------------------------------------------------------------------------------------------

class ApplyRun : public ::testing::Test {
protected:
    void SetUp() override { probe.running = {4321}; }
    void TearDown() override { removeTree(remote); }
    int run(const QStringList& arguments)
    {
        ApplyServices services{updateDirectory, probe, clock, log, testPublicKey, [this](const QString& folder) {
                                   launched.append(folder);
                                   recordWhenLaunched = record();
                                   return true;
                               }};
        return runApplyUpdate(arguments, services);
    }
    QStringList arguments(const QString& pid = QStringLiteral("4321")) const
    {
        return {"nimbrel", "--apply-update", "--pid", pid, "--target", target, "--staged", staged};
    }
    std::optional<UpdateLog> record() const { return decodeUpdateLog(readFile(updateDirectory + u"/apply.json")); }
    static constexpr double expectedTimestamp = 1'767'225'600.0;  // the fake clock's start, in Unix time
    QString root = freshDirectory(), updateDirectory = root + QStringLiteral("/data/Nimbrel/Update");
    QString target = makeInstallFolder(root + QStringLiteral("/Applications/Nimbrel.app"), "old");
    QString staged = makeSignedFolder(updateDirectory + QStringLiteral("/Nimbrel.app"), 42, "new");
    QString remote = otherDeviceDirectory();  // on another file system, where there is one
    FakeProbe probe;
    QStringList launched;
    std::optional<UpdateLog> recordWhenLaunched;
    fake::ManualClock clock;
    fake::RecordingSystemLog log;
};

TEST_F(ApplyRun, ReplaceMovesOrCopiesTheStagedFolderInOrPutsTheBackupBack)
{
    for (const QString& folder : QStringList{updateDirectory, remote}) {
        if (folder.isEmpty())
            continue;  // no second file system
        SCOPED_TRACE(folder.toStdString());
        const QString staged = makeSignedFolder(folder + QStringLiteral("/Nimbrel.app"), 42, folder.toUtf8());
        const auto newContents = snapshot(staged);
        writeFile(backupPath(target) + QStringLiteral("/stale"), "left by an earlier attempt");
        EXPECT_EQ(replaceApp(target, staged, testPublicKey), std::nullopt);
        EXPECT_EQ(snapshot(target), newContents) << "modes and links survive a copy";
        EXPECT_FALSE(exists(staged));
        EXPECT_EQ(names(root + QStringLiteral("/Applications")), QStringList{QStringLiteral("Nimbrel.app")});
    }
    if (remote.isEmpty())
        GTEST_SKIP() << "no second file system";
    const auto targetBefore = snapshot(target);
    // A copy that stops at a pipe (neither a file, a folder nor a link), or is not the signed folder.
    for (const char* spoiled : {"share/pipe", "bin/extra"}) {
        SCOPED_TRACE(spoiled);
        const QString staged = makeSignedFolder(remote + QStringLiteral("/Nimbrel.app"), 42, "remote");
        const QString path = staged + u'/' + QLatin1String(spoiled);
        if (path.endsWith(u"pipe"))
            ::mkfifo(QFile::encodeName(path).constData(), 0600);
        else
            writeFile(path, "not signed", 0755);
        const auto stagedContents = snapshot(staged);
        EXPECT_EQ(replaceApp(target, staged, testPublicKey), ReplaceError::installFailed);
        EXPECT_EQ(snapshot(target), targetBefore) << "the target never held a partial copy";
        EXPECT_EQ(snapshot(staged), stagedContents) << "the staged folder stays for another attempt";
        EXPECT_EQ(names(root + QStringLiteral("/Applications")), QStringList{QStringLiteral("Nimbrel.app")});
        removeTree(staged);
    }
}

TEST_F(ApplyRun, SuccessSwapsStartsAndRecords)
{
    const auto newContents = snapshot(staged);
    EXPECT_EQ(run(arguments()), 0);
    EXPECT_EQ(snapshot(target), newContents);
    EXPECT_FALSE(exists(staged) || exists(backupPath(target)));
    EXPECT_EQ(launched, QStringList{target});
    EXPECT_EQ(record(), (UpdateLog{"success", std::nullopt, expectedTimestamp}));
    EXPECT_EQ(recordWhenLaunched, record()) << "the new application finds the record at its start";
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(ApplyRun, EveryFailureIsRecordedAndTouchesNothing)
{
    const auto fails = [&](const QStringList& list, const QString& result, const QString& note, bool waits) {
        SCOPED_TRACE(QString(result + u' ' + note).toStdString());
        const auto targetBefore = snapshot(target), stagedBefore = snapshot(staged);
        probe.runningChecks = 0;
        EXPECT_EQ(run(list), 1);
        EXPECT_EQ(snapshot(target), targetBefore);
        EXPECT_EQ(snapshot(staged), stagedBefore);
        EXPECT_FALSE(exists(backupPath(target)));
        EXPECT_TRUE(launched.isEmpty());
        EXPECT_EQ(probe.runningChecks > 0, waits);
        EXPECT_EQ(record(), (UpdateLog{result, note, expectedTimestamp}));
    };
    // Without both locations nothing is waited for; an option without its value does not count.
    const QString pid = QStringLiteral("4321");
    fails({"nimbrel", "--pid", pid, "--staged", staged}, "missingOptions", "--target", false);
    fails({"nimbrel", "--pid", pid, "--target", target, "--staged"}, "missingOptions", "--staged", false);
    fails({"nimbrel", "--pid", pid, "--staged"}, "missingOptions", "--target --staged", false);
    probe.waitResult = 0;
    fails(arguments(), "timeoutWaitingForExit", "pid=4321", true);
    probe.waitResult = 1;
    writeFile(staged + QStringLiteral("/bin/extra"), "added after signing", 0755);
    fails(arguments(), "signatureInvalid", staged, true);
    EXPECT_TRUE(log.lines.isEmpty());
    // A file where the update folder's parent should be: the record cannot be written, the system log has it.
    writeFile(root + QStringLiteral("/blocked"), "not a folder");
    const QString updates = std::exchange(updateDirectory, root + QStringLiteral("/blocked/Update"));
    EXPECT_EQ(run(arguments()), 1);
    EXPECT_EQ(log.lines, QStringList{QStringLiteral("[Nimbrel] 自动更新未生效（signatureInvalid）：") + staged});
    updateDirectory = updates;
    QFile::remove(staged + QStringLiteral("/bin/extra"));
    removeTree(target);
    fails(arguments(), "replaceFailed", "backupFailed", true);
}

TEST(UpdateKey, BuiltInKeyIsTheTestKeyOnlyWhenNoReleaseKeyWasGiven)
{
    EXPECT_EQ(updatePublicKey().size(), 32);
    EXPECT_EQ(updatePublicKey() == testPublicKey, updatePublicKeyIsTestKey());
}

TEST(UpdateLog, DecodesOnlyRecords)
{
    const UpdateLog awkward{"signatureInvalid", QStringLiteral("/tmp/a \"b\"\\c\n/Nimbrel.app"), -1.5};
    EXPECT_EQ(decodeUpdateLog(encodeUpdateLog(awkward)), awkward);
    EXPECT_EQ(decodeUpdateLog(R"({"timestamp":1.5,"note":null,"result":"x","more":[1]})"),
              (UpdateLog{"x", std::nullopt, 1.5}));
    for (const char* json : {R"({"timestamp":2})", R"({"result":"x"})", R"({"result":3,"timestamp":2})",
                             R"({"result":"x","timestamp":"2"})", R"({"result":"x","note":5,"timestamp":2})",
                             R"(["result","x"])", R"({"result":"x",)", ""})
        EXPECT_EQ(decodeUpdateLog(json), std::nullopt) << json;
}

TEST(UpdateLog, WrittenAtomicallyIntoANewFolder)
{
    const QString folder = freshDirectory() + QStringLiteral("/Nimbrel/Update");
    const QString path = folder + QStringLiteral("/apply.json");
    ASSERT_TRUE(writeUpdateLog(folder, {"replaceFailed", QStringLiteral("backupFailed"), 1}));
    const QByteArray first = readFile(path);
    // A reader holding the old file keeps reading the whole old record: the new one is renamed into place.
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    ASSERT_TRUE(writeUpdateLog(folder, {"success", std::nullopt, 2}));
    EXPECT_EQ(reader.readAll(), first);
    EXPECT_EQ(decodeUpdateLog(readFile(path)), (UpdateLog{"success", std::nullopt, 2}));
    EXPECT_EQ(names(folder), QStringList{QStringLiteral("apply.json")}) << "no temporary file is left behind";
}

TEST(UpdateLog, TheLastResultIsReportedOnceAndWhatCannotBeReadStays)
{
    const QString failed = QStringLiteral("[Nimbrel] 上次自动更新未生效（");
    const std::tuple<std::optional<QByteArray>, QStringList, bool> cases[] = {
        // the record, the lines it gives, whether it stays
        {std::nullopt, {}, false},
        {R"({"result":"success","timestamp":1})", {}, false},
        {R"({"timestamp":1,"result":"replaceFailed","note":"installFailed"})",
         {failed + "replaceFailed）：installFailed"},
         false},
        {R"({"result":"Success","timestamp":1})", {failed + "Success）："}, false},
        {"{not json", {}, true},
        {R"({"result":"success","timestamp":"yesterday"})", {}, true},
        {QByteArray(2 * 1024 * 1024, ' ') + R"({"result":"x","timestamp":1})", {}, true},
    };
    for (const auto& [file, lines, stays] : cases) {
        SCOPED_TRACE(file.value_or("(none)").left(60).constData());
        const QString folder = freshDirectory();
        if (file)
            writeFile(folder + QStringLiteral("/apply.json"), *file);
        fake::RecordingSystemLog log;
        reportLastApplyResult(folder, log);
        EXPECT_EQ(log.lines, lines);
        EXPECT_EQ(exists(folder + QStringLiteral("/apply.json")), stays);
        reportLastApplyResult(folder, log);
        EXPECT_EQ(log.lines, lines) << "reported once";
    }
}
