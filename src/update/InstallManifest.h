#pragma once

#include "platform/Result.h"
#include "update/Ed25519.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <optional>
#include <vector>

namespace nimbrel {

// The signature of a Nimbrel.app folder: a manifest of everything in the folder, signed with the team's
// Ed25519 key, kept inside the folder in "_signature/manifest" and "_signature/signature".
//
// The manifest is one compact JSON object (keys in Qt's sorted order, no spaces):
//   {"build":42,"entries":[…],"format":"nimbrel-bundle-manifest/1"}
// with one entry per folder, regular file and symbolic link below the folder (the "_signature" folder
// itself excluded), sorted by the UTF-8 bytes of the path:
//   {"mode":"0755","path":"bin","type":"directory"}
//   {"mode":"0755","path":"bin/nimbrel","sha256":"<64 hex digits>","type":"file"}
//   {"path":"lib/libx.so","target":"libx.so.1","type":"link"}
// The signature file holds the base64 of the 64-byte Ed25519 signature of the manifest file's exact
// bytes. A verifier accepts only the canonical form, so one folder has exactly one valid manifest.
struct ManifestEntry {
    enum class Kind { directory, file, link };

    QString path;  // relative to the folder, '/'-separated
    Kind kind = Kind::file;
    int mode = 0;       // permission bits of folders and files; never set-id or sticky bits
    QByteArray sha256;  // files: lower-case hex
    QString target;     // links: the link's text, which must stay inside the folder

    bool operator==(const ManifestEntry&) const = default;
};

struct InstallManifest {
    qint64 build = 0;  // the folder's build number, covered by the signature
    std::vector<ManifestEntry> entries;

    bool operator==(const InstallManifest&) const = default;
};

inline constexpr QLatin1StringView signatureFolderName{"_signature"};
inline constexpr QLatin1StringView manifestFileName{"manifest"};
inline constexpr QLatin1StringView signatureFileName{"signature"};

QByteArray encodeManifest(const InstallManifest& manifest);
// Accepts only what encodeManifest produces: the exact format, sorted unique contained paths, links
// that stay inside, permission bits only.
Result<InstallManifest> decodeManifest(const QByteArray& bytes);

// Describes the folder as it is on disk (build number 0). Fails on anything a manifest cannot hold:
// devices, pipes and sockets, set-id or sticky bits, links that leave the folder, names that are not UTF-8.
Result<InstallManifest> scanInstallFolder(const QString& folderPath);

// Writes a fresh "_signature" folder for the folder, signed with the PEM (PKCS #8) Ed25519 private key.
Result<void> signInstallFolder(const QString& folderPath, qint64 build, const QByteArray& privateKeyPem);

// Checks the signature with the raw 32-byte public key, then checks that the folder holds exactly what
// the manifest lists: a file or folder not in the manifest, an entry that is missing, or any difference
// of content, mode, kind or link text fails. Returns the verified manifest.
Result<InstallManifest> verifyInstallFolder(const QString& folderPath, const QByteArray& publicKey);

// The folder's build number, read only from a manifest that verifies with the key; absent otherwise.
std::optional<qint64> signedBuildNumber(const QString& folderPath, const QByteArray& publicKey);

}  // namespace nimbrel
