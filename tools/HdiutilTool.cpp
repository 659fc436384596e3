// Stand-in for the disk-image tool: a release package is a gzip-compressed tar archive, "attached" by
// unpacking it into the mount point and "detached" by removing that folder again.
//
//   hdiutil attach <package> [-nobrowse] [-noverify] [-noautoopen] [-quiet] -mountpoint <folder>
//   hdiutil detach <folder> [-quiet] [-force]
//
// Exit status 0 on success, 1 on any failure.

#include "PackageExtractor.h"
#include "ToolSupport.h"
#include "update/FileTree.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace nimbrel;
using namespace nimbrel::tools;

namespace {

constexpr char tool[] = "hdiutil";
// Written by attach into the mount point; detach removes only folders that carry it.
constexpr char mountMarker[] = ".nimbrel-mount";

bool isRealDirectory(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

int attach(const QStringList& arguments)
{
    QString package;
    QString mountPoint;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("-mountpoint")) {
            if (i + 1 == arguments.size()) {
                complain(tool, QStringLiteral("-mountpoint needs a folder"));
                return 1;
            }
            mountPoint = arguments.at(++i);
        } else if (argument == QLatin1String("-nobrowse") || argument == QLatin1String("-noverify") ||
                   argument == QLatin1String("-noautoopen") || argument == QLatin1String("-quiet")) {
            // Meaningless for a folder; accepted for the calling convention.
        } else if (argument.startsWith(QLatin1Char('-')) || !package.isEmpty()) {
            complain(tool, QStringLiteral("attach: unexpected argument %1").arg(argument));
            return 1;
        } else {
            package = argument;
        }
    }
    if (package.isEmpty() || mountPoint.isEmpty()) {
        complain(tool, QStringLiteral("usage: hdiutil attach <package> -mountpoint <folder>"));
        return 1;
    }

    const QByteArray mount = QFile::encodeName(mountPoint);
    bool created = false;
    if (::mkdir(mount.constData(), 0700) == 0) {
        created = true;
    } else if (errno != EEXIST || !isRealDirectory(mount) ||
               !QDir(mountPoint).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        complain(tool, QStringLiteral("attach: the mount point must be a new or empty folder: %1").arg(mountPoint));
        return 1;
    }

    const int marker = ::open(QByteArray(mount + '/' + mountMarker).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    Result<void> unpacked = Error{QStringLiteral("cannot mark the mount point")};
    if (marker >= 0) {
        ::close(marker);
        unpacked = extractPackage(package, mountPoint);
    }
    if (!unpacked) {
        // Leave nothing behind: a failed attach is never detached by its caller.
        if (created) {
            removeTree(mountPoint);
        } else {
            const QDir folder(mountPoint);
            for (const QString& name :
                 folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
                removeTree(folder.filePath(name));
        }
        complain(tool, QStringLiteral("attach failed: %1").arg(unpacked.error().description));
        return 1;
    }
    say(mountPoint);
    return 0;
}

int detach(const QStringList& arguments)
{
    QString mountPoint;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("-quiet") || argument == QLatin1String("-force"))
            continue;
        if (argument.startsWith(QLatin1Char('-')) || !mountPoint.isEmpty()) {
            complain(tool, QStringLiteral("detach: unexpected argument %1").arg(argument));
            return 1;
        }
        mountPoint = argument;
    }
    if (mountPoint.isEmpty()) {
        complain(tool, QStringLiteral("usage: hdiutil detach <folder> [-quiet] [-force]"));
        return 1;
    }
    const QByteArray mount = QFile::encodeName(mountPoint);
    struct stat info {};
    if (!isRealDirectory(mount) || ::lstat(QByteArray(mount + '/' + mountMarker).constData(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        complain(tool, QStringLiteral("detach: %1 is not an attached package").arg(mountPoint));
        return 1;
    }
    if (!removeTree(mountPoint)) {
        complain(tool, QStringLiteral("detach: cannot remove %1").arg(mountPoint));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const QStringList arguments = argumentList(argc, argv);
    const QString verb = arguments.value(0);
    if (verb == QLatin1String("attach"))
        return attach(arguments.mid(1));
    if (verb == QLatin1String("detach"))
        return detach(arguments.mid(1));
    complain(tool, QStringLiteral("usage: hdiutil attach|detach …"));
    return 1;
}
