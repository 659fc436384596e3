#include "update/PackageSignature.h"

#include "update/Ed25519.h"

#include <QCryptographicHash>
#include <QFile>

namespace nimbrel {

namespace {

struct Digest {
    QByteArray sha256;
    qint64 length = 0;
};

Result<Digest> digestOf(const QString& package)
{
    QFile file(package);
    if (!file.open(QIODevice::ReadOnly))
        return Error{QStringLiteral("cannot read the package %1").arg(package)};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    Digest digest;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return Error{QStringLiteral("cannot read the package %1").arg(package)};
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        digest.length += n;
    }
    digest.sha256 = hash.result();
    return digest;
}

}  // namespace

QByteArray packageStatement(const QByteArray& sha256, qint64 length)
{
    return "nimbrel-package/1 sha256=" + sha256.toHex() + " length=" + QByteArray::number(length);
}

Result<QByteArray> signPackage(const QString& package, const QByteArray& privateKeyPem)
{
    const auto digest = digestOf(package);
    if (!digest)
        return digest.error();
    return ed25519Sign(packageStatement(digest->sha256, digest->length), privateKeyPem);
}

Result<void> verifyPackage(const QString& package, qint64 length, const QByteArray& signature,
                           const QByteArray& publicKey)
{
    const auto digest = digestOf(package);
    if (!digest)
        return digest.error();
    if (digest->length != length)
        return Error{QStringLiteral("the package has %1 bytes, the feed announced %2").arg(digest->length).arg(length)};
    if (!ed25519Verify(packageStatement(digest->sha256, length), signature, publicKey))
        return Error{QStringLiteral("the package's signature does not verify")};
    return {};
}

}  // namespace nimbrel
