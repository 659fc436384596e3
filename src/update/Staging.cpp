#include "update/Staging.h"

#include "update/InstallManifest.h"
#include "update/FileTree.h"
#include "update/PackageReader.h"
#include "update/PackageSignature.h"
#include "update/Release.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace nimbrel {

namespace {

const QString stagingPrefix = QStringLiteral(".staging-");

// Puts `candidate` at `target` in one step. An existing target is exchanged with the candidate (so it
// lands in the private folder and goes with it). A file system without exchange gets two renames, between
// which nothing is at the target, which is still never a half-written folder; if the second fails, the
// earlier folder is put back.
bool placeAtomically(const QString& candidate, const QString& target, const QString& privateFolder)
{
    const QByteArray from = QFile::encodeName(candidate);
    const QByteArray to = QFile::encodeName(target);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST && ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    const QByteArray aside = QFile::encodeName(privateFolder + QStringLiteral("/previous"));
    struct stat info {};
    const bool hadTarget = ::lstat(to.constData(), &info) == 0;
    if (hadTarget && ::rename(to.constData(), aside.constData()) != 0)
        return false;
    if (::rename(from.constData(), to.constData()) == 0)
        return true;
    if (hadTarget)
        ::rename(aside.constData(), to.constData());
    return false;
}

Result<QString> stageInto(const QString& folder, const QString& package, const StagingContext& context)
{
    if (auto unpacked = unpackPackage(package, folder); !unpacked)
        return Error{describe(UpdateError::mountFailed)};
    const QString candidate = folder + QLatin1Char('/') + installFolderName;
    struct stat info {};
    if (::lstat(QFile::encodeName(candidate).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Error{describe(UpdateError::appNotFound)};
    const auto manifest = verifyInstallFolder(candidate, context.publicKey);
    if (!manifest || manifest->build <= context.currentBuild)
        return Error{describe(UpdateError::verificationFailed)};

    const QString target = context.updateDirectory + QLatin1Char('/') + installFolderName;
    if (!placeAtomically(candidate, target, folder))
        return Error{describe(UpdateError::stageFailed)};
    return target;
}

}  // namespace

QString describe(UpdateError error)
{
    return QStringLiteral("The operation couldn’t be completed. (Nimbrel.UpdaterService.UpdateError error %1.)")
        .arg(static_cast<int>(error));
}

Result<QString> stageUpdate(const QString& package, const Release& release, const StagingContext& context)
{
    if (!verifyPackage(package, release.length, release.signature, context.publicKey))
        return Error{describe(UpdateError::verificationFailed)};

    if (!QDir().mkpath(context.updateDirectory))
        return Error{QStringLiteral("Cannot create the update folder %1.").arg(context.updateDirectory)};
    QByteArray pattern = QFile::encodeName(context.updateDirectory + QLatin1Char('/') + stagingPrefix) + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return Error{QStringLiteral("Cannot create a staging folder in %1.").arg(context.updateDirectory)};
    const QString folder = QFile::decodeName(pattern);

    Result<QString> staged = stageInto(folder, package, context);
    removeTree(folder);
    return staged;
}

void removeStagingLeftovers(const QString& updateDirectory)
{
    const QDir folder(updateDirectory);
    const QStringList leftovers =
        folder.entryList({stagingPrefix + QLatin1Char('*')}, QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString& name : leftovers)
        removeTree(folder.filePath(name));
}

}  // namespace nimbrel
