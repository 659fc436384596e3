#include "update/ApplyUpdate.h"

#include "platform/Clock.h"
#include "platform/FileLocations.h"
#include "platform/SystemLog.h"
#include "update/InstallManifest.h"
#include "update/FileTree.h"
#include "update/Staging.h"
#include "update/UpdateKey.h"
#include "update/UpdateLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <vector>

extern char** environ;

namespace nimbrel {

namespace {

// A location given on the command line, as the file-system path it names.
QString location(const QString& value)
{
    if (value.isEmpty())
        return {};
    return QDir::cleanPath(QDir::current().absoluteFilePath(value));
}

UpdateLog record(ApplyResult result, std::optional<QString> note, const Clock& clock)
{
    return UpdateLog{applyResultName(result), std::move(note), secondsSinceEpoch(clock.now())};
}

void save(const UpdateLog& entry, ApplyServices& services)
{
    if (writeUpdateLog(services.updateDirectory, entry) || entry.result == applyResultName(ApplyResult::success))
        return;
    // The next start would have reported this failure from the record; without a record, say it now.
    services.log.write(QStringLiteral("[Nimbrel] 自动更新未生效（") + entry.result + QStringLiteral("）：") +
                       entry.note.value_or(QString()));
}

}  // namespace

qint32 parsePidValue(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == QLatin1Char('+') || text.front() == QLatin1Char('-'))) {
        negative = text.front() == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size())
        return 0;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c - u'0');
        // Past the 32-bit range: no process can have this identifier.
        if (value > 2'147'483'648LL)
            return 0;
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return 0;
    return static_cast<qint32>(value);
}

ApplyOptions parseApplyOptions(const QStringList& arguments)
{
    ApplyOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--pid")) {
            if (hasValue)
                options.pid = parsePidValue(arguments.at(++i));
        } else if (argument == QLatin1String("--target")) {
            if (hasValue)
                options.target = location(arguments.at(++i));
        } else if (argument == QLatin1String("--staged")) {
            if (hasValue)
                options.staged = location(arguments.at(++i));
        }
    }
    return options;
}

QString applyResultName(ApplyResult result)
{
    switch (result) {
        case ApplyResult::success:
            return QStringLiteral("success");
        case ApplyResult::timeoutWaitingForExit:
            return QStringLiteral("timeoutWaitingForExit");
        case ApplyResult::signatureInvalid:
            return QStringLiteral("signatureInvalid");
        case ApplyResult::replaceFailed:
            return QStringLiteral("replaceFailed");
        case ApplyResult::missingOptions:
            return QStringLiteral("missingOptions");
    }
    return {};
}

QString replaceErrorName(ReplaceError error)
{
    return error == ReplaceError::backupFailed ? QStringLiteral("backupFailed") : QStringLiteral("installFailed");
}

QString backupPath(const QString& target)
{
    return target + QStringLiteral(".bak");
}

bool spawnDetached(const QString& executable, const QStringList& arguments, bool ownOutput)
{
    if (executable.isEmpty() || arguments.isEmpty())
        return false;
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        posix_spawnattr_destroy(&attributes);
        return false;
    }
    sigset_t noSignals;
    sigemptyset(&noSignals);
    // A session of its own, so the child survives this process and its terminal.
    const bool ready = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK) == 0 &&
                       posix_spawnattr_setsigmask(&attributes, &noSignals) == 0 &&
                       posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                       (!ownOutput || (posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
                                       posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
                                       posix_spawn_file_actions_addchdir_np(&actions, "/") == 0));

    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<size_t>(arguments.size()));
    for (const QString& argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The child needs the session's display, home and bus addresses, so the environment is passed on.
    pid_t child = 0;
    const bool started = ready && posix_spawn(&child, QFile::encodeName(executable).constData(), &actions, &attributes,
                                              argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return started;
}

bool launchInstalled(const QString& folder)
{
    const QString executable = folder + QStringLiteral("/bin/nimbrel");
    const QFileInfo info(executable);
    if (!info.isFile() || !info.isExecutable())
        return false;
    // Started as from the desktop: it keeps nothing of the helper, which ends right after.
    return spawnDetached(executable, {executable}, true);
}

bool SystemProcessProbe::isRunning(qint32 pid)
{
    if (::kill(pid, 0) != 0 && errno != EPERM)
        return false;
    // An ended child that its parent has not collected yet still answers the probe; it no longer runs.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return true;
    const char state = line.at(close + 2);
    return state != 'Z' && state != 'X';
}

int SystemProcessProbe::openExitHandle(qint32 pid)
{
#ifdef SYS_pidfd_open
    const long handle = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
    return handle >= 0 ? static_cast<int>(handle) : -errno;
#else
    return -ENOSYS;
#endif
}

int SystemProcessProbe::waitExitHandle(int handle, int timeoutMilliseconds)
{
    const qint64 deadline = monotonicMilliseconds() + timeoutMilliseconds;
    for (;;) {
        pollfd entry{handle, POLLIN, 0};
        const qint64 left = std::max<qint64>(0, deadline - monotonicMilliseconds());
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return 1;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

void SystemProcessProbe::closeExitHandle(int handle)
{
    ::close(handle);
}

qint64 SystemProcessProbe::monotonicMilliseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

void SystemProcessProbe::sleepMilliseconds(int milliseconds)
{
    timespec pause{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

bool waitForExit(qint32 pid, int timeoutSeconds, ProcessProbe& probe)
{
    if (pid < 1 || !probe.isRunning(pid))
        return true;

    const qint64 timeout = static_cast<qint64>(timeoutSeconds) * 1000;
    const int handle = probe.openExitHandle(pid);
    if (handle == -ESRCH)
        return true;  // it ended in between
    if (handle >= 0) {
        const int outcome = probe.waitExitHandle(handle, static_cast<int>(timeout));
        probe.closeExitHandle(handle);
        return outcome == 1;
    }

    // No pidfd on this kernel: ask every 100 ms until the time is up.
    const qint64 deadline = probe.monotonicMilliseconds() + timeout;
    for (;;) {
        if (!probe.isRunning(pid))
            return true;
        const qint64 left = deadline - probe.monotonicMilliseconds();
        if (left <= 0)
            return false;
        probe.sleepMilliseconds(static_cast<int>(std::min<qint64>(100, left)));
    }
}

bool verifyInstallSignature(const QString& folder, const QByteArray& publicKey)
{
    return verifyInstallFolder(folder, publicKey).ok();
}

std::optional<ReplaceError> replaceApp(const QString& target, const QString& staged, const QByteArray& publicKey)
{
    const QString backup = backupPath(target);
    const QByteArray targetName = QFile::encodeName(target);
    const QByteArray backupName = QFile::encodeName(backup);
    const QString parent = QFileInfo(target).absolutePath();

    // Across file systems the folder is copied beside the target first, flushed and verified again, and
    // only then renamed into place: a copy cut short is never what is installed.
    QString incoming = staged;
    QString copyFolder;
    const auto dropCopy = [&] {
        if (!copyFolder.isEmpty())
            removeTree(copyFolder);
    };
    struct stat stagedInfo {};
    struct stat parentInfo {};
    if (::stat(QFile::encodeName(staged).constData(), &stagedInfo) == 0 &&
        ::stat(QFile::encodeName(parent).constData(), &parentInfo) == 0 && stagedInfo.st_dev != parentInfo.st_dev) {
        QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/.nimbrel-incoming-")) + "XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return ReplaceError::installFailed;
        copyFolder = QFile::decodeName(pattern);
        incoming = copyFolder + QLatin1Char('/') + installFolderName;
        const int folder = ::open(pattern.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool copied = copyTree(staged, incoming) && folder >= 0 && ::syncfs(folder) == 0 &&
                            verifyInstallSignature(incoming, publicKey);
        if (folder >= 0)
            ::close(folder);
        if (!copied) {
            dropCopy();
            return ReplaceError::installFailed;
        }
    }

    removeTree(backup);
    if (::rename(targetName.constData(), backupName.constData()) != 0) {
        dropCopy();
        return ReplaceError::backupFailed;
    }
    if (::rename(QFile::encodeName(incoming).constData(), targetName.constData()) != 0) {
        ::rename(backupName.constData(), targetName.constData());
        dropCopy();
        return ReplaceError::installFailed;
    }
    if (!copyFolder.isEmpty())
        removeTree(staged);
    dropCopy();
    removeTree(backup);
    return std::nullopt;
}

ApplyResult runApply(const ApplyOptions& options, ApplyServices& services)
{
    if (options.target.isEmpty() || options.staged.isEmpty()) {
        // Without both locations nothing may be moved; the run fails before it waits or touches a file.
        QStringList missing;
        if (options.target.isEmpty())
            missing.append(QStringLiteral("--target"));
        if (options.staged.isEmpty())
            missing.append(QStringLiteral("--staged"));
        save(record(ApplyResult::missingOptions, missing.join(QLatin1Char(' ')), services.clock), services);
        return ApplyResult::missingOptions;
    }

    ApplyResult result = ApplyResult::success;
    std::optional<QString> note;
    if (!waitForExit(options.pid, exitWaitSeconds, services.probe)) {
        result = ApplyResult::timeoutWaitingForExit;
        note = QStringLiteral("pid=") + QString::number(options.pid);
    } else if (!verifyInstallSignature(options.staged, services.publicKey)) {
        result = ApplyResult::signatureInvalid;
        note = options.staged;
    } else if (const auto failure = replaceApp(options.target, options.staged, services.publicKey)) {
        result = ApplyResult::replaceFailed;
        note = replaceErrorName(*failure);
    }
    if (result != ApplyResult::success) {
        save(record(result, note, services.clock), services);
        return result;
    }

    // Linux keeps no download quarantine mark, so there is nothing to clear before the start. Recorded before the new
    // application starts, so its start-up finds the record rather than racing it.
    save(record(ApplyResult::success, std::nullopt, services.clock), services);
    services.launch(options.target);
    return ApplyResult::success;
}

int runApplyUpdate(const QStringList& arguments, ApplyServices& services)
{
    return runApply(parseApplyOptions(arguments), services) == ApplyResult::success ? 0 : 1;
}

QString updateDirectoryPath(const FileLocations& locations)
{
    return locations.dataDirectory() + QStringLiteral("/Update");
}

int runApplyUpdate(const QStringList& arguments, const FileLocations& locations, Clock& clock, SystemLog& log)
{
    if (qEnvironmentVariableIsEmpty("HOME")) {
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
            qputenv("HOME", user->pw_dir);
    }
    const ApplyOptions options = parseApplyOptions(arguments);
    SystemProcessProbe probe;
    ApplyServices services{updateDirectoryPath(locations), probe, clock, log, updatePublicKey()};
    return runApply(options, services) == ApplyResult::success ? 0 : 1;
}

}  // namespace nimbrel
