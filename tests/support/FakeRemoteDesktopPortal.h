#pragma once

#include "platform/KeyboardSynthesizer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QMap>
#include <QStringList>
#include <QVariantMap>

namespace nimbrel::test {

// The desktop portal's remote desktop interface as a test scripts it: it takes the portal's name on its own
// connection, records every call, and answers the request methods by emitting Response on the request
// path the caller announced with handle_token, the way the portal frontend does.
class FakeRemoteDesktopPortal final : public QDBusVirtualObject {
public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
    // A method a test calls through the client's connection: it arrives after everything the client
    // sent before it.
    static inline const QString barrierInterface = QStringLiteral("org.nimbrel.Test");

    // How a request method (CreateSession, SelectDevices, Start) is answered.
    enum class Answer {
        granted,    // reply, then Response 0 with results
        cancelled,  // reply, then Response 1 (the user declined)
        ended,      // reply, then Response 2 (ended some other way)
        silent,     // reply, no Response: a dialog nobody answers
        noReply,    // neither: a portal that hangs
        error,      // an error reply
    };

    struct Call {
        QString interface;
        QString member;
        QString path;
        QVariantList arguments;

        // The call's a{sv} argument (the options), empty when it has none.
        QVariantMap options() const
        {
            for (const QVariant& argument : arguments) {
                if (argument.metaType() == QMetaType::fromType<QDBusArgument>())
                    return qdbus_cast<QVariantMap>(argument);
                if (argument.typeId() == QMetaType::QVariantMap)
                    return argument.toMap();
            }
            return {};
        }
    };

    explicit FakeRemoteDesktopPortal(QDBusConnection connection) : m_connection(std::move(connection))
    {
        m_connection.registerVirtualObject(path, this, QDBusConnection::SubPath);
        m_connection.registerService(service);
    }

    ~FakeRemoteDesktopPortal() override
    {
        m_connection.unregisterService(service);
        m_connection.unregisterObject(path, QDBusConnection::UnregisterTree);
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        calls.append({message.interface(), message.member(), message.path(), message.arguments()});
        const QString member = message.member();
        if (message.interface() == barrierInterface || member == QStringLiteral("Close")) {
            connection.send(message.createReply());
            return true;
        }
        if (message.interface() != remoteDesktop)
            return false;
        if (member == QStringLiteral("NotifyKeyboardKeysym")) {
            const QVariantList arguments = message.arguments();
            keys.append({static_cast<quint32>(arguments.value(2).toInt()), arguments.value(3).toUInt() == 1});
            connection.send(failKeys ? message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                                                QStringLiteral("Session is not started"))
                                     : message.createReply());
            return true;
        }
        if (member != QStringLiteral("CreateSession") && member != QStringLiteral("SelectDevices") &&
            member != QStringLiteral("Start"))
            return false;

        const Answer answer = answers.value(member, Answer::granted);
        if (answer == Answer::noReply)
            return true;
        if (answer == Answer::error) {
            connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                                     QStringLiteral("Not allowed")));
            return true;
        }
        const Call& call = calls.constLast();
        const QString request = objectPath(message.service(), QStringLiteral("request"),
                                           call.options().value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        if (answer == Answer::silent)
            return true;

        QVariantMap results;
        if (answer == Answer::granted && member == QStringLiteral("CreateSession")) {
            sessionPath = objectPath(message.service(), QStringLiteral("session"),
                                     call.options().value(QStringLiteral("session_handle_token")).toString());
            results.insert(QStringLiteral("session_handle"), sessionHandleAsString
                                                                 ? QVariant(sessionPath)
                                                                 : QVariant::fromValue(QDBusObjectPath(sessionPath)));
        }
        if (answer == Answer::granted && member == QStringLiteral("Start")) {
            results.insert(QStringLiteral("devices"), devices);
            if (!restoreTokens.isEmpty())
                results.insert(QStringLiteral("restore_token"), restoreTokens.takeFirst());
        }
        const uint code = answer == Answer::granted ? 0 : answer == Answer::cancelled ? 1 : 2;
        QDBusMessage response = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                           QStringLiteral("Response"));
        response << code << results;
        connection.send(response);
        return true;
    }

    // Ends the last session from the desktop's side.
    void closeSession()
    {
        QDBusMessage closed = QDBusMessage::createSignal(sessionPath, QStringLiteral("org.freedesktop.portal.Session"),
                                                         QStringLiteral("Closed"));
        closed << QVariantMap();
        m_connection.send(closed);
    }

    // The calls of one member, in order.
    QList<Call> callsOf(const QString& member) const
    {
        QList<Call> found;
        for (const Call& call : calls)
            if (call.member == member)
                found.append(call);
        return found;
    }

    // The members called on the remote desktop interface and the Close calls, in order.
    QStringList members() const
    {
        QStringList names;
        for (const Call& call : calls)
            if (call.interface != barrierInterface)
                names.append(call.member);
        return names;
    }

    // Script.
    QMap<QString, Answer> answers;
    uint devices = 1;
    // Handed out one per granted Start; none when empty.
    QStringList restoreTokens;
    bool sessionHandleAsString = false;
    bool failKeys = false;

    // Record.
    QList<Call> calls;
    QList<SyntheticKey> keys;
    QString sessionPath;

private:
    // The portal's object paths: the caller's unique name without ':' and with '_' for '.', then the token.
    static QString objectPath(QString sender, const QString& kind, const QString& token)
    {
        sender.remove(0, 1).replace(u'.', u'_');
        return QStringLiteral("%1/%2/%3/%4").arg(path, kind, sender, token);
    }

    QDBusConnection m_connection;
};

}  // namespace nimbrel::test
