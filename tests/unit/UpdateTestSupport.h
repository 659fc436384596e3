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
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <vector>

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
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

inline QByteArray linkText(const QString& path)
{
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target.data(), 4096);
    return target.left(std::max<ssize_t>(length, 0));
}

inline QStringList names(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

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
            value = QStringLiteral("link -> ") + QFile::decodeName(linkText(path));
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
    makeInstallFolder(path, flavour);
    if (const auto signedFolder = signInstallFolder(path, build, testSigningKey); !signedFolder)
        qFatal("cannot sign the test folder: %s", qPrintable(signedFolder.error().description));
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

// --- a tar writer for hand-made packages, including hostile ones ---------------------------------------------

struct TarEntry {
    QByteArray name;
    char type = '0';
    int mode = 0644;
    QByteArray data;
    QByteArray link;
    std::optional<quint64> declaredSize;  // a size in the header that differs from the data written
};

inline void putOctal(char* field, size_t length, quint64 value)
{
    const QByteArray text = QByteArray::number(value, 8).rightJustified(static_cast<qsizetype>(length - 1), '0');
    std::memcpy(field, text.constData(), length - 1);
}

inline QByteArray tarHeader(const TarEntry& entry)
{
    QByteArray block(512, '\0');
    char* h = block.data();
    std::memcpy(h, entry.name.constData(), static_cast<size_t>(std::min<qsizetype>(entry.name.size(), 100)));
    putOctal(h + 100, 8, static_cast<quint64>(entry.mode));
    putOctal(h + 108, 8, 0);
    putOctal(h + 116, 8, 0);
    putOctal(h + 124, 12, entry.declaredSize.value_or(static_cast<quint64>(entry.data.size())));
    putOctal(h + 136, 12, 1'700'000'000);
    h[156] = entry.type;
    std::memcpy(h + 157, entry.link.constData(), static_cast<size_t>(std::min<qsizetype>(entry.link.size(), 100)));
    std::memcpy(h + 257,
                "ustar\0"
                "00",
                8);
    std::memset(h + 148, ' ', 8);
    quint64 sum = 0;
    for (char c : block)
        sum += static_cast<unsigned char>(c);
    putOctal(h + 148, 7, sum);
    return block;
}

// One "length key=value\n" record of a pax extended header, its length field counting itself.
inline QByteArray paxRecord(const QByteArray& key, const QByteArray& value)
{
    const qsizetype body = key.size() + value.size() + 3;  // space, '=', newline
    qsizetype length = body + 1;
    while (QByteArray::number(length).size() + body != length)
        ++length;
    return QByteArray::number(length) + ' ' + key + '=' + value + '\n';
}

inline QByteArray tarArchive(const std::vector<TarEntry>& entries)
{
    QByteArray archive;
    for (const TarEntry& entry : entries)
        archive += tarHeader(entry) + entry.data + QByteArray((512 - entry.data.size() % 512) % 512, '\0');
    return archive + QByteArray(1024 * 10, '\0');
}

inline QByteArray gzip(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline TarEntry pax(const QByteArray& key, const QByteArray& value)  // an extended header for the entry after it
{
    return {"pax", 'x', 0644, paxRecord(key, value), {}, {}};
}
inline TarEntry tarFolder(const QByteArray& name, int mode = 0755)
{
    return {name, '5', mode, {}, {}, {}};
}
inline TarEntry tarFile(const QByteArray& name, const QByteArray& data, int mode = 0644)
{
    return {name, '0', mode, data, {}, {}};
}
inline TarEntry tarLink(const QByteArray& name, const QByteArray& target)
{
    return {name, '2', 0777, {}, target, {}};
}
inline TarEntry tarHardLink(const QByteArray& name, const QByteArray& target)
{
    return {name, '1', 0644, {}, target, {}};
}

// A gzip-compressed tar package of the folder `root`, named `top` inside the package, in name order.
inline QByteArray packFolder(const QString& root, const QString& top = QStringLiteral("Nimbrel.app"))
{
    QProcess tar;
    tar.start(QStringLiteral("tar"),
              {QStringLiteral("-czf"), QStringLiteral("-"), QStringLiteral("--sort=name"), QStringLiteral("-C"), root,
               QStringLiteral("--transform=s,^\\.,") + top + QStringLiteral(",S"), QStringLiteral(".")});
    tar.waitForFinished();
    return tar.readAllStandardOutput();
}

}  // namespace nimbrel::test

// Readable failure messages for the types the update tests compare.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
