// Stand-in for the copy tool: copies a file, link or whole folder, keeping permission bits, link texts
// and modification times; links are copied as links, never followed. An existing destination folder is
// merged into.
//
//   ditto <source> <destination>
//
// Exit status 0 on success, 1 on any failure (the destination may then be partly written).

#include "ToolSupport.h"
#include "update/FileTree.h"

#include <QDir>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

using namespace nimbrel::tools;

namespace {

constexpr char tool[] = "ditto";

bool fail(const QByteArray& path, const char* what)
{
    complain(tool, QStringLiteral("%1: %2 (%3)")
                       .arg(QFile::decodeName(path), QString::fromUtf8(what), QString::fromUtf8(std::strerror(errno))));
    return false;
}

bool copyFileContents(const QByteArray& source, const QByteArray& destination, const struct stat& info)
{
    const int in = ::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return fail(source, "cannot open");
    const int out = ::open(destination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return fail(destination, "cannot create");
    }
    bool ok = true;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = fail(source, "cannot read");
        if (n <= 0)
            break;
        for (ssize_t written = 0; ok && written < n;) {
            const ssize_t w = ::write(out, buffer + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                ok = fail(destination, "cannot write");
            else
                written += w;
        }
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    if (ok && ::fchmod(out, info.st_mode & 07777) != 0)
        ok = fail(destination, "cannot set the mode");
    if (ok)
        ::futimens(out, times);
    ::close(in);
    if (::close(out) != 0 && ok)
        ok = fail(destination, "cannot write");
    return ok;
}

// Makes room for a file or link at `destination`: anything but a folder there is replaced.
bool clearForNonFolder(const QByteArray& destination)
{
    struct stat existing {};
    if (::lstat(destination.constData(), &existing) != 0)
        return true;
    if (S_ISDIR(existing.st_mode)) {
        errno = EISDIR;
        return fail(destination, "a folder is in the way");
    }
    return ::unlink(destination.constData()) == 0 || fail(destination, "cannot replace");
}

bool copyTree(const QByteArray& source, const QByteArray& destination, int depth)
{
    struct stat info {};
    if (::lstat(source.constData(), &info) != 0)
        return fail(source, "cannot read");
    if (depth > 512) {
        errno = ELOOP;
        return fail(source, "folders nested too deeply");
    }

    if (S_ISREG(info.st_mode))
        return clearForNonFolder(destination) && copyFileContents(source, destination, info);

    if (S_ISLNK(info.st_mode)) {
        QByteArray target(static_cast<qsizetype>(info.st_size) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(source.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length >= target.size())
            return fail(source, "cannot read the link");
        target.truncate(length);
        if (!clearForNonFolder(destination) || ::symlink(target.constData(), destination.constData()) != 0)
            return fail(destination, "cannot create the link");
        const timespec times[2] = {info.st_atim, info.st_mtim};
        ::utimensat(AT_FDCWD, destination.constData(), times, AT_SYMLINK_NOFOLLOW);
        return true;
    }

    if (!S_ISDIR(info.st_mode)) {
        errno = EINVAL;
        return fail(source, "not a file, folder or link");
    }

    struct stat existing {};
    if (::lstat(destination.constData(), &existing) == 0) {
        if (!S_ISDIR(existing.st_mode)) {
            errno = ENOTDIR;
            return fail(destination, "not a folder");
        }
        // Merging: the folder must stay writable until its contents are in.
        ::chmod(destination.constData(), (existing.st_mode & 07777) | S_IRWXU);
    } else if (::mkdir(destination.constData(), 0700) != 0) {
        return fail(destination, "cannot create the folder");
    }

    const auto listing = nimbrel::listFolder(source);
    if (!listing)
        return fail(source, "cannot list");
    const QList<QByteArray>& names = *listing;

    for (const QByteArray& name : names)
        if (!copyTree(source + '/' + name, destination + '/' + name, depth + 1))
            return false;

    if (::chmod(destination.constData(), info.st_mode & 07777) != 0)
        return fail(destination, "cannot set the mode");
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(AT_FDCWD, destination.constData(), times, AT_SYMLINK_NOFOLLOW);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const QStringList arguments = argumentList(argc, argv);
    if (arguments.size() != 2 || arguments.at(0).isEmpty() || arguments.at(1).isEmpty()) {
        complain(tool, QStringLiteral("usage: ditto <source> <destination>"));
        return 1;
    }
    const QString source = QDir::cleanPath(QDir::current().absoluteFilePath(arguments.at(0)));
    const QString destination = QDir::cleanPath(QDir::current().absoluteFilePath(arguments.at(1)));

    // A folder copied into itself would never end.
    const QString realSource = QFileInfo(source).canonicalFilePath();
    const QFileInfo destinationInfo(destination);
    const QString realDestination =
        QFileInfo(destinationInfo.absolutePath()).canonicalFilePath() + QLatin1Char('/') + destinationInfo.fileName();
    if (!realSource.isEmpty() && QFileInfo(source).isDir() &&
        (realDestination == realSource || realDestination.startsWith(realSource + QLatin1Char('/')))) {
        complain(tool, QStringLiteral("cannot copy %1 into itself").arg(source));
        return 1;
    }
    return copyTree(QFile::encodeName(source), QFile::encodeName(destination), 0) ? 0 : 1;
}
