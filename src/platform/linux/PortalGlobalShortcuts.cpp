#include "platform/linux/PortalGlobalShortcuts.h"

#include "KeyboardShortcuts/QtKeys.h"
#include "platform/Console.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QKeySequence>
#include <QStringList>

#include <xkbcommon/xkbcommon.h>

namespace nimbrel::native {

namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QString errorText(const QDBusMessage& reply)
{
    if (!reply.errorMessage().isEmpty())
        return reply.errorMessage();
    return reply.errorName().isEmpty() ? QStringLiteral("not connected to the session bus") : reply.errorName();
}

xkb_keysym_t keypadKeysym(int key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XKB_KEY_KP_0 + xkb_keysym_t(key - Qt::Key_0);
    switch (key) {
        case Qt::Key_Period:
            return XKB_KEY_KP_Decimal;
        case Qt::Key_Slash:
            return XKB_KEY_KP_Divide;
        case Qt::Key_Enter:
            return XKB_KEY_KP_Enter;
        case Qt::Key_Equal:
            return XKB_KEY_KP_Equal;
        case Qt::Key_Minus:
            return XKB_KEY_KP_Subtract;
        case Qt::Key_Asterisk:
            return XKB_KEY_KP_Multiply;
        case Qt::Key_Plus:
            return XKB_KEY_KP_Add;
        default:
            return XKB_KEY_NoSymbol;
    }
}

// The keysym a key types without modifiers, for the keys a stored shortcut can name.
xkb_keysym_t unshiftedKeysym(QKeyCombination combination)
{
    const int key = combination.key();
    if (combination.keyboardModifiers() & Qt::KeypadModifier)
        return keypadKeysym(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XKB_KEY_F1 + xkb_keysym_t(key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Return:
            return XKB_KEY_Return;
        case Qt::Key_Backspace:
            return XKB_KEY_BackSpace;
        case Qt::Key_Delete:
            return XKB_KEY_Delete;
        case Qt::Key_End:
            return XKB_KEY_End;
        case Qt::Key_Escape:
            return XKB_KEY_Escape;
        case Qt::Key_Insert:
            return XKB_KEY_Insert;
        case Qt::Key_Home:
            return XKB_KEY_Home;
        case Qt::Key_Tab:
            return XKB_KEY_Tab;
        case Qt::Key_PageUp:
            return XKB_KEY_Page_Up;
        case Qt::Key_PageDown:
            return XKB_KEY_Page_Down;
        case Qt::Key_Up:
            return XKB_KEY_Up;
        case Qt::Key_Down:
            return XKB_KEY_Down;
        case Qt::Key_Left:
            return XKB_KEY_Left;
        case Qt::Key_Right:
            return XKB_KEY_Right;
        case Qt::Key_NumLock:
            return XKB_KEY_Num_Lock;
        case Qt::Key_Menu:
            return XKB_KEY_Menu;
        case Qt::Key_VolumeUp:
            return XKB_KEY_XF86AudioRaiseVolume;
        case Qt::Key_VolumeDown:
            return XKB_KEY_XF86AudioLowerVolume;
        case Qt::Key_VolumeMute:
            return XKB_KEY_XF86AudioMute;
        default:
            break;
    }
    // Below Qt's special keys a key code is the (upper-case) character; the key types the lower-case one.
    if (key > 0 && key < Qt::Key_Escape)
        return xkb_utf32_to_keysym(char32_t(QChar::toLower(char32_t(key))));
    return XKB_KEY_NoSymbol;
}

// The shortcuts of a Response's results (a(sa{sv})), by id.
QMap<QString, QVariantMap> boundShortcuts(const QVariantMap& results)
{
    QMap<QString, QVariantMap> bound;
    const QVariant value = results.value(QStringLiteral("shortcuts"));
    if (!value.canConvert<QDBusArgument>())
        return bound;
    const QDBusArgument list = value.value<QDBusArgument>();
    if (list.currentSignature() != QLatin1String("a(sa{sv})"))
        return bound;
    list.beginArray();
    while (!list.atEnd()) {
        PortalShortcut shortcut;
        list >> shortcut;
        bound.insert(shortcut.id, shortcut.properties);
    }
    list.endArray();
    return bound;
}

QString responseText(uint response)
{
    switch (response) {
        case 1:
            return QStringLiteral("the user cancelled it");
        case 2:
            return QStringLiteral("the desktop ended it");
        default:
            return QStringLiteral("response %1").arg(response);
    }
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalGlobalShortcuts::PortalGlobalShortcuts(Console& console, QDBusConnection bus, int timeoutMs)
    : m_console(console),
      m_bus(std::move(bus)),
      m_timeoutMs(timeoutMs),
      m_session(m_bus, portal::sessionInterface, QStringLiteral("Closed"), this,
                SLOT(sessionClosed(QVariantMap, QDBusMessage))),
      m_request(m_bus, portal::requestInterface, QStringLiteral("Response"), this,
                SLOT(requestAnswered(uint, QVariantMap, QDBusMessage)))
{
    // Signals are matched to slots by parameter type names: the object path type must be known by its name.
    qRegisterMetaType<QDBusObjectPath>();
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_sessionTimeout.setSingleShot(true);
    connect(&m_sessionTimeout, &QTimer::timeout, this, [this] {
        m_console.line(QStringLiteral("Global shortcuts portal: no session, the portal did not answer"));
        forgetRequest();
        m_sessionIds.clear();
    });
}

PortalGlobalShortcuts::~PortalGlobalShortcuts()
{
    forgetRequest();
    closeSession();
}

QString PortalGlobalShortcuts::trigger(QKeyCombination combination)
{
    const xkb_keysym_t keysym = unshiftedKeysym(combination);
    char name[64] = {};
    if (keysym == XKB_KEY_NoSymbol || xkb_keysym_get_name(keysym, name, sizeof name) <= 0)
        return {};
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::MetaModifier)
        parts.append(QStringLiteral("LOGO"));
    if (modifiers & Qt::ControlModifier)
        parts.append(QStringLiteral("CTRL"));
    if (modifiers & Qt::AltModifier)
        parts.append(QStringLiteral("ALT"));
    if (modifiers & Qt::ShiftModifier)
        parts.append(QStringLiteral("SHIFT"));
    parts.append(QString::fromLatin1(name));
    return parts.join(u'+');
}

bool PortalGlobalShortcuts::watchRequest(const QString& path)
{
    forgetRequest();
    if (m_request.follow(path))
        return true;
    m_request.forget();
    return false;
}

void PortalGlobalShortcuts::forgetRequest()
{
    m_request.forget();
    m_pending = Pending::nothing;
    m_sessionTimeout.stop();
}

void PortalGlobalShortcuts::closeSession()
{
    if (m_session.path().isEmpty())
        return;
    // Not waited for: the next session does not depend on it, and it may run while Nimbrel quits.
    m_session.close();
    m_sessionIds.clear();
}

bool PortalGlobalShortcuts::openSession(QString& error)
{
    if (!m_listening) {
        m_listening = m_bus.connect(portal::service, portal::path, shortcutsInterface, QStringLiteral("Activated"),
                                    this, SLOT(shortcutActivated(QDBusObjectPath, QString, qulonglong, QVariantMap))) &&
                      m_bus.connect(portal::service, portal::path, shortcutsInterface, QStringLiteral("Deactivated"),
                                    this, SLOT(shortcutDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        if (!m_listening) {
            error = m_bus.isConnected() ? m_bus.lastError().message() : QStringLiteral("no session bus");
            return false;
        }
    }
    const QString token = QStringLiteral("nimbrel_request_%1").arg(++m_requests);
    // The first session of a run has the same name every run, so a desktop that keeps shortcuts by session
    // finds the user's choice again.
    const int session = ++m_sessions;
    const QString sessionToken = session == 1 ? QStringLiteral("nimbrel") : QStringLiteral("nimbrel_%1").arg(session);
    // Subscribed before asking: the answer may come before the call returns.
    if (!watchRequest(portal::requestPath(m_bus, token))) {
        error = m_bus.lastError().message();
        return false;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(portal::service, portal::path, shortcutsInterface,
                                                          QStringLiteral("CreateSession"));
    message << QVariantMap{{QStringLiteral("handle_token"), token},
                           {QStringLiteral("session_handle_token"), sessionToken}};
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        forgetRequest();
        error = errorText(reply);
        return false;
    }
    // An older portal picks its own path.
    const QString handle = qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path();
    if (handle != m_request.path() && !watchRequest(handle)) {
        error = m_bus.lastError().message();
        return false;
    }
    m_pending = Pending::session;
    m_sessionTimeout.start(m_timeoutMs);
    return true;
}

int PortalGlobalShortcuts::registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier,
                                          HotKeyRef& ref)
{
    const auto combination = KeyboardShortcuts::qtKeyCombination(keyCode, keyModifiers);
    const QString wanted = combination ? trigger(*combination) : QString();
    if (wanted.isEmpty()) {
        m_console.line(QStringLiteral("Global shortcuts portal: key %1 with modifiers 0x%2 has no shortcut name")
                           .arg(keyCode)
                           .arg(keyModifiers, 0, 16));
        return hotKeyInvalid;
    }
    const Registration registration{QStringLiteral("hotkey-") + wanted, wanted,
                                    QKeySequence(*combination).toString(QKeySequence::PortableText), identifier};

    // Bound with this session already, or about to be: nothing to ask.
    if (!m_sessionIds.contains(registration.id) && m_pending != Pending::session) {
        closeSession();
        QString error;
        if (!openSession(error)) {
            m_console.line(QStringLiteral("Global shortcuts portal: cannot register ") + registration.text +
                           QStringLiteral(": ") + error);
            return hotKeyInvalid;
        }
    }
    ref = m_nextRef++;
    m_registrations.insert(ref, registration);
    return hotKeyNoError;
}

void PortalGlobalShortcuts::requestAnswered(uint response, const QVariantMap& results, const QDBusMessage& message)
{
    if (message.path() != m_request.path())
        return;
    const Pending pending = m_pending;
    forgetRequest();
    if (pending == Pending::session)
        sessionCreated(response, results);
    else if (pending == Pending::bind)
        shortcutsBound(response, results);
}

void PortalGlobalShortcuts::sessionCreated(uint response, const QVariantMap& results)
{
    // A string by the portal's documentation, an object path from some implementations.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    const QString path = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                             ? handle.value<QDBusObjectPath>().path()
                             : handle.toString();
    if (response != 0 || path.isEmpty()) {
        m_console.line(QStringLiteral("Global shortcuts portal: no session, ") +
                       (response != 0 ? responseText(response) : QStringLiteral("the portal named none")));
        return;
    }
    m_session.follow(path);
    bind();
}

void PortalGlobalShortcuts::bind()
{
    QList<PortalShortcut> shortcuts;
    m_sessionIds.clear();
    for (const Registration& registration : std::as_const(m_registrations)) {
        if (m_sessionIds.contains(registration.id))
            continue;
        m_sessionIds.insert(registration.id);
        shortcuts.append(
            PortalShortcut{registration.id,
                           {{QStringLiteral("description"), QString(QStringLiteral("Shortcut ") + registration.text)},
                            {QStringLiteral("preferred_trigger"), registration.trigger}}});
    }
    if (shortcuts.isEmpty())
        return;
    const QString token = QStringLiteral("nimbrel_request_%1").arg(++m_requests);
    if (!watchRequest(portal::requestPath(m_bus, token))) {
        m_console.line(QStringLiteral("Global shortcuts portal: cannot bind shortcuts: ") +
                       m_bus.lastError().message());
        return;
    }
    m_pending = Pending::bind;
    QDBusMessage message = QDBusMessage::createMethodCall(portal::service, portal::path, shortcutsInterface,
                                                          QStringLiteral("BindShortcuts"));
    message << QVariant::fromValue(QDBusObjectPath(m_session.path())) << QVariant::fromValue(shortcuts) << QString()
            << QVariantMap{{QStringLiteral("handle_token"), token}};
    // The desktop may ask the user first: the answer comes as the request's Response, whenever that is.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, m_timeoutMs), this);
    const QString session = m_session.path();
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, session] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (session != m_session.path() || m_pending != Pending::bind)
            return;
        if (reply.isError()) {
            m_console.line(QStringLiteral("Global shortcuts portal: cannot bind shortcuts: ") +
                           (reply.error().message().isEmpty() ? reply.error().name() : reply.error().message()));
            forgetRequest();
            return;
        }
        if (reply.value().path() != m_request.path() && !watchRequest(reply.value().path()))
            forgetRequest();
        else
            m_pending = Pending::bind;
    });
}

void PortalGlobalShortcuts::shortcutsBound(uint response, const QVariantMap& results)
{
    QStringList texts;
    QSet<QString> reported;
    for (const Registration& registration : std::as_const(m_registrations))
        if (m_sessionIds.contains(registration.id) && !reported.contains(registration.id)) {
            reported.insert(registration.id);
            texts.append(registration.text);
        }
    if (response != 0) {
        m_console.line(QStringLiteral("Global shortcuts portal: ") + texts.join(QStringLiteral(", ")) +
                       QStringLiteral(" not bound, ") + responseText(response));
        return;
    }
    const QMap<QString, QVariantMap> bound = boundShortcuts(results);
    reported.clear();
    for (const Registration& registration : std::as_const(m_registrations)) {
        if (!m_sessionIds.contains(registration.id) || reported.contains(registration.id))
            continue;
        reported.insert(registration.id);
        const auto it = bound.constFind(registration.id);
        const QString assigned =
            it == bound.cend() ? QString() : it->value(QStringLiteral("trigger_description")).toString();
        if (it == bound.cend())
            m_console.line(QStringLiteral("Global shortcuts portal: the desktop did not bind ") + registration.text);
        else if (assigned.isEmpty())
            m_console.line(QStringLiteral("Global shortcuts portal: ") + registration.text +
                           QStringLiteral(" bound without a trigger"));
        else
            m_console.line(QStringLiteral("Global shortcuts portal: ") + registration.text +
                           QStringLiteral(" bound to ") + assigned);
    }
}

void PortalGlobalShortcuts::sessionClosed(const QVariantMap&, const QDBusMessage& message)
{
    if (message.path() != m_session.path())
        return;
    m_console.line(QStringLiteral("Global shortcuts portal: the desktop closed the session; shortcuts are off"));
    m_session.forget();
    m_sessionIds.clear();
    forgetRequest();
}

void PortalGlobalShortcuts::unregisterHotKey(HotKeyRef ref)
{
    m_registrations.remove(ref);
}

bool PortalGlobalShortcuts::installEventHandler(Handler handler)
{
    if (!m_bus.isConnected())
        return false;
    m_handler = std::move(handler);
    return true;
}

void PortalGlobalShortcuts::deliver(HotKeyEventKind kind, const QDBusObjectPath& session, const QString& id) const
{
    if (session.path() != m_session.path() || m_session.path().isEmpty() || !m_eventsEnabled || !m_handler)
        return;
    // The handler may change the registrations: it runs after the lookup.
    std::optional<HotKeyIdentifier> identifier;
    for (const Registration& registration : m_registrations)
        if (registration.id == id) {
            identifier = registration.identifier;
            break;
        }
    if (identifier)
        m_handler(kind, *identifier);
}

void PortalGlobalShortcuts::shortcutActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                              const QVariantMap&)
{
    deliver(HotKeyEventKind::pressed, session, id);
}

void PortalGlobalShortcuts::shortcutDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                                const QVariantMap&)
{
    deliver(HotKeyEventKind::released, session, id);
}

}  // namespace nimbrel::native
