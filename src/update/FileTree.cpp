#include "update/FileTree.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace nimbrel {

namespace {

bool removeRecursively(const QByteArray& path, int depth)
{
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return ::unlink(path.constData()) == 0 || errno == ENOENT;
    // Deeper than any real folder: refuse rather than exhaust the stack.
    if (depth > 512)
        return false;
    if ((info.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.constData(), (info.st_mode & 07777) | S_IRWXU);

    bool ok = true;
    if (DIR* dir = ::opendir(path.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            ok = removeRecursively(path + '/' + name, depth + 1) && ok;
        }
        ::closedir(dir);
    } else {
        ok = false;
    }
    return (::rmdir(path.constData()) == 0 || errno == ENOENT) && ok;
}

bool copyFile(const QByteArray& source, const QByteArray& destination, const struct stat& info)
{
    const int in = ::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(destination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n >= 0;
        if (n <= 0)
            break;
        for (ssize_t written = 0; ok && written < n;) {
            const ssize_t w = ::write(out, buffer + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            written += ok ? w : 0;
        }
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ok = ok && ::fchmod(out, info.st_mode & 07777) == 0 && ::futimens(out, times) == 0;
    ::close(in);
    if (out >= 0)
        ok = ::close(out) == 0 && ok;
    return ok;
}

bool copyRecursively(const QByteArray& source, const QByteArray& destination, int depth)
{
    struct stat info {};
    if (::lstat(source.constData(), &info) != 0 || depth > 512)
        return false;
    if (S_ISREG(info.st_mode))
        return copyFile(source, destination, info);
    if (S_ISLNK(info.st_mode)) {
        QByteArray target(static_cast<qsizetype>(info.st_size) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(source.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length >= target.size())
            return false;
        target.truncate(length);
        return ::symlink(target.constData(), destination.constData()) == 0;
    }
    if (!S_ISDIR(info.st_mode) || ::mkdir(destination.constData(), 0700) != 0)
        return false;
    const auto names = listFolder(source);
    if (!names)
        return false;
    for (const QByteArray& name : *names)
        if (!copyRecursively(source + '/' + name, destination + '/' + name, depth + 1))
            return false;
    // The mode last, so a read-only folder does not stop its own contents.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    return ::chmod(destination.constData(), info.st_mode & 07777) == 0 &&
           ::utimensat(AT_FDCWD, destination.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

bool removeTree(const QString& path)
{
    if (path.isEmpty())
        return false;
    return removeRecursively(QFile::encodeName(path), 0);
}

bool isContainedRelativePath(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    bool named = false;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part == QLatin1String(".."))
            return false;
        // A trailing slash is harmless; an empty component in the middle ("a//b") is not a canonical name.
        if (part.isEmpty() && i != parts.size() - 1)
            return false;
        if (!part.isEmpty() && part != QLatin1String("."))
            named = true;
    }
    return named;
}

bool linkStaysInside(const QString& linkPath, const QString& target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')) || target.contains(QChar(0)))
        return false;
    qsizetype depth = 0;
    for (const QString& part : linkPath.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        if (part != QLatin1String("."))
            ++depth;
    // The link's own folder lies one level above the link.
    depth -= 1;
    if (depth < 0)
        return false;

    bool named = false;
    for (const QString& part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (named || depth == 0)
                return false;
            --depth;
            continue;
        }
        named = true;
    }
    return true;
}

std::optional<QList<QByteArray>> listFolder(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return std::nullopt;
    QList<QByteArray> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    const bool listed = errno == 0;
    ::closedir(dir);
    if (!listed)
        return std::nullopt;
    return names;
}

Result<void> readRegularFile(const QByteArray& path, const std::function<bool(qint64 size)>& accept,
                             const std::function<bool(QByteArrayView)>& consume)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Error{QStringLiteral("cannot open %1").arg(QFile::decodeName(path))};
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && accept(info.st_size);
    while (ok) {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = consume(QByteArrayView(buffer, n));
    }
    ::close(fd);
    if (!ok)
        return Error{QStringLiteral("cannot read %1").arg(QFile::decodeName(path))};
    return {};
}

Result<FileDigest> sha256OfFile(const QByteArray& path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    FileDigest digest;
    const Result<void> read = readRegularFile(
        path, [](qint64) { return true; },
        [&](QByteArrayView chunk) {
            hash.addData(chunk);
            digest.length += chunk.size();
            return true;
        });
    if (!read)
        return read.error();
    digest.sha256 = hash.result();
    return digest;
}

bool copyTree(const QString& source, const QString& destination)
{
    if (source.isEmpty() || destination.isEmpty())
        return false;
    return copyRecursively(QFile::encodeName(source), QFile::encodeName(destination), 0);
}

}  // namespace nimbrel
