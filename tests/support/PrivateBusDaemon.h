#pragma once

#include "support/TestEnvironment.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace nimbrel::test {

// A D-Bus daemon of the test's own, so no test reaches the user's session bus. Its configuration lists no
// service folders: a call to a name nobody owns fails at once instead of starting a real service.
class PrivateBusDaemon {
public:
    PrivateBusDaemon()
    {
        const QString folder = freshDirectory();
        const QString config = folder + QStringLiteral("/bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                  "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                  "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                  "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                                  "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n")
                       .arg(folder)
                       .toUtf8());
        file.close();
        m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        // The daemon prints its address once it listens.
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10'000)) {
        }
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }

    ~PrivateBusDaemon()
    {
        for (const QString& name : std::as_const(m_connections))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    PrivateBusDaemon(const PrivateBusDaemon&) = delete;
    PrivateBusDaemon& operator=(const PrivateBusDaemon&) = delete;

    // Empty when the daemon did not start.
    QString address() const { return m_address; }

    // A new client connection, closed with the daemon; `name` must be unique in the process.
    QDBusConnection connect(const QString& name)
    {
        m_connections.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

}  // namespace nimbrel::test
