#include "update/InstallManifest.h"

#include "update/Ed25519.h"
#include "update/FileTree.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <memory>

namespace nimbrel {

namespace {

constexpr QLatin1StringView formatName{"nimbrel-bundle-manifest/1"};
constexpr qint64 maxManifestBytes = 64LL * 1024 * 1024;
constexpr qsizetype maxEntries = 200'000;
constexpr int maxDepth = 256;
// A build number must survive the trip through a JSON number unchanged.
constexpr qint64 maxBuildNumber = 9'007'199'254'740'991LL;

Error error(const QString& text)
{
    return Error{text};
}

QString kindName(ManifestEntry::Kind kind)
{
    switch (kind) {
        case ManifestEntry::Kind::directory:
            return QStringLiteral("directory");
        case ManifestEntry::Kind::file:
            return QStringLiteral("file");
        case ManifestEntry::Kind::link:
            return QStringLiteral("link");
    }
    return {};
}

QString modeText(int mode)
{
    return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0'));
}

bool pathLess(const ManifestEntry& a, const ManifestEntry& b)
{
    return a.path.toUtf8() < b.path.toUtf8();
}

bool isLowerHex(const QByteArray& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A path as the manifest stores it: components joined by single slashes, nothing to normalise away.
bool isCanonicalPath(const QString& path)
{
    if (!isContainedRelativePath(path) || path.endsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    if (std::any_of(parts.begin(), parts.end(), [](const QString& p) { return p == QLatin1String("."); }))
        return false;
    return !(parts.size() == 1 && parts.front() == signatureFolderName);
}

Result<QByteArray> readSmallFile(const QByteArray& path, qint64 limit)
{
    QByteArray bytes;
    const Result<void> read = readRegularFile(
        path, [limit](qint64 size) { return size <= limit; },
        [&bytes, limit](QByteArrayView chunk) {
            bytes.append(chunk);
            return bytes.size() <= limit;
        });
    if (!read)
        return read.error();
    return bytes;
}

class Scanner {
public:
    explicit Scanner(QByteArray root) : m_root(std::move(root)) {}

    Result<void> scan(const QByteArray& relative, int depth)
    {
        if (depth > maxDepth)
            return error(QStringLiteral("folders nested too deeply"));
        const QByteArray folder = relative.isEmpty() ? m_root : m_root + '/' + relative;
        const auto listing = listFolder(folder);
        if (!listing)
            return error(QStringLiteral("cannot list %1").arg(QFile::decodeName(folder)));
        const QList<QByteArray>& names = *listing;

        for (const QByteArray& name : names) {
            if (relative.isEmpty() && name == QByteArrayView(signatureFolderName))
                continue;
            if (auto added = add(relative.isEmpty() ? name : relative + '/' + name, depth); !added)
                return added;
        }
        return {};
    }

    std::vector<ManifestEntry> entries;

private:
    Result<void> add(const QByteArray& relative, int depth)
    {
        const QString path = QString::fromUtf8(relative);
        if (path.toUtf8() != relative)
            return error(QStringLiteral("a file name is not UTF-8: %1").arg(QString::fromUtf8(relative)));
        if (static_cast<qsizetype>(entries.size()) >= maxEntries)
            return error(QStringLiteral("too many files"));

        const QByteArray full = m_root + '/' + relative;
        struct stat info {};
        if (::lstat(full.constData(), &info) != 0)
            return error(QStringLiteral("cannot read %1").arg(path));

        ManifestEntry entry;
        entry.path = path;
        const int mode = static_cast<int>(info.st_mode & 07777);
        if (S_ISDIR(info.st_mode) || S_ISREG(info.st_mode)) {
            if (mode & ~0777)
                return error(QStringLiteral("set-id or sticky bits on %1").arg(path));
            entry.mode = mode;
        }
        if (S_ISDIR(info.st_mode)) {
            entry.kind = ManifestEntry::Kind::directory;
            entries.push_back(entry);
            return scan(relative, depth + 1);
        }
        if (S_ISREG(info.st_mode)) {
            auto digest = sha256OfFile(full);
            if (!digest)
                return digest.error();
            entry.kind = ManifestEntry::Kind::file;
            entry.sha256 = digest->sha256.toHex();
            entries.push_back(entry);
            return {};
        }
        if (S_ISLNK(info.st_mode)) {
            QByteArray target(static_cast<qsizetype>(info.st_size) + 1, Qt::Uninitialized);
            const ssize_t length = ::readlink(full.constData(), target.data(), static_cast<size_t>(target.size()));
            if (length < 0 || length >= target.size())
                return error(QStringLiteral("cannot read the link %1").arg(path));
            target.truncate(length);
            entry.kind = ManifestEntry::Kind::link;
            entry.target = QString::fromUtf8(target);
            if (entry.target.toUtf8() != target)
                return error(QStringLiteral("a link text is not UTF-8: %1").arg(path));
            if (!linkStaysInside(path, entry.target))
                return error(QStringLiteral("the link %1 leaves the folder").arg(path));
            entries.push_back(entry);
            return {};
        }
        return error(QStringLiteral("not a file, folder or link: %1").arg(path));
    }

    QByteArray m_root;
};

bool isRealDirectory(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

Result<void> writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return error(QStringLiteral("cannot write %1").arg(path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return {};
}

QString describe(const ManifestEntry& entry)
{
    return QStringLiteral("%1 %2").arg(kindName(entry.kind), entry.path);
}

}  // namespace

QByteArray encodeManifest(const InstallManifest& manifest)
{
    QJsonArray entries;
    for (const ManifestEntry& entry : manifest.entries) {
        QJsonObject object{{QStringLiteral("path"), entry.path}, {QStringLiteral("type"), kindName(entry.kind)}};
        switch (entry.kind) {
            case ManifestEntry::Kind::file:
                object.insert(QStringLiteral("sha256"), QString::fromLatin1(entry.sha256));
                [[fallthrough]];
            case ManifestEntry::Kind::directory:
                object.insert(QStringLiteral("mode"), modeText(entry.mode));
                break;
            case ManifestEntry::Kind::link:
                object.insert(QStringLiteral("target"), entry.target);
                break;
        }
        entries.append(object);
    }
    const QJsonObject root{{QStringLiteral("build"), manifest.build},
                           {QStringLiteral("entries"), entries},
                           {QStringLiteral("format"), QString(formatName)}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

Result<InstallManifest> decodeManifest(const QByteArray& bytes)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return error(QStringLiteral("the manifest is not a JSON object"));
    const QJsonObject root = document.object();
    if (root.size() != 3 || root.value(QStringLiteral("format")).toString() != formatName)
        return error(QStringLiteral("the manifest has an unknown format"));

    InstallManifest manifest;
    const QJsonValue build = root.value(QStringLiteral("build"));
    const double buildNumber = build.toDouble(-1);
    if (!build.isDouble() || buildNumber < 0 || buildNumber > static_cast<double>(maxBuildNumber) ||
        buildNumber != static_cast<double>(static_cast<qint64>(buildNumber)))
        return error(QStringLiteral("the manifest's build number is not a whole number"));
    manifest.build = static_cast<qint64>(buildNumber);

    const QJsonValue entries = root.value(QStringLiteral("entries"));
    if (!entries.isArray() || entries.toArray().size() > maxEntries)
        return error(QStringLiteral("the manifest has no valid entry list"));
    for (const QJsonValue& value : entries.toArray()) {
        const QJsonObject object = value.toObject();
        ManifestEntry entry;
        entry.path = object.value(QStringLiteral("path")).toString();
        const QString type = object.value(QStringLiteral("type")).toString();
        const QString mode = object.value(QStringLiteral("mode")).toString();
        bool modeOk = false;
        entry.mode = mode.toInt(&modeOk, 8);
        modeOk = modeOk && mode.size() == 4 && entry.mode >= 0 && entry.mode <= 0777;
        bool entryOk = value.isObject() && isCanonicalPath(entry.path);
        if (type == QLatin1String("directory")) {
            entry.kind = ManifestEntry::Kind::directory;
            entryOk = entryOk && object.size() == 3 && modeOk;
        } else if (type == QLatin1String("file")) {
            entry.kind = ManifestEntry::Kind::file;
            entry.sha256 = object.value(QStringLiteral("sha256")).toString().toLatin1();
            entryOk = entryOk && object.size() == 4 && modeOk && entry.sha256.size() == 64 && isLowerHex(entry.sha256);
        } else if (type == QLatin1String("link")) {
            entry.kind = ManifestEntry::Kind::link;
            entry.mode = 0;
            const QJsonValue target = object.value(QStringLiteral("target"));
            entry.target = target.toString();
            entryOk = entryOk && object.size() == 3 && target.isString() && linkStaysInside(entry.path, entry.target);
        } else {
            entryOk = false;
        }
        if (!entryOk)
            return error(QStringLiteral("the manifest has an invalid entry: %1").arg(entry.path));
        if (!manifest.entries.empty() && !pathLess(manifest.entries.back(), entry))
            return error(QStringLiteral("the manifest's entries are not sorted and unique: %1").arg(entry.path));
        manifest.entries.push_back(entry);
    }
    if (encodeManifest(manifest) != bytes)
        return error(QStringLiteral("the manifest is not in canonical form"));
    return manifest;
}

Result<InstallManifest> scanInstallFolder(const QString& folderPath)
{
    const QByteArray root = QFile::encodeName(QDir::cleanPath(folderPath));
    if (!isRealDirectory(root))
        return error(QStringLiteral("%1 is not a folder").arg(folderPath));
    Scanner scanner(root);
    if (auto scanned = scanner.scan({}, 0); !scanned)
        return scanned.error();
    InstallManifest manifest;
    manifest.entries = std::move(scanner.entries);
    std::sort(manifest.entries.begin(), manifest.entries.end(), pathLess);
    return manifest;
}

Result<void> signInstallFolder(const QString& folderPath, qint64 build, const QByteArray& privateKeyPem)
{
    if (build < 0 || build > maxBuildNumber)
        return error(QStringLiteral("the build number is out of range"));
    const QString folder = QDir::cleanPath(folderPath) + QLatin1Char('/') + signatureFolderName;
    if (!removeTree(folder))
        return error(QStringLiteral("cannot remove the old signature"));

    auto manifest = scanInstallFolder(folderPath);
    if (!manifest)
        return manifest.error();
    manifest->build = build;
    const QByteArray bytes = encodeManifest(*manifest);
    const auto signature = ed25519Sign(bytes, privateKeyPem);
    if (!signature)
        return signature.error();

    if (!QDir().mkdir(folder))
        return error(QStringLiteral("cannot create %1").arg(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (auto written = writeFile(folder + QLatin1Char('/') + manifestFileName, bytes); !written)
        return written;
    return writeFile(folder + QLatin1Char('/') + signatureFileName, signature->toBase64() + '\n');
}

Result<InstallManifest> verifyInstallFolder(const QString& folderPath, const QByteArray& publicKey)
{
    if (publicKey.size() != 32)
        return error(QStringLiteral("no valid public key"));
    const QByteArray root = QFile::encodeName(QDir::cleanPath(folderPath));
    if (!isRealDirectory(root))
        return error(QStringLiteral("%1 is not a folder").arg(folderPath));
    const QByteArray folder = root + '/' + QByteArrayView(signatureFolderName);
    if (!isRealDirectory(folder))
        return error(QStringLiteral("the folder is not signed"));

    // The signature folder holds the two files and nothing else.
    QDir signatureDir(QFile::decodeName(folder));
    const QStringList present =
        signatureDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (present != QStringList{QString(manifestFileName), QString(signatureFileName)})
        return error(QStringLiteral("the signature folder holds unexpected files"));

    const auto bytes = readSmallFile(folder + '/' + QByteArrayView(manifestFileName), maxManifestBytes);
    if (!bytes)
        return bytes.error();
    const auto signatureText = readSmallFile(folder + '/' + QByteArrayView(signatureFileName), 4096);
    if (!signatureText)
        return signatureText.error();
    const auto signature =
        QByteArray::fromBase64Encoding(signatureText->trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!signature || !ed25519Verify(*bytes, signature.decoded, publicKey))
        return error(QStringLiteral("the signature does not match the manifest"));

    auto manifest = decodeManifest(*bytes);
    if (!manifest)
        return manifest.error();
    const auto actual = scanInstallFolder(folderPath);
    if (!actual)
        return actual.error();

    // Both lists are sorted by path: walk them side by side and name the first difference.
    const std::vector<ManifestEntry>& expected = manifest->entries;
    const std::vector<ManifestEntry>& found = actual->entries;
    size_t e = 0;
    size_t f = 0;
    while (e < expected.size() || f < found.size()) {
        if (f == found.size() || (e < expected.size() && pathLess(expected[e], found[f])))
            return error(QStringLiteral("missing from the folder: %1").arg(describe(expected[e])));
        if (e == expected.size() || pathLess(found[f], expected[e]))
            return error(QStringLiteral("not in the signed manifest: %1").arg(describe(found[f])));
        if (!(expected[e] == found[f]))
            return error(QStringLiteral("changed since signing: %1").arg(describe(found[f])));
        ++e;
        ++f;
    }
    return manifest;
}

std::optional<qint64> signedBuildNumber(const QString& folderPath, const QByteArray& publicKey)
{
    const auto manifest = verifyInstallFolder(folderPath, publicKey);
    if (!manifest)
        return std::nullopt;
    return manifest->build;
}

}  // namespace nimbrel
