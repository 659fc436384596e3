#include "platform/linux/KGlobalAccelHotKeys.h"

#include "KeyboardShortcuts/QtKeys.h"
#include "platform/Console.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QKeySequence>

namespace nimbrel::native {

namespace {

const QString service = QStringLiteral("org.kde.kglobalaccel");
const QString daemonPath = QStringLiteral("/kglobalaccel");
const QString daemonInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString componentInterface = QStringLiteral("org.kde.kglobalaccel.Component");
const QString componentFriendly = QStringLiteral("Nimbrel");

// setShortcut's flags: make the action active now, and take the keys given rather than the ones the daemon
// remembers from an earlier run (Nimbrel's settings hold the shortcut).
constexpr uint setPresent = 2;
constexpr uint noAutoloading = 4;

QString keyText(QKeyCombination combination)
{
    return QKeySequence(combination).toString(QKeySequence::PortableText);
}

QString errorText(const QDBusMessage& reply)
{
    if (!reply.errorMessage().isEmpty())
        return reply.errorMessage();
    return reply.errorName().isEmpty() ? QStringLiteral("not connected to the session bus") : reply.errorName();
}

}  // namespace

const QString KGlobalAccelHotKeys::componentUnique = QStringLiteral("org.nimbrel.Nimbrel");

KGlobalAccelHotKeys::KGlobalAccelHotKeys(Console& console, QDBusConnection bus, int timeoutMs)
    : m_console(console), m_bus(std::move(bus)), m_timeoutMs(timeoutMs)
{
    qDBusRegisterMetaType<QList<int>>();
}

KGlobalAccelHotKeys::~KGlobalAccelHotKeys()
{
    QList<QStringList> released;
    for (const Registration& registration : std::as_const(m_registrations))
        if (!released.contains(registration.actionId)) {
            release(registration.actionId);
            released.append(registration.actionId);
        }
}

QStringList KGlobalAccelHotKeys::actionId(QKeyCombination combination)
{
    const QString text = keyText(combination);
    return {componentUnique, QStringLiteral("hotkey ") + text, componentFriendly, QStringLiteral("Shortcut ") + text};
}

QDBusMessage KGlobalAccelHotKeys::call(const QString& method, const QVariantList& arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, daemonPath, daemonInterface, method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, m_timeoutMs);
}

std::optional<QString> KGlobalAccelHotKeys::otherOwner(int key, QString& error) const
{
    // The daemon's single-key lookup: a combination of Nimbrel's is one key, never a sequence.
    const QDBusMessage reply = call(QStringLiteral("getGlobalShortcutsByKey"), {key});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        error = errorText(reply);
        return std::nullopt;
    }
    // a(ssssssaiai): action, its display name, component, its display name, context, its display name,
    // keys, default keys.
    const QDBusArgument infos = reply.arguments().constFirst().value<QDBusArgument>();
    if (infos.currentSignature() != QLatin1String("a(ssssssaiai)")) {
        error = QStringLiteral("unexpected answer of type ") + infos.currentSignature();
        return std::nullopt;
    }
    std::optional<QString> owner;
    infos.beginArray();
    while (!infos.atEnd()) {
        QString action, actionName, component, componentName, context, contextName;
        QList<int> keys, defaultKeys;
        infos.beginStructure();
        infos >> action >> actionName >> component >> componentName >> context >> contextName >> keys >> defaultKeys;
        infos.endStructure();
        if (component != componentUnique && !owner)
            owner = (componentName.isEmpty() ? component : componentName) + QStringLiteral(" (") +
                    (actionName.isEmpty() ? action : actionName) + u')';
    }
    infos.endArray();
    return owner;
}

int KGlobalAccelHotKeys::registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier,
                                        HotKeyRef& ref)
{
    const auto combination = KeyboardShortcuts::qtKeyCombination(keyCode, keyModifiers);
    if (!combination) {
        m_console.line(QStringLiteral("KDE global shortcuts: key %1 with modifiers 0x%2 has no name KDE understands")
                           .arg(keyCode)
                           .arg(keyModifiers, 0, 16));
        return hotKeyInvalid;
    }
    const QStringList id = actionId(*combination);
    const QString& action = id.at(1);
    const QString text = keyText(*combination);

    // Another registration of the same combination already holds the action.
    for (const Registration& registration : std::as_const(m_registrations))
        if (registration.action == action) {
            ref = m_nextRef++;
            m_registrations.insert(ref, Registration{action, id, identifier});
            return hotKeyNoError;
        }

    const int key = combination->toCombined();
    QString error;
    const auto owner = otherOwner(key, error);
    if (!error.isEmpty()) {
        m_console.line(QStringLiteral("KDE global shortcuts: cannot register ") + text +
                       QStringLiteral(", kglobalaccel did not answer: ") + error);
        return hotKeyInvalid;
    }
    if (owner) {
        m_console.line(QStringLiteral("KDE global shortcuts: ") + text + QStringLiteral(" is taken by ") + *owner);
        return hotKeyTaken;
    }

    const QDBusMessage registered = call(QStringLiteral("doRegister"), {id});
    if (registered.type() != QDBusMessage::ReplyMessage) {
        m_console.line(QStringLiteral("KDE global shortcuts: cannot register ") + text + QStringLiteral(": ") +
                       errorText(registered));
        return hotKeyInvalid;
    }
    const QDBusMessage assigned =
        call(QStringLiteral("setShortcut"), {id, QVariant::fromValue(QList<int>{key}), setPresent | noAutoloading});
    if (assigned.type() != QDBusMessage::ReplyMessage || assigned.arguments().isEmpty()) {
        m_console.line(QStringLiteral("KDE global shortcuts: cannot register ") + text + QStringLiteral(": ") +
                       errorText(assigned));
        release(id);
        return hotKeyInvalid;
    }
    // The daemon leaves out a key that became another component's since the check.
    if (!qdbus_cast<QList<int>>(assigned.arguments().constFirst()).contains(key)) {
        m_console.line(QStringLiteral("KDE global shortcuts: kglobalaccel did not assign ") + text +
                       QStringLiteral(", another shortcut holds it"));
        release(id);
        return hotKeyTaken;
    }
    if (!listenToComponent(error)) {
        m_console.line(QStringLiteral("KDE global shortcuts: no events for ") + text + QStringLiteral(": ") + error);
        release(id);
        return hotKeyInvalid;
    }
    ref = m_nextRef++;
    m_registrations.insert(ref, Registration{action, id, identifier});
    return hotKeyNoError;
}

bool KGlobalAccelHotKeys::listenToComponent(QString& error)
{
    if (!m_componentPath.isEmpty())
        return true;
    // The component exists once it has an action: its object is where the key events come from.
    const QDBusMessage reply = call(QStringLiteral("getComponent"), {componentUnique});
    const QString path = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                             ? qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst()).path()
                             : QString();
    if (path.isEmpty()) {
        error = reply.type() == QDBusMessage::ErrorMessage ? errorText(reply) : QStringLiteral("no component path");
        return false;
    }
    const bool pressed = m_bus.connect(service, path, componentInterface, QStringLiteral("globalShortcutPressed"), this,
                                       SLOT(shortcutPressed(QString, QString, qlonglong)));
    const bool released = m_bus.connect(service, path, componentInterface, QStringLiteral("globalShortcutReleased"),
                                        this, SLOT(shortcutReleased(QString, QString, qlonglong)));
    if (!pressed || !released) {
        error = m_bus.lastError().message();
        if (pressed)
            m_bus.disconnect(service, path, componentInterface, QStringLiteral("globalShortcutPressed"), this,
                             SLOT(shortcutPressed(QString, QString, qlonglong)));
        if (released)
            m_bus.disconnect(service, path, componentInterface, QStringLiteral("globalShortcutReleased"), this,
                             SLOT(shortcutReleased(QString, QString, qlonglong)));
        return false;
    }
    m_componentPath = path;
    return true;
}

void KGlobalAccelHotKeys::release(const QStringList& actionId) const
{
    // Not waited for: nothing follows from the answer, and it may run while Nimbrel quits.
    QDBusMessage message =
        QDBusMessage::createMethodCall(service, daemonPath, daemonInterface, QStringLiteral("unRegister"));
    message << actionId;
    m_bus.send(message);
}

void KGlobalAccelHotKeys::unregisterHotKey(HotKeyRef ref)
{
    const auto it = m_registrations.find(ref);
    if (it == m_registrations.end())
        return;
    const Registration gone = *it;
    m_registrations.erase(it);
    for (const Registration& other : std::as_const(m_registrations))
        if (other.action == gone.action)
            return;
    release(gone.actionId);
}

bool KGlobalAccelHotKeys::installEventHandler(Handler handler)
{
    if (!m_bus.isConnected())
        return false;
    m_handler = std::move(handler);
    return true;
}

void KGlobalAccelHotKeys::deliver(HotKeyEventKind kind, const QString& component, const QString& action) const
{
    if (component != componentUnique || !m_eventsEnabled || !m_handler)
        return;
    // The handler may change the registrations: it runs after the lookup.
    std::optional<HotKeyIdentifier> identifier;
    for (const Registration& registration : m_registrations)
        if (registration.action == action) {
            identifier = registration.identifier;
            break;
        }
    if (identifier)
        m_handler(kind, *identifier);
}

void KGlobalAccelHotKeys::shortcutPressed(const QString& component, const QString& action, qlonglong)
{
    deliver(HotKeyEventKind::pressed, component, action);
}

void KGlobalAccelHotKeys::shortcutReleased(const QString& component, const QString& action, qlonglong)
{
    deliver(HotKeyEventKind::released, component, action);
}

}  // namespace nimbrel::native
