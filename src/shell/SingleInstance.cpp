#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QElapsedTimer>
#include <QLockFile>
#include <QThread>
#include <QTimer>

namespace nimbrel {

namespace {
constexpr qint64 maxRequestLength = 64;
// A client that says nothing in this time is dropped, so idle connections cannot pile up.
constexpr int requestTimeoutMs = 2000;
}

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

bool SingleInstance::listen()
{
    const QString name = m_base + QStringLiteral(".socket");
    // We hold the lock, so a socket file left here belongs to a process that is gone.
    QLocalServer::removeServer(name);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(requestTimeoutMs, socket, [socket] { socket->abort(); });
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > maxRequestLength)
                        socket->abort();
                    return;
                }
                const QString request = QString::fromUtf8(socket->readLine(maxRequestLength)).trimmed();
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
                Q_EMIT requestReceived(request);
            });
        }
    });
    return m_server->listen(name);
}

bool SingleInstance::send(const QString& request, int timeoutMs) const
{
    // The running instance listens only once it has started up; until then connecting fails at once.
    QLocalSocket socket;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        socket.connectToServer(m_base + QStringLiteral(".socket"));
        if (socket.waitForConnected(timeoutMs))
            break;
        if (waited.hasExpired(timeoutMs))
            return false;
        QThread::msleep(50);
    }
    socket.write(request.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    return socket.readLine().trimmed() == "ok";
}

}  // namespace nimbrel
