#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace nimbrel {

// The update feed's document: the newest release the server offers.
struct Release {
    QString version;                              // shown to the user; never compared
    qint64 build = 0;                             // decides whether the release is newer than the running build
    QUrl url;                                     // where the release package is downloaded from
    qint64 length = 0;                            // the package's exact size in bytes
    QByteArray signature;                         // raw Ed25519 signature of the package (PackageSignature.h)
    std::optional<QString> minimumSystemVersion;  // accepted, not consulted

    bool operator==(const Release&) const = default;
};

// Decodes a feed document: a JSON object with "version" (string), "build" (integer; a JSON string or a
// fraction does not count), "url" (a string holding an absolute URL), "length" (a positive integer),
// "signature" (the base64 of 64 bytes) and optionally "minimumSystemVersion" (a string, or null for absent). Other keys
// are ignored; anything else fails the whole document.
Result<Release> decodeRelease(const QByteArray& json);

// A build number as text: base 10 with an optional leading "+" or "-". Anything else (empty text, a
// space, a dot, a digit outside ASCII, an overflow) counts as build 0.
qint64 parseBuildNumber(const QString& text);

}  // namespace nimbrel
