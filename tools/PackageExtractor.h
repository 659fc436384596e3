#pragma once

#include "platform/Result.h"

#include <QString>

namespace nimbrel::tools {

// Limits of what a release package may unpack to.
struct ExtractLimits {
    quint64 maxFileBytes = 1ULL << 30;  // the sum of all regular files' sizes
    qint64 maxEntries = 100'000;        // files, folders and links together
};

// Unpacks a gzip-compressed tar archive into `destination`, an existing folder. Nothing is ever written
// outside it: absolute names, ".." components, paths that pass through a link, links whose text could
// resolve outside, hard links to anything but a regular file unpacked before, devices, pipes and other
// special entries, duplicate names, and more than the limits allow all fail the whole package, as do a
// damaged or truncated stream. Set-id and sticky bits are dropped; ownership is the caller's. On failure
// part of the package may have been written; the caller removes it.
Result<void> extractPackage(const QString& archive, const QString& destination, const ExtractLimits& limits = {});

}  // namespace nimbrel::tools
