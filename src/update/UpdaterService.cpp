#include "update/UpdaterService.h"

#include "platform/FileLocations.h"
#include "platform/HttpClient.h"
#include "platform/SystemLog.h"
#include "update/BundleManifest.h"
#include "update/FileTree.h"
#include "update/ToolPaths.h"
#include "update/UpdateLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHostAddress>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <spawn.h>
#include <unistd.h>
#include <csignal>
#include <vector>

extern char** environ;

namespace nimbrel {

namespace {

const QString failureLinePrefix = QStringLiteral("[Nimbrel] 更新检查失败，稍后重试：");
const QString bundleName = QStringLiteral("Nimbrel.app");

// The downloaded file is given the image's name, staged and removed again, whatever the outcome.
Result<QString> stageDownloadedPackage(const QString& downloaded, const StagingContext& context)
{
    const QString image = downloaded + QStringLiteral(".dmg");
    QFile::remove(image);
    if (!QFile::rename(downloaded, image)) {
        QFile::remove(downloaded);
        return Error{QStringLiteral("Cannot move the downloaded release to %1.").arg(image)};
    }
    Result<QString> staged = stageUpdate(image, context);
    QFile::remove(image);
    return staged;
}

}  // namespace

QString describe(UpdateError error)
{
    return QStringLiteral("The operation couldn’t be completed. (Nimbrel.UpdaterService.UpdateError error %1.)")
        .arg(static_cast<int>(error));
}

bool spawnDetached(const QString& executable, const QStringList& arguments)
{
    if (executable.isEmpty() || arguments.isEmpty())
        return false;
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0)
        return false;
    sigset_t noSignals;
    sigemptyset(&noSignals);
    // A session of its own, so the helper survives this process and its terminal.
    if (posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK) != 0 ||
        posix_spawnattr_setsigmask(&attributes, &noSignals) != 0) {
        posix_spawnattr_destroy(&attributes);
        return false;
    }

    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<size_t>(arguments.size()));
    for (const QString& argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The helper and the application it starts need the session's display, home and bus addresses,
    // so the environment is passed on.
    pid_t child = 0;
    const int status =
        posix_spawn(&child, QFile::encodeName(executable).constData(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    return status == 0;
}

std::optional<QString> bundleForExecutable(const QString& executablePath)
{
    if (executablePath.isEmpty())
        return std::nullopt;
    // Path arithmetic only: the bundle is named by where the executable is, not by what exists now.
    const QString executable = QDir::cleanPath(QDir::current().absoluteFilePath(executablePath));
    const QFileInfo bin(QFileInfo(executable).path());
    if (bin.fileName() != QLatin1String("bin"))
        return std::nullopt;
    const QFileInfo bundle(bin.path());
    if (bundle.fileName() != bundleName)
        return std::nullopt;
    return bundle.filePath();
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

Result<QString> stageUpdate(const QString& image, const StagingContext& context)
{
    const QString mountPoint = context.temporaryDirectory + QStringLiteral("/Nimbrel-update-") +
                               QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QStringList attach{QStringLiteral("attach"),
                             image,
                             QStringLiteral("-nobrowse"),
                             QStringLiteral("-noverify"),
                             QStringLiteral("-noautoopen"),
                             QStringLiteral("-mountpoint"),
                             mountPoint};
    if (context.tools->run(UpdateTool::hdiutil, attach).status != 0) {
        // Nothing is attached, but an unpacking cut short may have left files behind.
        removeTree(mountPoint);
        return Error{describe(UpdateError::mountFailed)};
    }

    const auto staged = [&]() -> Result<QString> {
        const QString candidate = mountPoint + QLatin1Char('/') + bundleName;
        if (!QFileInfo::exists(candidate))
            return Error{describe(UpdateError::appNotFound)};
        if (!verifyCodeSignature(candidate, *context.tools))
            return Error{describe(UpdateError::verificationFailed)};
        // The feed's build number is not signed; the bundle's is. Without this a forged feed could
        // install an older, properly signed release.
        const std::optional<qint64> signedBuild = context.signedBuild(candidate);
        if (!signedBuild || *signedBuild <= context.currentBuild)
            return Error{describe(UpdateError::verificationFailed)};

        if (!QDir().mkpath(context.updateDirectory))
            return Error{QStringLiteral("Cannot create the update folder %1.").arg(context.updateDirectory)};
        const QString target = context.updateDirectory + QLatin1Char('/') + bundleName;
        removeTree(target);
        if (context.tools->run(UpdateTool::ditto, {candidate, target}).status != 0) {
            // A half-copied bundle is of no use to anyone.
            removeTree(target);
            return Error{describe(UpdateError::stageFailed)};
        }
        return target;
    }();

    context.tools->run(UpdateTool::hdiutil,
                       {QStringLiteral("detach"), mountPoint, QStringLiteral("-quiet"), QStringLiteral("-force")});
    return staged;
}

UpdaterService::UpdaterService(UpdaterEnvironment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)), m_appcastURL(m_environment.appcastURL)
{
    if (!m_environment.tools)
        m_environment.tools = &m_installedTools;
    if (!m_environment.signedBuild)
        m_environment.signedBuild = [](const QString& bundle) { return signedBuildNumber(bundle, updatePublicKey()); };
    if (!m_environment.spawn)
        m_environment.spawn = &spawnDetached;
    m_stagingPool.setMaxThreadCount(1);
    m_stagingPool.setThreadPriority(QThread::LowPriority);
}

UpdaterService::~UpdaterService()
{
    m_stagingPool.waitForDone();
}

void UpdaterService::checkForUpdates()
{
    if (m_state != State::idle)
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
    timer->start();
    setTimer(timer);
    return timer;
}

void UpdaterService::runCheckCycle()
{
    fetchLatestRelease([self = QPointer<UpdaterService>(this)](Result<Release> release) {
        if (!self)
            return;
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
    if (!canReplaceInstalledApp()) {
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
    auto downloaded = [self = QPointer<UpdaterService>(this), version = release.version,
                       done = std::move(done)](Result<QString> file) {
        if (!self) {
            if (file)
                QFile::remove(*file);
            return;
        }
        if (!file) {
            done(file.error());
            return;
        }
        QtConcurrent::run(&self->m_stagingPool, &stageDownloadedPackage, *file, self->stagingContext())
            .then(self.data(), [self, version, done](Result<QString> staged) {
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
    m_environment.http.download(release.url, downloadTimeout, maxPackageBytes, addressCheck(), std::move(downloaded));
}

StagingContext UpdaterService::stagingContext() const
{
    return StagingContext{m_environment.tools, m_environment.signedBuild, updateDirectoryPath(), QDir::tempPath(),
                          currentBuild()};
}

std::optional<QString> UpdaterService::runningBundle() const
{
    return bundleForExecutable(m_environment.executablePath);
}

bool UpdaterService::canReplaceInstalledApp() const
{
    const std::optional<QString> bundle = runningBundle();
    if (!bundle)
        return false;
    const QString folder = QFileInfo(*bundle).absolutePath();
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

QString UpdaterService::updateDirectoryPath() const
{
    return nimbrel::updateDirectoryPath(m_environment.locations);
}

Result<QString> UpdaterService::stageUpdate(const QString& image) const
{
    return nimbrel::stageUpdate(image, stagingContext());
}

bool UpdaterService::verifyCodeSignature(const QString& bundle) const
{
    return nimbrel::verifyCodeSignature(bundle, *m_environment.tools);
}

void UpdaterService::installAndRelaunch()
{
    if (m_hasDispatchedUpdate || m_state != State::readyToRelaunch || !m_stagedApp)
        return;
    setHasDispatchedUpdate(true);
    const std::optional<QString> target = runningBundle();
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

void UpdaterService::setStagedApp(std::optional<QString> bundle)
{
    if (m_stagedApp == bundle)
        return;
    m_stagedApp = std::move(bundle);
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
