#pragma once

#include "platform/Result.h"
#include "update/Ed25519.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <optional>
#include <vector>

namespace nimbrel {

// The signature of a Nimbrel.app bundle: a manifest of everything in the bundle, signed with the team's
// Ed25519 key, kept inside the bundle in "_signature/manifest" and "_signature/signature".
//
// The manifest is one compact JSON object (keys in Qt's sorted order, no spaces):
//   {"build":42,"entries":[…],"format":"nimbrel-bundle-manifest/1"}
// with one entry per folder, regular file and symbolic link below the bundle (the "_signature" folder
// itself excluded), sorted by the UTF-8 bytes of the path:
//   {"mode":"0755","path":"bin","type":"directory"}
//   {"mode":"0755","path":"bin/nimbrel","sha256":"<64 hex digits>","type":"file"}
//   {"path":"lib/libx.so","target":"libx.so.1","type":"link"}
// The signature file holds the base64 of the 64-byte Ed25519 signature of the manifest file's exact
// bytes. A verifier accepts only the canonical form, so one bundle has exactly one valid manifest.
struct ManifestEntry {
    enum class Kind { directory, file, link };

    QString path;  // relative to the bundle, '/'-separated
    Kind kind = Kind::file;
    int mode = 0;       // permission bits of folders and files; never set-id or sticky bits
    QByteArray sha256;  // files: lower-case hex
    QString target;     // links: the link's text, which must stay inside the bundle

    bool operator==(const ManifestEntry&) const = default;
};

struct BundleManifest {
    qint64 build = 0;  // the bundle's build number, covered by the signature
    std::vector<ManifestEntry> entries;

    bool operator==(const BundleManifest&) const = default;
};

inline constexpr QLatin1StringView signatureFolderName{"_signature"};
inline constexpr QLatin1StringView manifestFileName{"manifest"};
inline constexpr QLatin1StringView signatureFileName{"signature"};

QByteArray encodeManifest(const BundleManifest& manifest);
// Accepts only what encodeManifest produces: the exact format, sorted unique contained paths, links
// that stay inside, permission bits only.
Result<BundleManifest> decodeManifest(const QByteArray& bytes);

// Describes the bundle as it is on disk (build number 0). Fails on anything a manifest cannot hold:
// devices, pipes and sockets, set-id or sticky bits, links that leave the bundle, names that are not UTF-8.
Result<BundleManifest> scanBundle(const QString& bundlePath);

// Writes a fresh "_signature" folder for the bundle, signed with the PEM (PKCS #8) Ed25519 private key.
Result<void> signBundle(const QString& bundlePath, qint64 build, const QByteArray& privateKeyPem);

// Checks the signature with the raw 32-byte public key, then checks that the bundle holds exactly what
// the manifest lists: a file or folder not in the manifest, an entry that is missing, or any difference
// of content, mode, kind or link text fails. Returns the verified manifest.
Result<BundleManifest> verifyBundle(const QString& bundlePath, const QByteArray& publicKey);

// The bundle's build number, read only from a manifest that verifies with the key; absent otherwise.
std::optional<qint64> signedBuildNumber(const QString& bundlePath, const QByteArray& publicKey);

}  // namespace nimbrel
