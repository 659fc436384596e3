#pragma once

// Helpers shared by the update tests: files and bundles on disk, the test keys, the built tools.

#include "support/TestEnvironment.h"
#include "update/ApplyUpdate.h"
#include "update/BundleManifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <ostream>

namespace nimbrel::test {

inline void writeFile(const QString& path, const QByteArray& bytes, int mode = 0644)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode));
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

inline void makeLink(const QString& target, const QString& link)
{
    ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData());
}

// Everything below `root` (kind, permission bits, content or link text), for "nothing was touched".
inline QMap<QString, QString> snapshot(const QString& root)
{
    QMap<QString, QString> entries;
    if (!exists(root))
        return entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        const QString mode = QString::number(info.st_mode & 07777, 8);
        QString value;
        if (S_ISLNK(info.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target.data(), 4096);
            value = QStringLiteral("link -> ") + QFile::decodeName(target.left(std::max<ssize_t>(length, 0)));
        } else if (S_ISDIR(info.st_mode)) {
            value = QStringLiteral("folder ") + mode;
        } else {
            value = QStringLiteral("file ") + mode + QLatin1Char(' ') + QString::fromLatin1(readFile(path).toHex());
        }
        entries.insert(QDir(root).relativeFilePath(path), value);
    }
    return entries;
}

inline QByteArray keyFile(const char* name)
{
    return readFile(QStringLiteral(NIMBREL_TEST_KEYS_DIR "/") + QLatin1String(name));
}
inline QByteArray testSigningKey()
{
    return keyFile("TEST-ONLY-update-signing-key.pem");
}
inline QByteArray otherSigningKey()
{
    return keyFile("TEST-ONLY-other-signing-key.pem");
}
inline QByteArray testPublicKey()
{
    return ed25519PublicKeyFromPem(keyFile("TEST-ONLY-update-public-key.pem"));
}
inline QByteArray otherPublicKey()
{
    return ed25519PublicKeyFromPem(keyFile("TEST-ONLY-other-public-key.pem"));
}

// A small bundle: a program, a library with a link to it, an empty folder and a read-only file.
inline QString makeBundle(const QString& path, const QByteArray& flavour = "new")
{
    writeFile(path + QStringLiteral("/bin/nimbrel"), "#!/bin/sh\necho " + flavour + "\n", 0755);
    writeFile(path + QStringLiteral("/lib/libx.so.1"), "library " + flavour, 0644);
    makeLink(QStringLiteral("libx.so.1"), path + QStringLiteral("/lib/libx.so"));
    QDir().mkpath(path + QStringLiteral("/share/empty"));
    writeFile(path + QStringLiteral("/share/readme"), "read only " + flavour, 0444);
    return path;
}

inline QString makeSignedBundle(const QString& path, qint64 build = 42, const QByteArray& flavour = "new")
{
    makeBundle(path, flavour);
    const auto signedBundle = signBundle(path, build, testSigningKey());
    if (!signedBundle)
        qFatal("cannot sign the test bundle: %s", qPrintable(signedBundle.error().description));
    return path;
}

// A fresh folder on another file system than the test's home (for moves that cannot be renames), or
// empty when the machine has none.
inline QString otherDeviceDirectory()
{
    struct stat home {};
    struct stat shm {};
    if (::stat(QFile::encodeName(homeDirectory()).constData(), &home) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        home.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0)
        return {};
    const QString path = QStringLiteral("/dev/shm/nimbrel-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(path);
    return path;
}

inline QString builtTool(UpdateTool tool)
{
    return QStringLiteral(NIMBREL_TEST_TOOLS_DIR "/") + toolName(tool);
}

}  // namespace nimbrel::test

// Readable failure messages for the types the update tests compare.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QMap<QString, QString>& entries, std::ostream* os)
{
    *os << "{";
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        *os << "\n  " << it.key().toStdString() << ": " << it.value().left(90).toStdString();
    *os << " }";
}
