#include "platform/linux/PortalKeyboard.h"

#include "platform/Console.h"
#include "platform/Defaults.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace nimbrel::native {

namespace {

const QString remoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");

// Device types of the portal.
constexpr uint keyboardDevice = 1;
// Permission kept until the user withdraws it, so later runs start without the dialog.
constexpr uint persistUntilRevoked = 2;
// The first interface version with restore tokens and persist modes.
constexpr quint32 tokenVersion = 2;

// Request and session handles end in a token of ours; the portal wants one that is hard to guess.
QString newToken()
{
    return QStringLiteral("nimbrel_%1").arg(QRandomGenerator::global()->generate64());
}

// A session handle arrives as an object path; older frontends send it as a string.
QString pathOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// Why a call failed, in a few words: the bus's own texts are long and end in a full stop.
QString failure(const QDBusError& error, std::chrono::milliseconds replyTimeout)
{
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
            return QStringLiteral("The desktop offers no remote desktop portal");
        case QDBusError::NoReply:
        case QDBusError::Timeout:
            return QStringLiteral("The remote desktop portal did not answer within %1 seconds")
                .arg(QString::number(static_cast<double>(replyTimeout.count()) / 1000.0));
        default:
            QString message = error.message().trimmed();
            if (message.endsWith(u'.'))
                message.chop(1);
            return QStringLiteral("The remote desktop portal failed: %1")
                .arg(message.isEmpty() ? error.name() : message);
    }
}

}  // namespace

PortalKeyboard::PortalKeyboard(QDBusConnection bus, quint32 portalVersion, Defaults& defaults, Console& console,
                               PortalTiming timing, QObject* parent)
    : QObject(parent),
      m_bus(std::move(bus)),
      m_version(portalVersion),
      m_defaults(defaults),
      m_console(console),
      m_timing(timing),
      m_request(m_bus, portal::requestInterface, QStringLiteral("Response"), this,
                SLOT(onResponse(uint, QVariantMap, QDBusMessage))),
      m_session(m_bus, portal::sessionInterface, QStringLiteral("Closed"), this,
                SLOT(onSessionClosed(QVariantMap, QDBusMessage)))
{
    m_openingDeadline.setSingleShot(true);
    connect(&m_openingDeadline, &QTimer::timeout, this, [this] {
        giveUp(QStringLiteral("The remote desktop portal did not start a session within %1 seconds")
                   .arg(QString::number(static_cast<double>(m_timing.opening.count()) / 1000.0)));
    });
}

PortalKeyboard::~PortalKeyboard()
{
    // The portal keeps a session as long as its client is connected: end what this object opened.
    m_request.close();
    m_session.close();
}

bool PortalKeyboard::isAvailable() const
{
    return m_version > 0 && m_state != State::off;
}

void PortalKeyboard::post(const QList<SyntheticKey>& keys)
{
    if (keys.isEmpty())
        return;
    switch (m_state) {
        case State::off:
            // Said once when paste-back went off; the caller sees isAvailable() false.
            return;
        case State::running:
            m_queued.append(keys);
            sendQueued();
            return;
        case State::opening:
            m_queued.append(keys);
            return;
        case State::idle:
            m_queued.append(keys);
            open();
            return;
    }
}

void PortalKeyboard::prepare()
{
    if (m_state != State::idle || m_version < tokenVersion)
        return;
    if (!m_defaults.string(restoreTokenKey).value_or(QString()).isEmpty())
        open();
}

void PortalKeyboard::open()
{
    if (m_version == 0) {
        giveUp(QStringLiteral("The desktop offers no remote desktop portal"));
        return;
    }
    m_state = State::opening;
    m_openingDeadline.start(m_timing.opening);
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), newToken());
    request(Step::createSession, QStringLiteral("CreateSession"), {}, options);
}

void PortalKeyboard::request(Step step, const QString& method, QVariantList arguments, QVariantMap options)
{
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    // Subscribed before the call: the portal may answer before the call's own reply is read.
    watchRequest(portal::requestPath(m_bus, token));
    if (m_state != State::opening)
        return;
    m_step = step;
    QDBusMessage call = QDBusMessage::createMethodCall(portal::service, portal::path, remoteDesktopInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, static_cast<int>(m_timing.reply.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation = m_generation, expected = m_request.path()](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                // Answered already, or the opening this call belonged to is over.
                if (generation != m_generation || m_state != State::opening || m_request.path() != expected)
                    return;
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError()) {
                    giveUp(failure(reply.error(), m_timing.reply));
                    return;
                }
                // Portals before 0.9 chose the handle themselves.
                const QString handle = reply.value().path();
                if (handle != m_request.path())
                    watchRequest(handle);
            });
}

void PortalKeyboard::onResponse(uint code, const QVariantMap& results, const QDBusMessage& message)
{
    if (m_state != State::opening || message.path() != m_request.path())
        return;
    m_request.forget();
    if (code == 1) {
        giveUp(QStringLiteral("Typing keys through the remote desktop portal was not allowed"));
        return;
    }
    if (code != 0) {
        giveUp(QStringLiteral("The remote desktop portal ended the request (code %1)").arg(code));
        return;
    }
    switch (m_step) {
        case Step::createSession: {
            const QString session = pathOf(results.value(QStringLiteral("session_handle")));
            if (session.isEmpty()) {
                giveUp(QStringLiteral("The remote desktop portal made a session without a handle"));
                return;
            }
            m_session.follow(session);
            QVariantMap options;
            options.insert(QStringLiteral("types"), keyboardDevice);
            if (m_version >= tokenVersion) {
                options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
                const QString token = m_defaults.string(restoreTokenKey).value_or(QString());
                if (!token.isEmpty())
                    options.insert(QStringLiteral("restore_token"), token);
            }
            request(Step::selectDevices, QStringLiteral("SelectDevices"),
                    {QVariant::fromValue(QDBusObjectPath(session))}, options);
            return;
        }
        case Step::selectDevices:
            // No parent window: the panel never takes the focus, so there is no window of ours to name.
            request(Step::start, QStringLiteral("Start"),
                    {QVariant::fromValue(QDBusObjectPath(m_session.path())), QString()}, {});
            return;
        case Step::start:
            started(results);
            return;
    }
}

void PortalKeyboard::started(const QVariantMap& results)
{
    const bool keyboard = (results.value(QStringLiteral("devices")).toUInt() & keyboardDevice) != 0;
    if (m_version >= tokenVersion) {
        // A token is good once: the one sent is spent, so keep the new one or none. A session without the
        // keyboard is not worth restoring.
        const QString token = results.value(QStringLiteral("restore_token")).toString();
        if (keyboard && !token.isEmpty())
            m_defaults.setString(restoreTokenKey, token);
        else if (m_defaults.object(restoreTokenKey).isValid())
            m_defaults.removeObject(restoreTokenKey);
    }
    if (!keyboard) {
        giveUp(QStringLiteral("The remote desktop session was started without the keyboard"));
        return;
    }
    m_openingDeadline.stop();
    m_state = State::running;
    sendQueued();
}

void PortalKeyboard::sendQueued()
{
    const QDBusObjectPath session(m_session.path());
    for (const SyntheticKey& key : std::as_const(m_queued)) {
        QDBusMessage call = QDBusMessage::createMethodCall(portal::service, portal::path, remoteDesktopInterface,
                                                           QStringLiteral("NotifyKeyboardKeysym"));
        call << QVariant::fromValue(session) << QVariantMap() << static_cast<int>(key.keysym)
             << static_cast<uint>(key.down ? 1 : 0);
        // One connection delivers its messages in order, so the keys arrive as they were posted.
        auto* watcher =
            new QDBusPendingCallWatcher(m_bus.asyncCall(call, static_cast<int>(m_timing.reply.count())), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, generation = m_generation](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    if (finished->isError() && generation == m_generation && m_state == State::running) {
                        m_session.close();
                        sessionLost(failure(finished->error(), m_timing.reply), true);
                    }
                });
    }
    m_queued.clear();
}

void PortalKeyboard::onSessionClosed(const QVariantMap&, const QDBusMessage& message)
{
    if (message.path() != m_session.path())
        return;
    if (m_state == State::running) {
        sessionLost(QStringLiteral("The desktop closed the remote desktop session"), false);
        return;
    }
    m_session.forget();
    giveUp(QStringLiteral("The desktop closed the remote desktop session before it started"));
}

void PortalKeyboard::sessionLost(const QString& why, bool keysLost)
{
    m_session.forget();
    ++m_generation;
    m_queued.clear();
    if (m_version >= tokenVersion && !m_defaults.string(restoreTokenKey).value_or(QString()).isEmpty()) {
        m_state = State::idle;
        m_console.line(QStringLiteral("[Nimbrel] %1%2; the next paste opens the session again with the permission "
                                      "given before.")
                           .arg(why, keysLost
                                         ? QStringLiteral(", so the paste keys were not typed: the record stays on "
                                                          "the clipboard to paste with Ctrl+V")
                                         : QString()));
        return;
    }
    // Without a token a new session means asking the user again: not in this run.
    giveUp(why);
}

void PortalKeyboard::giveUp(const QString& why)
{
    m_request.close();
    m_session.close();
    m_openingDeadline.stop();
    m_queued.clear();
    ++m_generation;
    m_state = State::off;
    m_console.line(QStringLiteral("[Nimbrel] %1, so Nimbrel cannot type the paste keys; the record stays on the "
                                  "clipboard: paste it with Ctrl+V. Nimbrel does not ask again until it restarts.")
                       .arg(why));
}

void PortalKeyboard::watchRequest(const QString& path)
{
    if (m_request.follow(path))
        return;
    // Without its Response the request is of no use.
    m_request.forget();
    giveUp(QStringLiteral("The session bus cannot be watched for the remote desktop portal's answers"));
}

}  // namespace nimbrel::native
