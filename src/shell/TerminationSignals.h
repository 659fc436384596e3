#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace nimbrel {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread (self-pipe), so the process can
// close its store cleanly instead of dying mid-write.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void drain();

    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace nimbrel
