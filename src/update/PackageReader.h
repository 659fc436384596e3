#pragma once

#include "platform/Result.h"

#include <QString>

namespace nimbrel {

// Limits of what a release package may unpack to.
struct UnpackLimits {
    quint64 maxFileBytes = 1ULL << 30;  // the sum of all regular files' sizes
    qint64 maxEntries = 100'000;        // files, folders and links together
};

// Unpacks a gzip-compressed tar package (ustar, GNU or pax headers, read by libarchive) into
// `destination`, an existing folder. Nothing is ever written outside it: absolute names, ".."
// components, names reached through a link, links whose text could resolve outside, hard links to
// anything but a regular file unpacked before, devices, pipes and other special entries, duplicate
// names, anything libarchive only warns about, and more than the limits allow all fail the whole
// package. Names are C strings from the first byte to the first NUL, so the name that is checked is
// the name the kernel sees. Names deeper than 256 components or longer than 4096 bytes are refused.
// Set-id and sticky bits and write access for group and others are dropped. On failure part of the package may
// have been written; the caller removes the folder.
Result<void> unpackPackage(const QString& package, const QString& destination, const UnpackLimits& limits = {});

}  // namespace nimbrel
