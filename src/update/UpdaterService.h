#pragma once

#include "platform/HttpClient.h"
#include "platform/Result.h"
#include "update/ApplyUpdate.h"
#include "update/Release.h"
#include "update/Staging.h"
#include "update/UpdateKey.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace nimbrel {

class FileLocations;
class SystemLog;

// Starts the program at `executable` with the whole argument vector (its own path first) and does not
// wait for it; true when it started.
using ProcessSpawner = std::function<bool(const QString& executable, const QStringList& arguments)>;

// The install folder ("…/Nimbrel.app") whose "bin" folder holds the executable; absent for a
// program installed any other way, which then never replaces itself.
std::optional<QString> installFolderOf(const QString& executablePath);

// Update traffic goes over HTTPS only. When the feed address is overridden for self-hosting or tests,
// plain HTTP to this machine (127.0.0.0/8, ::1, localhost) is accepted too.
bool isAllowedUpdateAddress(const QUrl& url, bool allowLoopbackHttp);

// The feed address: NIMBREL_FEED_URL when set, else the build's update host.
QUrl defaultAppcastURL();
bool feedAddressOverridden();

// No release package is allowed to be larger than this.
inline constexpr qint64 maxPackageBytes = qint64(512) * 1024 * 1024;

// What the updater reads and drives outside itself. The composition root passes the real services;
// an empty spawner means posix_spawn.
struct UpdaterEnvironment {
    HttpClient& http;
    SystemLog& log;
    const FileLocations& locations;
    // The running executable; the folder around it is what an update replaces. Empty: unknown.
    QString executablePath;
    // The running build's number as text, as the program was compiled (empty or unreadable: 0).
    QString buildNumber;
    QUrl appcastURL = defaultAppcastURL();
    bool allowLoopbackHttp = feedAddressOverridden();
    QByteArray publicKey = updatePublicKey();  // verifies packages and folders
    ProcessSpawner spawn;
};

// Keeps Nimbrel current: checks the feed, downloads, verifies and stages a newer signed release, and on
// request hands over to the apply-update helper. One instance per process, made by the composition root.
// Main thread only; staging (and the clean-up of what an interrupted staging left) runs on a
// low-priority background thread of its own, one task after another.
class UpdaterService final : public QObject {
    Q_OBJECT
    Q_PROPERTY(nimbrel::UpdaterService::State state READ state NOTIFY stateChanged)
    Q_PROPERTY(std::optional<QString> availableVersion READ availableVersion NOTIFY availableVersionChanged)
    Q_PROPERTY(std::optional<QString> stagedApp READ stagedApp NOTIFY stagedAppChanged)
    Q_PROPERTY(bool isRelaunching READ isRelaunching NOTIFY isRelaunchingChanged)
    Q_PROPERTY(bool hasDispatchedUpdate READ hasDispatchedUpdate NOTIFY hasDispatchedUpdateChanged)
public:
    enum class State { idle, checking, downloading, readyToRelaunch };
    Q_ENUM(State)

    static constexpr std::chrono::seconds checkInterval{21600};
    static constexpr std::chrono::seconds feedTimeout{60};
    static constexpr std::chrono::seconds downloadTimeout{60};

    explicit UpdaterService(UpdaterEnvironment environment, QObject* parent = nullptr);
    ~UpdaterService() override;

    State state() const { return m_state; }
    std::optional<QString> availableVersion() const { return m_availableVersion; }
    std::optional<QString> stagedApp() const { return m_stagedApp; }
    bool isRelaunching() const { return m_isRelaunching; }
    bool hasDispatchedUpdate() const { return m_hasDispatchedUpdate; }
    QTimer* timer() const { return m_timer; }
    QUrl appcastURL() const { return m_appcastURL; }

    // Starts one check cycle when idle and checks are enabled, else does nothing; returns at once.
    void checkForUpdates();
    // Makes the repeating check timer, owned by `owner`, and starts it when checks are enabled; it holds
    // this service weakly.
    QTimer* scheduleCheckTimer(QObject* owner);
    // Whether the feed may be asked at all; on unless switched off. Off stops the repeating check at once,
    // and a cycle under way ends at its next step without another request: a feed answer still coming is
    // dropped, and a package still downloading is deleted unstaged. A staged update stays offered. On
    // again checks at once and then every checkInterval, as a start does.
    bool checksEnabled() const { return m_checksEnabled; }
    void setChecksEnabled(bool enabled);
    void setTimer(QTimer* timer) { m_timer = timer; }

    qint64 currentBuild() const;
    // Requests and decodes the feed; the completion runs later on the main thread.
    void fetchLatestRelease(std::function<void(Result<Release>)> done);
    // Downloads and stages the release, setting stagedApp, availableVersion and state on success. An
    // installation that cannot replace itself goes back to idle without error.
    void downloadAndStage(const Release& release, std::function<void(Result<void>)> done);

    std::optional<QString> runningInstallFolder() const;
    bool canReplaceInstalledApp() const;
    QString updateDirectoryPath() const;
    // Synchronous; for the staging thread.
    Result<QString> stageUpdate(const QString& package, const Release& release) const;
    bool verifyInstallSignature(const QString& folder) const;

    // Hands the staged folder to the apply-update helper and asks the application to quit.
    void installAndRelaunch();
    bool spawnApplyHelper(qint64 pid, const QString& target, const QString& staged) const;

    // Logs the outcome of the previous apply attempt, once.
    void reportLastApplyResult();

Q_SIGNALS:
    void stateChanged();
    void availableVersionChanged();
    void stagedAppChanged();
    void isRelaunchingChanged();
    void hasDispatchedUpdateChanged();
    // The helper runs; the application should now quit (the termination check reads isRelaunching).
    void terminationRequested();

private:
    void runCheckCycle();
    void failCycle(const Error& error);
    StagingContext stagingContext() const;
    AddressCheck addressCheck() const;

    void setState(State state);
    void setAvailableVersion(std::optional<QString> version);
    void setStagedApp(std::optional<QString> folder);
    void setIsRelaunching(bool value);
    void setHasDispatchedUpdate(bool value);

    UpdaterEnvironment m_environment;
    State m_state = State::idle;
    std::optional<QString> m_availableVersion;
    std::optional<QString> m_stagedApp;
    QPointer<QTimer> m_timer;
    const QUrl m_appcastURL;
    bool m_isRelaunching = false;
    bool m_hasDispatchedUpdate = false;
    bool m_checksEnabled = true;
    // Last, so that it is destroyed first: waits for a staging still running.
    QThreadPool m_stagingPool;
};

}  // namespace nimbrel
