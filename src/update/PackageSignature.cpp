#include "update/PackageSignature.h"

#include "update/Ed25519.h"
#include "update/FileTree.h"

#include <QFile>

namespace nimbrel {

QByteArray packageStatement(const QByteArray& sha256, qint64 length)
{
    return "nimbrel-package/1 sha256=" + sha256.toHex() + " length=" + QByteArray::number(length);
}

Result<QByteArray> signPackage(const QString& package, const QByteArray& privateKeyPem)
{
    const auto digest = sha256OfFile(QFile::encodeName(package));
    if (!digest)
        return digest.error();
    return ed25519Sign(packageStatement(digest->sha256, digest->length), privateKeyPem);
}

Result<void> verifyPackage(const QString& package, qint64 length, const QByteArray& signature,
                           const QByteArray& publicKey)
{
    const auto digest = sha256OfFile(QFile::encodeName(package));
    if (!digest)
        return digest.error();
    if (digest->length != length)
        return Error{QStringLiteral("the package has %1 bytes, the feed announced %2").arg(digest->length).arg(length)};
    if (!ed25519Verify(packageStatement(digest->sha256, length), signature, publicKey))
        return Error{QStringLiteral("the package's signature does not verify")};
    return {};
}

}  // namespace nimbrel
