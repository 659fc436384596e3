#pragma once

#include "update/ToolPaths.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace nimbrel {

class Clock;
class FileLocations;
class SystemLog;

// The windowless mode of the same executable ("--apply-update"): it waits for the old process to end,
// checks the staged bundle's signature, swaps it in with a backup and a way back, starts it, and records
// the outcome in "apply.json" for the next normal start.

struct ApplyOptions {
    qint32 pid = 0;  // 0: no process to wait for
    QString target;  // the installed bundle; empty when "--target" was not given
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

// Runs one of the update tools and waits for it: its exit status and its merged output (empty when
// the output is not UTF-8), or -1 and a description when it could not be started.
struct ToolOutcome {
    int status = -1;
    QString output;
};

class ToolRunner {
public:
    ToolRunner() = default;
    virtual ~ToolRunner() = default;
    ToolRunner(const ToolRunner&) = delete;
    ToolRunner& operator=(const ToolRunner&) = delete;

    virtual ToolOutcome run(UpdateTool tool, const QStringList& arguments) = 0;
};

// Runs the tools as processes; `locate` says where each tool is at the moment of the call.
class ProcessToolRunner final : public ToolRunner {
public:
    explicit ProcessToolRunner(std::function<QString(UpdateTool)> locate = toolPath);
    ToolOutcome run(UpdateTool tool, const QStringList& arguments) override;

private:
    std::function<QString(UpdateTool)> m_locate;
};

// Where the tools are while the bundles are being swapped, for a helper whose tools live inside the
// installed bundle: there before the swap, in the backup while the new bundle is not yet in place, and
// the new bundle's own (verified) tools once it is. Tools elsewhere are used where they are.
class SwapToolLocator {
public:
    explicit SwapToolLocator(const QString& target, const std::function<QString(UpdateTool)>& resolve = toolPath);
    QString operator()(UpdateTool tool) const;

private:
    QString m_target;
    std::function<QString(UpdateTool)> m_resolve;
    QStringList m_initial;
};

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

// True when codesign accepts the bundle under Nimbrel's signing requirement.
bool verifyCodeSignature(const QString& bundle, ToolRunner& tools);

// Moves the target aside to the backup, moves (or, across file systems, copies with ditto) the staged
// bundle into its place and removes the backup. When the copy fails the backup is put back.
std::optional<ReplaceError> replaceApp(const QString& target, const QString& staged, ToolRunner& tools);

struct ApplyServices {
    QString updateDirectory;  // where "apply.json" is written
    ProcessProbe& probe;
    ToolRunner& tools;
    Clock& clock;    // the record's timestamp
    SystemLog& log;  // only for a failure whose record could not be written
};

inline constexpr int exitWaitSeconds = 30;

// Runs the mode with parsed options; always records the outcome before returning it.
ApplyResult runApply(const ApplyOptions& options, ApplyServices& services);

// The whole mode for a process's argument list: 0 after a success, 1 otherwise.
int runApplyUpdate(const QStringList& arguments, ApplyServices& services);

// The update folder: "Nimbrel/Update" in the user's application-support folder.
QString updateDirectoryPath(const FileLocations& locations);

// The mode with the real kernel and tools, for the program entry. The helper may be started with an
// empty environment; HOME is then taken from the user database so the update folder is still found.
int runApplyUpdate(const QStringList& arguments, const FileLocations& locations, Clock& clock, SystemLog& log);

}  // namespace nimbrel
