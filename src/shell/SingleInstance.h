#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QLockFile;
class QLocalServer;

namespace nimbrel {

// The answer to one request, sent once whenever the running instance has it; answering again, or after
// the asker has gone, does nothing.
class InstanceReply {
public:
    InstanceReply() = default;
    explicit InstanceReply(QLocalSocket* socket) : m_socket(socket) {}
    void send(const QString& line) const;

private:
    QPointer<QLocalSocket> m_socket;
};

// One Nimbrel per user and data folder: the first process holds a lock in the runtime folder for as
// long as it runs (a lock left by a crashed process is taken over) and listens on a local socket
// beside it; a later start hands its request ("toggle", "settings", "pin ID", …) to it there, waits for
// the one-line answer, and exits.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // How long the running instance may take to answer a request that changes the history.
    static constexpr int answerTimeoutMs = 120'000;

    // `dataDirectory` names the store the instance guards, so separate homes (tests) do not collide.
    SingleInstance(const QString& runtimeDirectory, const QString& dataDirectory);
    ~SingleInstance() override;

    // How long a start waits for a lock that a command line working on the store holds.
    static constexpr int lockWaitMs = 10'000;

    // True when this process is now the only instance; waits up to `timeoutMs` for the lock.
    bool tryLock(int timeoutMs = 0);
    // Gives the lock up (a command line that worked on the store itself is done with it).
    void unlock();
    // The running instance starts taking requests.
    bool listen();
    // Hands a request to the running instance and returns its answer; none when it cannot be reached
    // within `connectTimeoutMs` or does not answer within `answerTimeoutMs`.
    std::optional<QString> ask(const QString& request, int connectTimeoutMs = 3000,
                               int answerTimeoutMs = SingleInstance::answerTimeoutMs) const;
    // Hands a request over; true when the instance took it ("ok").
    bool send(const QString& request, int timeoutMs = 3000) const;

    QString basePath() const { return m_base; }

Q_SIGNALS:
    // Every request is answered through `reply`, at once or later.
    void requestReceived(const QString& request, const nimbrel::InstanceReply& reply);

private:
    QString m_base;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

}  // namespace nimbrel
