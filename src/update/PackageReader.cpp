#include "update/PackageReader.h"

#include "update/FileTree.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <memory>
#include <optional>
#include <utility>

namespace nimbrel {

namespace {

Error failure(const QString& text)
{
    return Error{text};
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

// Deeper or longer than any real folder; such a tree could not even be removed again with path names.
constexpr qsizetype maxComponents = 256;
constexpr qsizetype maxNameBytes = 4096;

// The entry's name as components; absent when it is absolute, climbs with "..", or is too deep or long.
std::optional<QList<QByteArray>> components(const char* name)
{
    if (!name || name[0] == '/')
        return std::nullopt;
    const QByteArray text(name);
    if (text.size() > maxNameBytes || text.count('/') >= maxComponents)
        return std::nullopt;
    QList<QByteArray> parts;
    for (const QByteArray& part : text.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return std::nullopt;
        parts.append(part);
    }
    return parts;
}

QString shown(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

class Unpacker {
public:
    Unpacker(archive* package, int root, const UnpackLimits& limits)
        : m_package(package), m_root(root), m_limits(limits)
    {
    }

    Result<void> run()
    {
        for (;;) {
            archive_entry* entry = nullptr;
            const int status = archive_read_next_header(m_package, &entry);
            if (status == ARCHIVE_EOF)
                return applyFolderModes();
            // A warning means libarchive skipped or guessed at something (a malformed extended header,
            // say); a signed package never needs that.
            if (status != ARCHIVE_OK)
                return failure(QStringLiteral("the package is damaged: %1").arg(libraryMessage()));
            if (++m_entries > m_limits.maxEntries)
                return failure(QStringLiteral("the package holds too many entries"));
            if (auto handled = handle(entry); !handled)
                return handled;
        }
    }

private:
    QString libraryMessage() const
    {
        const char* text = archive_error_string(m_package);
        return text ? QString::fromUtf8(text) : QStringLiteral("unreadable data");
    }

    Result<void> handle(archive_entry* entry)
    {
        const char* name = archive_entry_pathname(entry);
        const auto parts = components(name);
        if (!parts)
            return failure(QStringLiteral("the package names a place outside its folder, or too deep a place: %1")
                               .arg(shown(name)));
        // Never writable by group or others, whatever the package says.
        const int mode = static_cast<int>(archive_entry_perm(entry) & 0755);

        if (const char* target = archive_entry_hardlink(entry))
            return makeHardLink(*parts, name, target);
        switch (archive_entry_filetype(entry)) {
            case AE_IFREG:
                return writeFile(entry, *parts, name, mode);
            case AE_IFDIR:
                return makeFolder(*parts, mode);
            case AE_IFLNK:
                return makeLink(*parts, name, archive_entry_symlink(entry));
            default:
                return failure(
                    QStringLiteral("the package holds a device, pipe or other special entry: %1").arg(shown(name)));
        }
    }

    // The folder that holds the entry, opened one component at a time without following any link;
    // missing folders are created when `create` is set.
    Descriptor openParent(const QList<QByteArray>& parts, bool create) const
    {
        Descriptor current(::fcntl(m_root, F_DUPFD_CLOEXEC, 0));
        for (qsizetype i = 0; i + 1 < parts.size() && current.valid(); ++i) {
            const char* name = parts.at(i).constData();
            int next = ::openat(current.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT && create && ::mkdirat(current.get(), name, 0700) == 0)
                next = ::openat(current.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            current = Descriptor(next);
        }
        return current;
    }

    Result<void> writeFile(archive_entry* entry, const QList<QByteArray>& parts, const char* name, int mode)
    {
        if (parts.isEmpty())
            return failure(QStringLiteral("the package holds a file without a name"));
        const la_int64_t size = archive_entry_size(entry);
        // Compared without adding, so no size can wrap the total around.
        if (size < 0 || static_cast<quint64>(size) > m_limits.maxFileBytes - m_fileBytes)
            return failure(QStringLiteral("the package unpacks to more than %1 bytes").arg(m_limits.maxFileBytes));
        m_fileBytes += static_cast<quint64>(size);

        const Descriptor parent = openParent(parts, true);
        if (!parent.valid())
            return failure(QStringLiteral("cannot unpack %1 (a link or a file is in its way)").arg(shown(name)));
        const Descriptor file(::openat(parent.get(), parts.back().constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.valid())
            return failure(QStringLiteral("cannot create %1 (is the name a duplicate?)").arg(shown(name)));

        for (;;) {
            const void* block = nullptr;
            size_t length = 0;
            la_int64_t offset = 0;
            const int status = archive_read_data_block(m_package, &block, &length, &offset);
            if (status == ARCHIVE_EOF)
                break;
            if (status != ARCHIVE_OK)
                return failure(QStringLiteral("the package is damaged: %1").arg(libraryMessage()));
            if (offset < 0 || static_cast<quint64>(offset) > static_cast<quint64>(size) ||
                length > static_cast<quint64>(size) - static_cast<quint64>(offset))
                return failure(QStringLiteral("the package is damaged: %1 holds more than its size").arg(shown(name)));
            const char* bytes = static_cast<const char*>(block);
            for (size_t written = 0; written < length;) {
                const ssize_t n = ::pwrite(file.get(), bytes + written, length - written,
                                           static_cast<off_t>(offset) + static_cast<off_t>(written));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return failure(QStringLiteral("cannot write %1").arg(shown(name)));
                written += static_cast<size_t>(n);
            }
        }
        // Sparse entries end in a hole that no block covers.
        if (::ftruncate(file.get(), static_cast<off_t>(size)) != 0 ||
            ::fchmod(file.get(), static_cast<mode_t>(mode)) != 0)
            return failure(QStringLiteral("cannot finish %1").arg(shown(name)));
        m_files.insert(parts.join('/'));
        return {};
    }

    Result<void> makeFolder(const QList<QByteArray>& parts, int mode)
    {
        if (parts.isEmpty())
            return {};  // "./": the destination itself
        const QString shownName = QString::fromUtf8(parts.join('/'));
        const Descriptor parent = openParent(parts, true);
        if (!parent.valid())
            return failure(QStringLiteral("cannot unpack %1 (a link or a file is in its way)").arg(shownName));
        if (::mkdirat(parent.get(), parts.back().constData(), 0700) != 0) {
            struct stat info {};
            if (errno != EEXIST || ::fstatat(parent.get(), parts.back().constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISDIR(info.st_mode))
                return failure(QStringLiteral("cannot create the folder %1").arg(shownName));
        }
        m_folderModes.append({parts, mode});
        return {};
    }

    Result<void> makeLink(const QList<QByteArray>& parts, const char* name, const char* target)
    {
        if (parts.isEmpty() || !target ||
            !linkStaysInside(QFile::decodeName(parts.join('/')), QFile::decodeName(QByteArray(target))))
            return failure(QStringLiteral("the package holds a link that leaves its folder: %1 -> %2")
                               .arg(shown(name), shown(target)));
        const Descriptor parent = openParent(parts, true);
        if (!parent.valid() || ::symlinkat(target, parent.get(), parts.back().constData()) != 0)
            return failure(QStringLiteral("cannot create the link %1").arg(shown(name)));
        return {};
    }

    Result<void> makeHardLink(const QList<QByteArray>& parts, const char* name, const char* target)
    {
        const auto source = components(target);
        if (parts.isEmpty() || !source || source->isEmpty() || !m_files.contains(source->join('/')))
            return failure(QStringLiteral("the package holds a hard link to something outside or unknown: %1 -> %2")
                               .arg(shown(name), shown(target)));
        const Descriptor from = openParent(*source, false);
        const Descriptor to = openParent(parts, true);
        if (!from.valid() || !to.valid() ||
            ::linkat(from.get(), source->back().constData(), to.get(), parts.back().constData(), 0) != 0)
            return failure(QStringLiteral("cannot create the hard link %1").arg(shown(name)));
        m_files.insert(parts.join('/'));
        return {};
    }

    // Folder modes last, in reverse order of appearance, so a read-only folder does not stop its own contents.
    Result<void> applyFolderModes()
    {
        for (auto it = m_folderModes.crbegin(); it != m_folderModes.crend(); ++it) {
            QList<QByteArray> withSelf = it->first;
            withSelf.append(QByteArray("."));
            const Descriptor folder = openParent(withSelf, false);
            if (!folder.valid() || ::fchmod(folder.get(), static_cast<mode_t>(it->second)) != 0)
                return failure(QStringLiteral("cannot set the mode of %1").arg(QString::fromUtf8(it->first.join('/'))));
        }
        return {};
    }

    archive* m_package;
    int m_root;
    UnpackLimits m_limits;
    quint64 m_fileBytes = 0;
    qint64 m_entries = 0;
    QSet<QByteArray> m_files;
    QList<std::pair<QList<QByteArray>, int>> m_folderModes;
};

}  // namespace

Result<void> unpackPackage(const QString& package, const QString& destination, const UnpackLimits& limits)
{
    const Descriptor input(::open(QFile::encodeName(package).constData(), O_RDONLY | O_CLOEXEC));
    if (!input.valid())
        return failure(QStringLiteral("cannot open %1").arg(package));
    const Descriptor root(
        ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root.valid())
        return failure(QStringLiteral("cannot open %1").arg(destination));

    const std::unique_ptr<archive, ArchiveFree> reader(archive_read_new());
    if (!reader || archive_read_support_filter_gzip(reader.get()) != ARCHIVE_OK ||
        archive_read_support_format_tar(reader.get()) != ARCHIVE_OK ||
        archive_read_open_fd(reader.get(), input.get(), 1 << 16) != ARCHIVE_OK)
        return failure(QStringLiteral("%1 is not a gzip-compressed tar package").arg(package));
    // Only the gzip filter was enabled, so an uncompressed archive is refused here.
    if (archive_filter_code(reader.get(), 0) != ARCHIVE_FILTER_GZIP)
        return failure(QStringLiteral("%1 is not a gzip-compressed tar package").arg(package));
    return Unpacker(reader.get(), root.get(), limits).run();
}

}  // namespace nimbrel
