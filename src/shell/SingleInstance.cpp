#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>

namespace nimbrel {

SingleInstance::SingleInstance(const QString& runtimeDirectory, const QString& dataDirectory)
{
    const QByteArray key =
        QCryptographicHash::hash(QDir::cleanPath(dataDirectory).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    QDir().mkpath(runtimeDirectory);
    m_base = runtimeDirectory + QStringLiteral("/nimbrel-") + QString::fromLatin1(key);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryLock()
{
    m_lock = std::make_unique<QLockFile>(m_base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);  // only a lock whose process is gone is stale, never a slow one
    return m_lock->tryLock(0);
}

}  // namespace nimbrel
