#pragma once

// Helpers shared by the update tests: files and folders on disk, the test keys, hand-made packages.

#include "support/TestEnvironment.h"
#include "update/ApplyUpdate.h"
#include "update/InstallManifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStorageInfo>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <numeric>
#include <optional>
#include <ostream>
#include <vector>

namespace nimbrel::test {

// Written with the mode given, whatever the umask.
inline void writeFile(const QString& path, const QByteArray& bytes, int mode)
{
    writeFile(path, bytes);
    ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode));
}

inline const auto exists = [](const QString& path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); };

inline void makeLink(const QString& target, const QString& link)
{
    ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData());
}

inline const auto names = [](const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
};

// Everything below `root` (kind, permission bits, content or link text), for "nothing was touched".
inline QMap<QString, QString> snapshot(const QString& root)
{
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        const QString mode = QString::number(info.st_mode & 07777, 8);
        QString value = QStringLiteral("special ") + mode;  // never opened: a pipe would block the test
        if (S_ISLNK(info.st_mode))
            value =
                QStringLiteral("link -> ") + QString::fromStdString(std::filesystem::read_symlink(path.toStdString()));
        else if (S_ISDIR(info.st_mode))
            value = QStringLiteral("folder ") + mode;
        else if (S_ISREG(info.st_mode))
            value = QStringLiteral("file ") + mode + u' ' + QString::fromLatin1(readFile(path).toHex());
        entries.insert(QDir(root).relativeFilePath(path), value);
    }
    return entries;
}

inline QByteArray keyFile(const char* name)
{
    return readFile(QStringLiteral(NIMBREL_TEST_KEYS_DIR "/TEST-ONLY-") + QLatin1String(name) + u".pem");
}
inline const QByteArray testSigningKey = keyFile("update-signing-key");
inline const QByteArray otherSigningKey = keyFile("other-signing-key");
inline const QByteArray testPublicKey = ed25519PublicKeyFromPem(keyFile("update-public-key"));
inline const QByteArray otherPublicKey = ed25519PublicKeyFromPem(keyFile("other-public-key"));

// A small folder: a program, a library with a link to it, an empty folder and a read-only file.
inline QString makeInstallFolder(const QString& path, const QByteArray& flavour = "new")
{
    writeFile(path + QStringLiteral("/bin/nimbrel"), "#!/bin/sh\necho " + flavour + "\n", 0755);
    writeFile(path + QStringLiteral("/lib/libx.so.1"), "library " + flavour, 0644);
    makeLink(QStringLiteral("libx.so.1"), path + QStringLiteral("/lib/libx.so"));
    QDir().mkpath(path + QStringLiteral("/share/empty"));
    writeFile(path + QStringLiteral("/share/readme"), "read only " + flavour, 0444);
    return path;
}

inline QString makeSignedFolder(const QString& path, qint64 build = 42, const QByteArray& flavour = "new")
{
    if (const auto signedFolder = signInstallFolder(makeInstallFolder(path, flavour), build, testSigningKey);
        !signedFolder)
        qFatal("cannot sign the test folder: %s", qPrintable(signedFolder.error().description));
    return path;
}

// A fresh folder on another file system than the test's home (moves there cannot be renames), or empty.
inline QString otherDeviceDirectory()
{
    const QString shm = QStringLiteral("/dev/shm");
    if (!QFileInfo(shm).isWritable() || QStorageInfo(shm).rootPath() == QStorageInfo(homeDirectory()).rootPath())
        return {};
    const QString path = shm + QStringLiteral("/nimbrel-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return QDir().mkpath(path) ? path : QString();
}

// A program's output for `input`.
inline QByteArray output(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60'000);
    return process.readAllStandardOutput();
}

inline const auto gzip = [](const QByteArray& data) {
    return output(QStringLiteral("gzip"), {QStringLiteral("-1c")}, data);
};

// A gzip-compressed tar package of the folder `root`, named `top` inside the package, in name order.
inline QByteArray packFolder(const QString& root, const QString& top = QStringLiteral("Nimbrel.app"))
{
    return output(QStringLiteral("tar"), {QStringLiteral("-czf"), QStringLiteral("-"), QStringLiteral("--sort=name"),
                                          QStringLiteral("-C"), root, "--transform=s,^\\.," + top + ",S", "."});
}

// Hand-written tar entries, for the hostile packages no tar program would write.
struct TarEntry {
    QByteArray name;
    char type = '0';
    int mode = 0644;
    QByteArray data, link;
    std::optional<quint64> declaredSize = {};  // a size in the header that differs from the data written
};

inline QByteArray tarArchive(const std::vector<TarEntry>& entries)
{
    const auto octal = [](quint64 value, int width) -> QByteArray {
        return QByteArray::number(value, 8).rightJustified(width - 1, '0') + '\0';
    };
    const auto field = [](const QByteArray& text) { return text.left(100).leftJustified(100, '\0'); };
    QByteArray archive;
    for (const TarEntry& e : entries) {
        QByteArray h = field(e.name) + octal(e.mode, 8) + octal(0, 8) + octal(0, 8) +
                       octal(e.declaredSize.value_or(e.data.size()), 12) + octal(1'700'000'000, 12) +
                       QByteArray(8, ' ') + e.type + field(e.link) + QByteArray("ustar\00000", 8);
        h = h.leftJustified(512, '\0');
        const quint64 sum =
            std::accumulate(h.begin(), h.end(), quint64(0), [](quint64 s, char c) { return s + quint8(c); });
        archive += h.replace(148, 7, octal(sum, 7)) + e.data + QByteArray((512 - e.data.size() % 512) % 512, '\0');
    }
    return archive + QByteArray(10 * 1024, '\0');
}

// One "length key=value\n" record of a pax extended header, its length field counting itself.
inline QByteArray paxRecord(const QByteArray& key, const QByteArray& value)
{
    const qsizetype body = key.size() + value.size() + 3;
    qsizetype length = body + 1;
    while (QByteArray::number(length).size() + body != length)
        ++length;
    return QByteArray::number(length) + ' ' + key + '=' + value + '\n';
}

inline const auto pax = [](const QByteArray& key, const QByteArray& value) {  // for the entry after it
    return TarEntry{"pax", 'x', 0644, paxRecord(key, value)};
};
inline const auto tarFolder = [](const QByteArray& name, int mode = 0755) { return TarEntry{name, '5', mode}; };
inline const auto tarFile = [](const QByteArray& name, const QByteArray& data, int mode = 0644) {
    return TarEntry{name, '0', mode, data};
};
inline const auto tarLink = [](const QByteArray& n, const QByteArray& to) { return TarEntry{n, '2', 0777, {}, to}; };
inline const auto tarHardLink = [](const QByteArray& n, const QByteArray& to) {
    return TarEntry{n, '1', 0644, {}, to};
};

}  // namespace nimbrel::test

inline void PrintTo(const QString& text, std::ostream* os)  // readable failure messages
{
    *os << '"' << text.toStdString() << '"';
}
