#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

namespace nimbrel {

namespace {
constexpr qint64 maxRequestLength = 128;
// A client that says nothing in this time is dropped, so idle connections cannot pile up.
constexpr int requestTimeoutMs = 2000;
}  // namespace

void InstanceReply::send(const QString& line) const
{
    QLocalSocket* socket = m_socket.data();
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return;
    socket->write(line.toUtf8() + '\n');
    socket->flush();
    socket->disconnectFromServer();
}

SingleInstance::SingleInstance(const QString& runtimeDirectory, const QString& dataDirectory)
{
    const QByteArray key =
        QCryptographicHash::hash(QDir::cleanPath(dataDirectory).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    QDir().mkpath(runtimeDirectory);
    m_base = runtimeDirectory + QStringLiteral("/nimbrel-") + QString::fromLatin1(key);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryLock(int timeoutMs)
{
    if (!m_lock) {
        m_lock = std::make_unique<QLockFile>(m_base + QStringLiteral(".lock"));
        m_lock->setStaleLockTime(0);  // only a lock whose process is gone is stale, never a slow one
    }
    return m_lock->tryLock(timeoutMs);
}

void SingleInstance::unlock()
{
    if (m_lock)
        m_lock->unlock();
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
            auto* silence = new QTimer(socket);
            silence->setSingleShot(true);
            connect(silence, &QTimer::timeout, socket, [socket] { socket->abort(); });
            silence->start(requestTimeoutMs);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, silence] {
                if (!silence->isActive())
                    return;  // one request per connection; its answer may still be on its way
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > maxRequestLength)
                        socket->abort();
                    return;
                }
                const QString request = QString::fromUtf8(socket->readLine(maxRequestLength)).trimmed();
                // The asker waits as long as the work takes, up to its own limit.
                silence->stop();
                Q_EMIT requestReceived(request, InstanceReply(socket));
            });
        }
    });
    return m_server->listen(name);
}

std::optional<QString> SingleInstance::ask(const QString& request, int connectTimeoutMs, int answerTimeoutMs) const
{
    // The running instance listens only once it has started up; until then connecting fails at once.
    QLocalSocket socket;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        socket.connectToServer(m_base + QStringLiteral(".socket"));
        if (socket.waitForConnected(connectTimeoutMs))
            break;
        if (waited.hasExpired(connectTimeoutMs))
            return std::nullopt;
        QThread::msleep(50);
    }
    socket.write(request.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(connectTimeoutMs))
        return std::nullopt;
    QElapsedTimer answering;
    answering.start();
    while (!socket.canReadLine()) {
        const qint64 left = answerTimeoutMs - answering.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left)))
            return std::nullopt;
    }
    return QString::fromUtf8(socket.readLine()).trimmed();
}

bool SingleInstance::send(const QString& request, int timeoutMs) const
{
    return ask(request, timeoutMs, timeoutMs) == QLatin1String("ok");
}

}  // namespace nimbrel
