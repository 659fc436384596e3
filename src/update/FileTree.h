#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace nimbrel {

// File-tree helpers shared by the apply-update mode, the package reader and the folder signature.
// None of them follows a symbolic link: a link is handled as the link itself.

// Removes a file, a link or a whole folder. Folders that the owner made read-only are made writable
// first, so a folder unpacked with 0555 folders can still be removed. True when nothing is left.
bool removeTree(const QString& path);

struct FileDigest {
    QByteArray sha256;  // raw, 32 bytes
    qint64 length = 0;
};

// Reads a regular file (never through a link) to its end in 64 KiB steps, handing each to `consume`.
// `accept` sees the file's size first and `consume` each step; either may stop the reading by returning
// false, which fails it ("cannot read"), as does a file that is no regular file.
Result<void> readRegularFile(const QByteArray& path, const std::function<bool(qint64 size)>& accept,
                             const std::function<bool(QByteArrayView)>& consume);

// The SHA-256 of a regular file (never through a link) and how many bytes it holds, read in 64 KiB steps.
Result<FileDigest> sha256OfFile(const QByteArray& path);

// Copies a file, a link (as a link) or a whole folder to `destination`, which must not exist yet,
// keeping permission bits and modification times. False on any failure; what was copied stays.
bool copyTree(const QString& source, const QString& destination);

// True when `path` is a usable relative path inside a tree: not empty, not absolute, no ".." and no
// empty component; "." components are allowed and mean nothing.
bool isContainedRelativePath(const QString& path);

// True when a symbolic link at `linkPath` (relative to the tree's root) with the text `target` can only
// resolve inside the tree: the target is relative, its ".." components all come first and climb no higher
// than the link's own folder depth. A ".." after a named component is refused, because that component
// may itself be a link and take the climb above the root.
bool linkStaysInside(const QString& linkPath, const QString& target);

// The names in a folder (without "." and ".."), in the order the file system gives them; none when the
// folder cannot be listed completely.
std::optional<QList<QByteArray>> listFolder(const QByteArray& folder);

}  // namespace nimbrel
