#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <functional>

namespace nimbrel::test {

// Runs the event loop until the condition holds or the time is up; the condition's last value.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::yieldCurrentThread();
    }
    return true;
}

// A dbus-daemon of the test's own. Its configuration names no service folder, so nothing is started on
// demand, and nothing of the user's session bus is reached.
class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly))
            return;
        config.write("<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                     "</policy></busconfig>\n");
        config.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        // The address is the first line the daemon prints, once it listens.
        QByteArray output;
        const QDeadlineTimer deadline(10000);
        while (!output.contains('\n') && !deadline.hasExpired() && m_daemon.state() != QProcess::NotRunning) {
            m_daemon.waitForReadyRead(int(deadline.remainingTime()));
            output += m_daemon.readAllStandardOutput();
        }
        if (output.contains('\n'))
            m_address = QString::fromUtf8(output.left(output.indexOf('\n'))).trimmed();
    }
    ~PrivateSessionBus()
    {
        for (const QString& name : std::as_const(m_names))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    QString address() const { return m_address; }

    // A new connection of its own to this bus.
    QDBusConnection connect()
    {
        m_names.append(QStringLiteral("private-bus-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
        return QDBusConnection::connectToBus(m_address, m_names.last());
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

// A thread with an event loop for the fake services: a blocking call from the test's thread is then still
// answered.
class ServiceThread {
public:
    ServiceThread() { m_thread.start(); }
    ~ServiceThread()
    {
        m_thread.quit();
        m_thread.wait();
    }
    QThread* thread() { return &m_thread; }

private:
    QThread m_thread;
};

}  // namespace nimbrel::test
