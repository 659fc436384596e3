#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>

namespace nimbrel {

// The detached signature that the feed carries for a release package. Ed25519 has no streaming form
// in libcrypto, so what is signed is a short statement binding the package's SHA-256 to its length:
//   "nimbrel-package/1 sha256=<64 lower-case hex digits> length=<decimal bytes>"
// A package is checked against it before a single byte of it is unpacked.
QByteArray packageStatement(const QByteArray& sha256, qint64 length);

// The raw 64-byte signature of the package file, made with a PEM Ed25519 private key.
Result<QByteArray> signPackage(const QString& package, const QByteArray& privateKeyPem);

// Succeeds when the file is exactly `length` bytes long and the signature of its statement verifies
// with the raw 32-byte public key.
Result<void> verifyPackage(const QString& package, qint64 length, const QByteArray& signature,
                           const QByteArray& publicKey);

}  // namespace nimbrel
