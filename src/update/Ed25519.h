#pragma once

#include "platform/Result.h"

#include <QByteArray>

namespace nimbrel {

// Ed25519 through libcrypto, for the release signatures (the package's and the folder manifest's).

// Signs with a PEM (PKCS #8, unencrypted) private key; a key protected by a passphrase is refused.
Result<QByteArray> ed25519Sign(const QByteArray& message, const QByteArray& privateKeyPem);

// True when the 64-byte signature of `message` verifies with the raw 32-byte public key.
bool ed25519Verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey);

// The raw 32-byte key of a PEM Ed25519 public key, or of the public half of a PEM private key;
// empty when the text is not such a key.
QByteArray ed25519PublicKeyFromPem(const QByteArray& pem);

}  // namespace nimbrel
