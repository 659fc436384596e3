#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace nimbrel {

class Clock;
class FileLocations;
class SystemLog;

// The windowless mode of the same executable ("--apply-update"): it waits for the old process to end,
// checks the staged folder's signature, swaps it in with a backup and a way back, starts it, and records
// the outcome in "apply.json" for the next normal start. Everything is done in this process.

struct ApplyOptions {
    qint32 pid = 0;  // 0: no process to wait for
    QString target;  // the installed folder; empty when "--target" was not given
    QString staged;  // the verified copy to install; empty when "--staged" was not given

    bool operator==(const ApplyOptions&) const = default;
};

// The arguments after the first, left to right: "--pid", "--target" and "--staged" take the next argument
// (both are consumed, whatever it is), a later occurrence replaces an earlier one, an option without a
// following argument and every other argument are skipped. Locations are made absolute against the
// working folder; an empty value counts as not given.
ApplyOptions parseApplyOptions(const QStringList& arguments);

// Base 10 with an optional leading "+" or "-", in the 32-bit signed range; anything else gives 0.
qint32 parsePidValue(const QString& text);

// The outcomes of run() and their result words.
enum class ApplyResult {
    success = 0,
    timeoutWaitingForExit = 1,
    signatureInvalid = 2,
    replaceFailed = 3,
    missingOptions = 4
};
QString applyResultName(ApplyResult result);

enum class ReplaceError { backupFailed, installFailed };
QString replaceErrorName(ReplaceError error);

// The backup location: the target's path with ".bak" appended.
QString backupPath(const QString& target);

// The kernel calls that waiting for a process needs.
class ProcessProbe {
public:
    ProcessProbe() = default;
    virtual ~ProcessProbe() = default;
    ProcessProbe(const ProcessProbe&) = delete;
    ProcessProbe& operator=(const ProcessProbe&) = delete;

    // Whether the process still runs: the signal-0 probe finds it and it is not a zombie.
    virtual bool isRunning(qint32 pid) = 0;
    // A descriptor that becomes readable when the process ends (pidfd_open), or -errno.
    virtual int openExitHandle(qint32 pid) = 0;
    // Waits on that descriptor: 1 when the process ended, 0 at the time-out, -1 on an error.
    virtual int waitExitHandle(int handle, int timeoutMilliseconds) = 0;
    virtual void closeExitHandle(int handle) = 0;
    // Milliseconds on a monotonic clock, and a pause, for the polling fallback.
    virtual qint64 monotonicMilliseconds() = 0;
    virtual void sleepMilliseconds(int milliseconds) = 0;
};

class SystemProcessProbe final : public ProcessProbe {
public:
    bool isRunning(qint32 pid) override;
    int openExitHandle(qint32 pid) override;
    int waitExitHandle(int handle, int timeoutMilliseconds) override;
    void closeExitHandle(int handle) override;
    qint64 monotonicMilliseconds() override;
    void sleepMilliseconds(int milliseconds) override;
};

// True once the process has ended (at once for a pid below 1 or a process that is gone), false when it
// still runs after the time-out. Waits on a pidfd; where the kernel offers none, polls every 100 ms.
bool waitForExit(qint32 pid, int timeoutSeconds, ProcessProbe& probe);

// True when the folder's signed manifest verifies with the raw public key and the folder holds exactly
// what it lists.
bool verifyInstallSignature(const QString& folder, const QByteArray& publicKey);

// Moves the target aside to the backup, moves the staged folder into its place and removes the backup.
// Across file systems the staged folder is first copied beside the target, flushed and verified with
// the key, and that copy is moved in. The target is only ever a whole folder: on any failure the
// backup is put back, and the staged folder stays for another attempt.
std::optional<ReplaceError> replaceApp(const QString& target, const QString& staged, const QByteArray& publicKey);

// posix_spawn in a new session with a clean signal mask, standard input from /dev/null and the current
// environment; the child is not waited for, so it outlives this process. With `ownOutput` its output
// goes to /dev/null and it starts in "/", holding nothing of the caller's. True when it started.
bool spawnDetached(const QString& executable, const QStringList& arguments, bool ownOutput = false);

// Starts the program of a Nimbrel.app folder ("bin/nimbrel" inside it), detached; true when it started.
bool launchInstalled(const QString& folder);

struct ApplyServices {
    QString updateDirectory;  // where "apply.json" is written
    ProcessProbe& probe;
    Clock& clock;          // the record's timestamp
    SystemLog& log;        // only for a failure whose record could not be written
    QByteArray publicKey;  // verifies the staged folder
    std::function<bool(const QString& folder)> launch = launchInstalled;
};

inline constexpr int exitWaitSeconds = 30;

// Runs the mode with parsed options; always records the outcome before returning it.
ApplyResult runApply(const ApplyOptions& options, ApplyServices& services);

// The whole mode for a process's argument list: 0 after a success, 1 otherwise.
int runApplyUpdate(const QStringList& arguments, ApplyServices& services);

// The update folder: "Nimbrel/Update" in the user's application-support folder.
QString updateDirectoryPath(const FileLocations& locations);

// The mode with the real kernel and the built-in key, for the program entry. The helper may be started with an
// empty environment; HOME is then taken from the user database so the update folder is still found.
int runApplyUpdate(const QStringList& arguments, const FileLocations& locations, Clock& clock, SystemLog& log);

}  // namespace nimbrel
