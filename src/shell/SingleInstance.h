#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLockFile;
class QLocalServer;

namespace nimbrel {

// One Nimbrel per user and data folder: the first process holds a lock in the runtime folder for as
// long as it runs (a lock left by a crashed process is taken over) and listens on a local socket
// beside it; a later start hands its request ("toggle", "settings") to it there and exits.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `dataDirectory` names the store the instance guards, so separate homes (tests) do not collide.
    SingleInstance(const QString& runtimeDirectory, const QString& dataDirectory);
    ~SingleInstance() override;

    // True when this process is now the only instance.
    bool tryLock();
    // The running instance starts taking requests.
    bool listen();
    // Hands a request to the running instance; false when it cannot be reached in time.
    bool send(const QString& request, int timeoutMs = 3000) const;

    QString basePath() const { return m_base; }

Q_SIGNALS:
    void requestReceived(const QString& request);

private:
    QString m_base;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

}  // namespace nimbrel
