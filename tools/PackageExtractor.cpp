#include "PackageExtractor.h"

#include "update/FileTree.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace nimbrel::tools {

namespace {

constexpr size_t blockSize = 512;
// Long names and extended headers are metadata; anything this large is not a real package.
constexpr quint64 maxMetadataBytes = 1 << 20;

Error failure(const QString& text)
{
    return Error{text};
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

// The decompressed bytes of a gzip file (one or more members), read in order.
class GzipStream {
public:
    GzipStream(int fd, quint64 limit) : m_fd(fd), m_limit(limit)
    {
        std::memset(&m_stream, 0, sizeof m_stream);
        m_ready = inflateInit2(&m_stream, 16 + MAX_WBITS) == Z_OK;
    }
    ~GzipStream()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // Exactly `size` bytes, or false at the end of the data or on damage.
    bool read(char* out, size_t size)
    {
        while (size > 0) {
            if (!m_ready || m_ended || m_broken)
                return false;
            if (m_stream.avail_in == 0 && !fill())
                return false;
            m_stream.next_out = reinterpret_cast<Bytef*>(out);
            m_stream.avail_out = static_cast<uInt>(std::min<size_t>(size, 1 << 20));
            const uInt before = m_stream.avail_out;
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            const size_t produced = before - m_stream.avail_out;
            out += produced;
            size -= produced;
            m_total += produced;
            if (m_total > m_limit) {
                m_broken = true;
                return false;
            }
            if (status == Z_STREAM_END) {
                // Another member may follow; the stream ends only where the file ends.
                if (m_stream.avail_in == 0 && !fill()) {
                    m_ended = !m_broken;
                } else if (inflateReset(&m_stream) != Z_OK) {
                    m_broken = true;
                }
            } else if (status != Z_OK && !(status == Z_BUF_ERROR && produced == 0 && m_stream.avail_in == 0)) {
                m_broken = true;
            }
        }
        return true;
    }

    // Reads the rest of the stream so its checksums are checked; true when it ends cleanly.
    bool finish()
    {
        char buffer[65536];
        while (m_ready && !m_ended && !m_broken)
            readSome(buffer, sizeof buffer);
        return m_ready && m_ended && !m_broken;
    }

private:
    bool fill()
    {
        if (m_eof)
            return false;
        for (;;) {
            const ssize_t n = ::read(m_fd, m_input, sizeof m_input);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_broken = true;
            if (n <= 0) {
                m_eof = true;
                return false;
            }
            m_stream.next_in = m_input;
            m_stream.avail_in = static_cast<uInt>(n);
            return true;
        }
    }

    bool readSome(char* out, size_t size)
    {
        if (m_stream.avail_in == 0 && !fill()) {
            // The input ended inside a member: truncated.
            m_broken = true;
            return false;
        }
        m_stream.next_out = reinterpret_cast<Bytef*>(out);
        m_stream.avail_out = static_cast<uInt>(size);
        const int status = inflate(&m_stream, Z_NO_FLUSH);
        m_total += size - m_stream.avail_out;
        if (m_total > m_limit) {
            m_broken = true;
            return false;
        }
        if (status == Z_STREAM_END) {
            if (m_stream.avail_in == 0 && !fill())
                m_ended = !m_broken;
            else if (inflateReset(&m_stream) != Z_OK)
                m_broken = true;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            m_broken = true;
        }
        return !m_broken;
    }

    int m_fd;
    quint64 m_limit;
    z_stream m_stream;
    Bytef m_input[65536];
    quint64 m_total = 0;
    bool m_ready = false;
    bool m_eof = false;
    bool m_ended = false;
    bool m_broken = false;
};

// A numeric header field: octal text, or GNU base-256 for large values. Absent when malformed or negative.
std::optional<quint64> numberField(const char* field, size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(field);
    if (bytes[0] & 0x80) {
        if (bytes[0] != 0x80)
            return std::nullopt;  // negative or not base-256
        quint64 value = 0;
        for (size_t i = 1; i < length; ++i) {
            if (value >> 56)
                return std::nullopt;
            value = (value << 8) | bytes[i];
        }
        return value;
    }
    size_t i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    quint64 value = 0;
    bool digits = false;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (value >> 60)
            return std::nullopt;
        value = value * 8 + static_cast<quint64>(field[i] - '0');
        digits = true;
    }
    for (; i < length; ++i)
        if (field[i] != ' ' && field[i] != '\0')
            return std::nullopt;
    if (!digits)
        return quint64{0};
    return value;
}

QByteArray textField(const char* field, size_t length)
{
    return QByteArray(field, qstrnlen(field, length));
}

bool checksumMatches(const char* header)
{
    const std::optional<quint64> stored = numberField(header + 148, 8);
    if (!stored)
        return false;
    quint64 unsignedSum = 0;
    qint64 signedSum = 0;
    for (size_t i = 0; i < blockSize; ++i) {
        const char c = (i >= 148 && i < 156) ? ' ' : header[i];
        unsignedSum += static_cast<unsigned char>(c);
        signedSum += static_cast<signed char>(c);
    }
    return *stored == unsignedSum || static_cast<qint64>(*stored) == signedSum;
}

// The entry's path as components; absent when it is absolute or climbs with "..".
std::optional<QList<QByteArray>> components(const QByteArray& path)
{
    if (path.startsWith('/'))
        return std::nullopt;
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return std::nullopt;
        parts.append(part);
    }
    return parts;
}

// Parses "length key=value\n" records of a pax extended header.
std::optional<QList<std::pair<QByteArray, QByteArray>>> paxRecords(const QByteArray& data)
{
    QList<std::pair<QByteArray, QByteArray>> records;
    qsizetype at = 0;
    while (at < data.size()) {
        if (data.at(at) == '\0')
            break;
        const qsizetype space = data.indexOf(' ', at);
        if (space < 0)
            return std::nullopt;
        bool ok = false;
        const qsizetype length = data.mid(at, space - at).toLongLong(&ok);
        if (!ok || length <= space - at + 1 || at + length > data.size() || data.at(at + length - 1) != '\n')
            return std::nullopt;
        const QByteArray record = data.mid(space + 1, length - (space - at) - 2);
        const qsizetype equals = record.indexOf('=');
        if (equals <= 0)
            return std::nullopt;
        records.append({record.left(equals), record.mid(equals + 1)});
        at += length;
    }
    return records;
}

class Extractor {
public:
    Extractor(int root, GzipStream& stream, const ExtractLimits& limits)
        : m_root(root), m_stream(stream), m_limits(limits)
    {
    }

    Result<void> run()
    {
        char header[blockSize];
        for (;;) {
            if (!m_stream.read(header, blockSize))
                return failure(QStringLiteral("the package is damaged or incomplete"));
            if (std::all_of(header, header + blockSize, [](char c) { return c == '\0'; })) {
                // The end marker; the rest of the stream is padding, read so its checksum is checked.
                if (!m_stream.finish())
                    return failure(QStringLiteral("the package is damaged or incomplete"));
                return applyFolderModes();
            }
            if (!checksumMatches(header))
                return failure(QStringLiteral("a header of the package is damaged"));
            if (auto entry = handle(header); !entry)
                return entry;
        }
    }

private:
    Result<void> handle(const char* header)
    {
        const char type = header[156];
        std::optional<quint64> size = numberField(header + 124, 12);
        if (!size)
            return failure(QStringLiteral("a header of the package is damaged"));

        // Metadata that describes the next entry.
        if (type == 'x' || type == 'g' || type == 'L' || type == 'K') {
            if (*size > maxMetadataBytes)
                return failure(QStringLiteral("the package holds oversized metadata"));
            QByteArray data;
            if (!readData(*size, &data))
                return failure(QStringLiteral("the package is damaged or incomplete"));
            if (type == 'L')
                m_nextName = textField(data.constData(), static_cast<size_t>(data.size()));
            else if (type == 'K')
                m_nextLink = textField(data.constData(), static_cast<size_t>(data.size()));
            else if (type == 'x')
                return takePax(data);
            return {};
        }

        if (m_nextSize)
            size = std::exchange(m_nextSize, std::nullopt);
        if (++m_entries > m_limits.maxEntries)
            return failure(QStringLiteral("the package holds too many entries"));

        QByteArray name = textField(header, 100);
        const QByteArray magic(header + 257, 6);
        if (magic == QByteArray("ustar\0", 6)) {
            const QByteArray prefix = textField(header + 345, 155);
            if (!prefix.isEmpty())
                name = prefix + '/' + name;
        }
        if (m_nextName)
            name = *std::exchange(m_nextName, std::nullopt);
        QByteArray link = textField(header + 157, 100);
        if (m_nextLink)
            link = *std::exchange(m_nextLink, std::nullopt);
        const int mode = static_cast<int>(numberField(header + 100, 8).value_or(0) & 0777);

        const auto parts = components(name);
        if (!parts)
            return failure(
                QStringLiteral("the package names a place outside its folder: %1").arg(QString::fromUtf8(name)));

        switch (type) {
            case '0':
            case '\0':
            case '7':
                return writeFile(*parts, name, mode, *size);
            case '5':
                if (!skipData(*size))
                    return failure(QStringLiteral("the package is damaged or incomplete"));
                return makeFolder(*parts, mode);
            case '2':
                if (!skipData(*size))
                    return failure(QStringLiteral("the package is damaged or incomplete"));
                return makeLink(*parts, name, link);
            case '1':
                if (!skipData(*size))
                    return failure(QStringLiteral("the package is damaged or incomplete"));
                return makeHardLink(*parts, name, link);
            case '3':
            case '4':
            case '6':
                return failure(QStringLiteral("the package holds a device or pipe: %1").arg(QString::fromUtf8(name)));
            default:
                return failure(QStringLiteral("the package holds an entry of unknown kind '%1': %2")
                                   .arg(QString(QLatin1Char(type)), QString::fromUtf8(name)));
        }
    }

    Result<void> takePax(const QByteArray& data)
    {
        const auto records = paxRecords(data);
        if (!records)
            return failure(QStringLiteral("an extended header of the package is damaged"));
        for (const auto& [key, value] : *records) {
            if (key == "path") {
                m_nextName = value;
            } else if (key == "linkpath") {
                m_nextLink = value;
            } else if (key == "size") {
                bool ok = false;
                const quint64 size = value.toULongLong(&ok);
                if (!ok)
                    return failure(QStringLiteral("an extended header of the package is damaged"));
                m_nextSize = size;
            }
        }
        return {};
    }

    bool readData(quint64 size, QByteArray* data)
    {
        data->resize(static_cast<qsizetype>(size));
        if (size > 0 && !m_stream.read(data->data(), static_cast<size_t>(size)))
            return false;
        return skipPadding(size);
    }

    bool skipPadding(quint64 size)
    {
        char padding[blockSize];
        const size_t rest = static_cast<size_t>((blockSize - size % blockSize) % blockSize);
        return rest == 0 || m_stream.read(padding, rest);
    }

    bool skipData(quint64 size)
    {
        if (size > m_limits.maxFileBytes)
            return false;
        char buffer[65536];
        quint64 left = size;
        while (left > 0) {
            const size_t chunk = static_cast<size_t>(std::min<quint64>(left, sizeof buffer));
            if (!m_stream.read(buffer, chunk))
                return false;
            left -= chunk;
        }
        return skipPadding(size);
    }

    // The folder that holds the entry, opened one component at a time without following any link;
    // missing folders are created when `create` is set.
    FileDescriptor openParent(const QList<QByteArray>& parts, bool create)
    {
        FileDescriptor current(::dup(m_root));
        for (qsizetype i = 0; i + 1 < parts.size() && current.valid(); ++i) {
            const char* name = parts.at(i).constData();
            int next = ::openat(current.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT && create && ::mkdirat(current.get(), name, 0755) == 0)
                next = ::openat(current.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            current = FileDescriptor(next);
        }
        return current;
    }

    Result<void> writeFile(const QList<QByteArray>& parts, const QByteArray& name, int mode, quint64 size)
    {
        if (parts.isEmpty())
            return failure(QStringLiteral("the package holds a file without a name"));
        if (size > m_limits.maxFileBytes || m_fileBytes + size > m_limits.maxFileBytes)
            return failure(QStringLiteral("the package unpacks to more than %1 bytes").arg(m_limits.maxFileBytes));
        m_fileBytes += size;

        const FileDescriptor parent = openParent(parts, true);
        if (!parent.valid())
            return failure(
                QStringLiteral("cannot unpack %1 (a link or a file is in its way)").arg(QString::fromUtf8(name)));
        const FileDescriptor file(::openat(parent.get(), parts.back().constData(),
                                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.valid())
            return failure(QStringLiteral("cannot create %1").arg(QString::fromUtf8(name)));

        char buffer[65536];
        quint64 left = size;
        while (left > 0) {
            const size_t chunk = static_cast<size_t>(std::min<quint64>(left, sizeof buffer));
            if (!m_stream.read(buffer, chunk))
                return failure(QStringLiteral("the package is damaged or incomplete"));
            for (size_t written = 0; written < chunk;) {
                const ssize_t n = ::write(file.get(), buffer + written, chunk - written);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return failure(QStringLiteral("cannot write %1").arg(QString::fromUtf8(name)));
                written += static_cast<size_t>(n);
            }
            left -= chunk;
        }
        if (!skipPadding(size))
            return failure(QStringLiteral("the package is damaged or incomplete"));
        if (::fchmod(file.get(), static_cast<mode_t>(mode)) != 0)
            return failure(QStringLiteral("cannot set the mode of %1").arg(QString::fromUtf8(name)));
        m_files.insert(parts.join('/'));
        return {};
    }

    Result<void> makeFolder(const QList<QByteArray>& parts, int mode)
    {
        if (parts.isEmpty())
            return {};  // "./": the destination itself
        const FileDescriptor parent = openParent(parts, true);
        if (!parent.valid())
            return failure(QStringLiteral("cannot unpack %1 (a link or a file is in its way)")
                               .arg(QString::fromUtf8(parts.join('/'))));
        if (::mkdirat(parent.get(), parts.back().constData(), 0700) != 0) {
            struct stat info {};
            if (errno != EEXIST || ::fstatat(parent.get(), parts.back().constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISDIR(info.st_mode))
                return failure(QStringLiteral("cannot create the folder %1").arg(QString::fromUtf8(parts.join('/'))));
        }
        m_folderModes.append({parts, mode});
        return {};
    }

    Result<void> makeLink(const QList<QByteArray>& parts, const QByteArray& name, const QByteArray& target)
    {
        if (parts.isEmpty() || !linkStaysInside(QFile::decodeName(parts.join('/')), QFile::decodeName(target)))
            return failure(QStringLiteral("the package holds a link that leaves its folder: %1 -> %2")
                               .arg(QString::fromUtf8(name), QString::fromUtf8(target)));
        const FileDescriptor parent = openParent(parts, true);
        if (!parent.valid() || ::symlinkat(target.constData(), parent.get(), parts.back().constData()) != 0)
            return failure(QStringLiteral("cannot create the link %1").arg(QString::fromUtf8(name)));
        return {};
    }

    Result<void> makeHardLink(const QList<QByteArray>& parts, const QByteArray& name, const QByteArray& target)
    {
        const auto source = components(target);
        if (parts.isEmpty() || !source || source->isEmpty() || !m_files.contains(source->join('/')))
            return failure(QStringLiteral("the package holds a hard link to something outside or unknown: %1 -> %2")
                               .arg(QString::fromUtf8(name), QString::fromUtf8(target)));
        const FileDescriptor from = openParent(*source, false);
        const FileDescriptor to = openParent(parts, true);
        if (!from.valid() || !to.valid() ||
            ::linkat(from.get(), source->back().constData(), to.get(), parts.back().constData(), 0) != 0)
            return failure(QStringLiteral("cannot create the hard link %1").arg(QString::fromUtf8(name)));
        m_files.insert(parts.join('/'));
        return {};
    }

    // Folder modes last, so a read-only folder in the package does not stop its own contents.
    Result<void> applyFolderModes()
    {
        for (auto it = m_folderModes.crbegin(); it != m_folderModes.crend(); ++it) {
            QList<QByteArray> withSelf = it->first;
            withSelf.append(QByteArray("."));
            const FileDescriptor folder = openParent(withSelf, false);
            if (!folder.valid() || ::fchmod(folder.get(), static_cast<mode_t>(it->second)) != 0)
                return failure(QStringLiteral("cannot set the mode of %1").arg(QString::fromUtf8(it->first.join('/'))));
        }
        return {};
    }

    int m_root;
    GzipStream& m_stream;
    ExtractLimits m_limits;
    quint64 m_fileBytes = 0;
    qint64 m_entries = 0;
    std::optional<QByteArray> m_nextName;
    std::optional<QByteArray> m_nextLink;
    std::optional<quint64> m_nextSize;
    QSet<QByteArray> m_files;
    QList<std::pair<QList<QByteArray>, int>> m_folderModes;
};

}  // namespace

Result<void> extractPackage(const QString& archive, const QString& destination, const ExtractLimits& limits)
{
    const FileDescriptor input(::open(QFile::encodeName(archive).constData(), O_RDONLY | O_CLOEXEC));
    if (!input.valid())
        return failure(QStringLiteral("cannot open %1").arg(archive));
    const FileDescriptor root(
        ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root.valid())
        return failure(QStringLiteral("cannot open %1").arg(destination));

    // Headers, padding and the end marker add to the files' bytes; allow for them but no more.
    GzipStream stream(input.get(), limits.maxFileBytes + static_cast<quint64>(limits.maxEntries + 64) * 3 * blockSize +
                                       (64ULL << 20));
    Extractor extractor(root.get(), stream, limits);
    return extractor.run();
}

}  // namespace nimbrel::tools
