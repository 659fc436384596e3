#include "update/UpdaterService.h"

#include "platform/FileLocations.h"
#include "platform/HttpClient.h"
#include "platform/SystemLog.h"
#include "update/UpdateLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHostAddress>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <unistd.h>

namespace nimbrel {

namespace {

const QString failureLinePrefix = QStringLiteral("[Nimbrel] 更新检查失败，稍后重试：");

// The package is removed whatever the outcome: verified or not, it is of no further use.
Result<QString> stageDownloadedPackage(const QString& package, const Release& release, const StagingContext& context)
{
    Result<QString> staged = stageUpdate(package, release, context);
    QFile::remove(package);
    return staged;
}

}  // namespace

std::optional<QString> installFolderOf(const QString& executablePath)
{
    if (executablePath.isEmpty())
        return std::nullopt;
    // Path arithmetic only: the folder is named by where the executable is, not by what exists now.
    const QString executable = QDir::cleanPath(QDir::current().absoluteFilePath(executablePath));
    const QFileInfo bin(QFileInfo(executable).path());
    if (bin.fileName() != QLatin1String("bin"))
        return std::nullopt;
    const QFileInfo folder(bin.path());
    if (folder.fileName() != installFolderName)
        return std::nullopt;
    return folder.filePath();
}

bool isAllowedUpdateAddress(const QUrl& url, bool allowLoopbackHttp)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (!allowLoopbackHttp || scheme != QLatin1String("http"))
        return false;
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

QUrl defaultAppcastURL()
{
    if (feedAddressOverridden())
        return QUrl(qEnvironmentVariable("NIMBREL_FEED_URL"));
    return QUrl(QStringLiteral(NIMBREL_FEED_URL_DEFAULT));
}

bool feedAddressOverridden()
{
    return !qEnvironmentVariableIsEmpty("NIMBREL_FEED_URL");
}

UpdaterService::UpdaterService(UpdaterEnvironment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)), m_appcastURL(m_environment.appcastURL)
{
    if (!m_environment.spawn)
        m_environment.spawn = [](const QString& executable, const QStringList& arguments) {
            return spawnDetached(executable, arguments);
        };
    m_stagingPool.setMaxThreadCount(1);
    m_stagingPool.setThreadPriority(QThread::LowPriority);
}

UpdaterService::~UpdaterService()
{
    m_stagingPool.waitForDone();
}

void UpdaterService::checkForUpdates()
{
    if (!m_checksEnabled || m_state != State::idle)
        return;
    setState(State::checking);
    QTimer::singleShot(0, this, &UpdaterService::runCheckCycle);
}

QTimer* UpdaterService::scheduleCheckTimer(QObject* owner)
{
    auto* timer = new QTimer(owner);
    timer->setInterval(checkInterval);
    timer->setSingleShot(false);
    connect(timer, &QTimer::timeout, timer, [service = QPointer<UpdaterService>(this)] {
        if (service)
            service->checkForUpdates();
    });
    if (m_checksEnabled)
        timer->start();
    setTimer(timer);
    return timer;
}

void UpdaterService::setChecksEnabled(bool enabled)
{
    if (enabled == m_checksEnabled)
        return;
    m_checksEnabled = enabled;
    if (!enabled) {
        if (m_timer)
            m_timer->stop();
        return;
    }
    if (m_timer)
        m_timer->start();
    checkForUpdates();
}

void UpdaterService::runCheckCycle()
{
    if (!m_checksEnabled) {
        setState(State::idle);
        return;
    }
    // Queued before any staging of this cycle on the same single thread, so it never races one.
    m_stagingPool.start([folder = updateDirectoryPath()] { removeStagingLeftovers(folder); });
    fetchLatestRelease([self = QPointer<UpdaterService>(this)](Result<Release> release) {
        if (!self)
            return;
        // Switched off while the feed was asked: its answer leads to nothing, not even a failure line.
        if (!self->m_checksEnabled) {
            self->setState(State::idle);
            return;
        }
        if (!release) {
            self->failCycle(release.error());
            return;
        }
        if (self->currentBuild() >= release->build) {
            self->setState(State::idle);
            return;
        }
        self->downloadAndStage(*release, [self](Result<void> staged) {
            if (self && !staged)
                self->failCycle(staged.error());
        });
    });
}

void UpdaterService::failCycle(const Error& error)
{
    m_environment.log.write(failureLinePrefix + error.description);
    setState(State::idle);
}

qint64 UpdaterService::currentBuild() const
{
    return parseBuildNumber(m_environment.buildNumber);
}

AddressCheck UpdaterService::addressCheck() const
{
    return [allowLoopbackHttp = m_environment.allowLoopbackHttp](const QUrl& url) {
        return isAllowedUpdateAddress(url, allowLoopbackHttp);
    };
}

void UpdaterService::fetchLatestRelease(std::function<void(Result<Release>)> done)
{
    if (!isAllowedUpdateAddress(m_appcastURL, m_environment.allowLoopbackHttp)) {
        QTimer::singleShot(0, this, [done = std::move(done), url = m_appcastURL] {
            done(Error{
                QStringLiteral("The update feed address %1 is not an HTTPS address.").arg(url.toDisplayString())});
        });
        return;
    }
    m_environment.http.get(m_appcastURL, feedTimeout, addressCheck(),
                           [done = std::move(done)](Result<QByteArray> body) {
                               if (!body)
                                   done(body.error());
                               else
                                   done(decodeRelease(*body));
                           });
}

void UpdaterService::downloadAndStage(const Release& release, std::function<void(Result<void>)> done)
{
    if (!m_checksEnabled || !canReplaceInstalledApp()) {
        setState(State::idle);
        done({});
        return;
    }
    setState(State::downloading);
    if (!isAllowedUpdateAddress(release.url, m_environment.allowLoopbackHttp)) {
        done(Error{
            QStringLiteral("The release address %1 is not an HTTPS address.").arg(release.url.toDisplayString())});
        return;
    }
    if (release.length > maxPackageBytes) {
        done(Error{QStringLiteral("The release package of %1 bytes is larger than %2 bytes.")
                       .arg(release.length)
                       .arg(maxPackageBytes)});
        return;
    }
    auto downloaded = [self = QPointer<UpdaterService>(this), release, done = std::move(done)](Result<QString> file) {
        if (!self) {
            if (file)
                QFile::remove(*file);
            return;
        }
        if (!self->m_checksEnabled) {
            if (file)
                QFile::remove(*file);
            self->setState(State::idle);
            done({});
            return;
        }
        if (!file) {
            done(file.error());
            return;
        }
        QtConcurrent::run(&self->m_stagingPool, &stageDownloadedPackage, *file, release, self->stagingContext())
            .then(self.data(), [self, version = release.version, done](Result<QString> staged) {
                if (!self)
                    return;
                if (!staged) {
                    done(staged.error());
                    return;
                }
                self->setStagedApp(*staged);
                self->setAvailableVersion(version);
                self->setState(State::readyToRelaunch);
                done({});
            });
    };
    // Nothing beyond the announced length is accepted; the exact length is checked with the signature.
    m_environment.http.download(release.url, downloadTimeout, release.length, addressCheck(), std::move(downloaded));
}

StagingContext UpdaterService::stagingContext() const
{
    return StagingContext{m_environment.publicKey, updateDirectoryPath(), currentBuild()};
}

std::optional<QString> UpdaterService::runningInstallFolder() const
{
    return installFolderOf(m_environment.executablePath);
}

bool UpdaterService::canReplaceInstalledApp() const
{
    const std::optional<QString> installed = runningInstallFolder();
    if (!installed)
        return false;
    const QString parent = QFileInfo(*installed).absolutePath();
    return ::access(QFile::encodeName(parent).constData(), W_OK) == 0;
}

QString UpdaterService::updateDirectoryPath() const
{
    return nimbrel::updateDirectoryPath(m_environment.locations);
}

Result<QString> UpdaterService::stageUpdate(const QString& package, const Release& release) const
{
    return nimbrel::stageUpdate(package, release, stagingContext());
}

bool UpdaterService::verifyInstallSignature(const QString& folder) const
{
    return nimbrel::verifyInstallSignature(folder, m_environment.publicKey);
}

void UpdaterService::installAndRelaunch()
{
    if (m_hasDispatchedUpdate || m_state != State::readyToRelaunch || !m_stagedApp)
        return;
    setHasDispatchedUpdate(true);
    const std::optional<QString> target = runningInstallFolder();
    if (target && spawnApplyHelper(::getpid(), *target, *m_stagedApp)) {
        setIsRelaunching(true);
        Q_EMIT terminationRequested();
        return;
    }
    m_environment.log.write(QStringLiteral("[Nimbrel] 启动更新替换进程失败"));
    setHasDispatchedUpdate(false);
}

bool UpdaterService::spawnApplyHelper(qint64 pid, const QString& target, const QString& staged) const
{
    const QString& executable = m_environment.executablePath;
    if (executable.isEmpty())
        return false;
    const QStringList arguments{executable,
                                QStringLiteral("--apply-update"),
                                QStringLiteral("--pid"),
                                QString::number(pid),
                                QStringLiteral("--target"),
                                target,
                                QStringLiteral("--staged"),
                                staged};
    return m_environment.spawn(executable, arguments);
}

void UpdaterService::reportLastApplyResult()
{
    nimbrel::reportLastApplyResult(updateDirectoryPath(), m_environment.log);
}

void UpdaterService::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void UpdaterService::setAvailableVersion(std::optional<QString> version)
{
    if (m_availableVersion == version)
        return;
    m_availableVersion = std::move(version);
    Q_EMIT availableVersionChanged();
}

void UpdaterService::setStagedApp(std::optional<QString> folder)
{
    if (m_stagedApp == folder)
        return;
    m_stagedApp = std::move(folder);
    Q_EMIT stagedAppChanged();
}

void UpdaterService::setIsRelaunching(bool value)
{
    if (m_isRelaunching == value)
        return;
    m_isRelaunching = value;
    Q_EMIT isRelaunchingChanged();
}

void UpdaterService::setHasDispatchedUpdate(bool value)
{
    if (m_hasDispatchedUpdate == value)
        return;
    m_hasDispatchedUpdate = value;
    Q_EMIT hasDispatchedUpdateChanged();
}

}  // namespace nimbrel
