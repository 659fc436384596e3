#include "update/FileTree.h"

#include <QFile>
#include <QStringList>

#include <dirent.h>
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
    // Deeper than any real bundle: refuse rather than exhaust the stack.
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

}  // namespace nimbrel
