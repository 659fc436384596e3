#include "update/UpdateKey.h"

#include <QFile>

#include <unistd.h>
#include <climits>

#ifndef NIMBREL_UPDATE_PUBLIC_KEY_BASE64
#error "the update key settings come from src/update/CMakeLists.txt"
#endif

namespace nimbrel {

QByteArray updatePublicKey()
{
    // The key is built in as the base64 of its SubjectPublicKeyInfo; for Ed25519 that is a fixed
    // 12-byte header followed by the 32 key bytes.
    static const QByteArray header = QByteArray::fromHex("302a300506032b6570032100");
    const auto decoded = QByteArray::fromBase64Encoding(QByteArrayLiteral(NIMBREL_UPDATE_PUBLIC_KEY_BASE64),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != header.size() + 32 || !decoded.decoded.startsWith(header))
        return {};
    return decoded.decoded.mid(header.size());
}

bool updatePublicKeyIsTestKey()
{
    return NIMBREL_UPDATE_KEY_IS_TEST_KEY != 0;
}

QString runningExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof buffer))
        return {};
    QString path = QFile::decodeName(QByteArray(buffer, length));
    // The kernel marks an executable whose file is gone (its folder was swapped while it ran).
    const QLatin1StringView deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path;
}

}  // namespace nimbrel
