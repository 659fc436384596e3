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

// A dbus-daemon of the test's own. Its configuration names no service files, so nothing is started on
// demand, and nothing of the user's session bus is reached.
class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        if (!m_dir.isValid())
            return;
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        // No <servicedir>: nothing is started on demand.
        const QByteArray text =
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:dir=" +
            m_dir.path().toUtf8() +
            "</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n";
        file.write(text);
        file.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
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
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(5000)) {
                m_daemon.kill();
                m_daemon.waitForFinished(5000);
            }
        }
    }

    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    QString address() const { return m_address; }

    // A new connection of its own to this bus.
    QDBusConnection connect()
    {
        const QString name = QStringLiteral("private-bus-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_names.append(name);
        return QDBusConnection::connectToBus(m_address, name);
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
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    QThread* thread() { return &m_thread; }

private:
    QThread m_thread;
};

}  // namespace nimbrel::test
