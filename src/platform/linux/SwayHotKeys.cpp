#include "platform/linux/SwayHotKeys.h"

#include "KeyboardShortcuts/KeyCodes.h"
#include "platform/Console.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QSet>
#include <QtEndian>

#include <algorithm>

#include <cstring>

namespace nimbrel::native {

namespace {

// i3's IPC framing, which sway speaks: magic, payload length and message type (native byte order), payload.
constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr qsizetype headerSize = sizeof magic + 8;
constexpr quint32 runCommand = 0;
constexpr quint32 subscribe = 2;
constexpr quint32 workspaceEvent = 0x80000000u | 0;
constexpr quint32 bindingEvent = 0x80000000u | 5;
// What a binding of Nimbrel's runs: nothing, under a name its binding event is known by.
const QString commandPrefix = QStringLiteral("nop nimbrel-shortcut ");
// A reply larger than this is not sway's.
constexpr quint32 maxPayload = 16 * 1024 * 1024;

QByteArray message(quint32 type, const QByteArray& payload)
{
    QByteArray bytes(magic, sizeof magic);
    const quint32 header[] = {quint32(payload.size()), type};
    bytes.append(reinterpret_cast<const char*>(header), sizeof header);
    return bytes + payload;
}

struct Message {
    quint32 type = 0;
    QByteArray payload;
};

// Takes one whole message off the front of `buffer`; nothing while it is incomplete, and nothing with `broken`
// set when the bytes are not i3-ipc framing.
std::optional<Message> takeMessage(QByteArray& buffer, bool& broken)
{
    if (buffer.size() < headerSize)
        return std::nullopt;
    if (std::memcmp(buffer.constData(), magic, sizeof magic) != 0) {
        broken = true;
        return std::nullopt;
    }
    quint32 header[2];
    std::memcpy(header, buffer.constData() + sizeof magic, sizeof header);
    if (header[0] > maxPayload) {
        broken = true;
        return std::nullopt;
    }
    if (buffer.size() < headerSize + qsizetype(header[0]))
        return std::nullopt;
    Message taken{header[1], buffer.mid(headerSize, header[0])};
    buffer.remove(0, headerSize + header[0]);
    return taken;
}

// "Mod4+Shift+55": the modifiers by sway's names, then the X keycode of the physical key.
std::optional<QString> combinationFor(int keyCode, int keyModifiers)
{
    const auto keycode = KeyboardShortcuts::x11KeycodeFromKeyCode(keyCode);
    if (!keycode)
        return std::nullopt;
    const quint32 state = KeyboardShortcuts::x11StateFromModifiers(keyModifiers);
    QString combination;
    const std::pair<quint32, const char*> names[] = {{0x40, "Mod4"}, {0x01, "Shift"}, {0x04, "Ctrl"}, {0x08, "Mod1"}};
    for (const auto& [bit, name] : names)
        if (state & bit)
            combination += QLatin1String(name) + u'+';
    return combination + QString::number(*keycode);
}

}  // namespace

SwayHotKeys::SwayHotKeys(QString socketPath, Console& console, int replyTimeoutMs)
    : m_socketPath(std::move(socketPath)), m_console(console), m_replyTimeoutMs(replyTimeoutMs)
{
}

SwayHotKeys::~SwayHotKeys()
{
    for (const QString& combination : combinations())
        if (const auto error = run(QStringLiteral("unbindcode ") + combination))
            m_console.line(QStringLiteral("sway kept the shortcut ") + combination + QStringLiteral(": ") + *error);
}

std::optional<QString> SwayHotKeys::run(const QString& command)
{
    if (m_socketPath.isEmpty())
        return QStringLiteral("no sway IPC socket (SWAYSOCK is not set)");
    const QDeadlineTimer deadline(m_replyTimeoutMs);
    if (!m_commands || m_commands->state() != QLocalSocket::ConnectedState) {
        delete m_commands;
        m_commands = new QLocalSocket(this);
        m_commands->connectToServer(m_socketPath);
        if (!m_commands->waitForConnected(int(deadline.remainingTime())))
            return QStringLiteral("cannot reach sway at ") + m_socketPath + QStringLiteral(": ") +
                   m_commands->errorString();
    }
    m_commands->write(message(runCommand, command.toUtf8()));
    m_commands->flush();
    QByteArray buffer;
    std::optional<Message> reply;
    bool broken = false;
    while (!broken) {
        buffer += m_commands->readAll();
        reply = takeMessage(buffer, broken);
        if (reply || broken || !m_commands->waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    if (!reply) {
        // A late answer would be taken for the next command's: the next command connects afresh.
        m_commands->abort();
        return broken ? QStringLiteral("sway answered with something that is not IPC")
                      : QStringLiteral("sway did not answer within ") + QString::number(m_replyTimeoutMs) +
                            QStringLiteral(" ms");
    }
    const QJsonArray results = QJsonDocument::fromJson(reply->payload).array();
    if (results.isEmpty())
        return QStringLiteral("sway's answer cannot be read: ") + QString::fromUtf8(reply->payload.left(200));
    for (const QJsonValue& result : results)
        if (!result.toObject().value(QLatin1String("success")).toBool())
            return result.toObject().value(QLatin1String("error")).toString(QStringLiteral("failed"));
    return std::nullopt;
}

bool SwayHotKeys::bind(const QString& combination)
{
    const auto error = run(QStringLiteral("bindcode --no-warn ") + combination + u' ' + commandPrefix + combination);
    if (error)
        m_console.line(QStringLiteral("sway did not take the shortcut ") + combination + QStringLiteral(": ") + *error);
    return !error;
}

int SwayHotKeys::registerHotKey(int keyCode, int keyModifiers, HotKeyIdentifier identifier, HotKeyRef& ref)
{
    const auto combination = combinationFor(keyCode, keyModifiers);
    if (!combination) {
        m_console.line(QStringLiteral("No key for the shortcut's key code ") + QString::number(keyCode) +
                       QStringLiteral(" on sway"));
        return hotKeyInvalid;
    }
    // Watching first: the key reaches Nimbrel only as sway's binding event, and a reload right after the
    // binding is made must not go unnoticed.
    if (const auto watchError = watchEvents()) {
        m_console.line(QStringLiteral("sway's events cannot be watched, so its key bindings cannot reach Nimbrel: ") +
                       *watchError);
        return hotKeyInvalid;
    }
    if (!contains(*combination) && !bind(*combination))
        return hotKeyInvalid;
    ref = m_nextRef++;
    m_bindings.insert(ref, {*combination, identifier});
    return hotKeyNoError;
}

void SwayHotKeys::unregisterHotKey(HotKeyRef ref)
{
    const auto it = m_bindings.find(ref);
    if (it == m_bindings.end())
        return;
    const QString combination = it->combination;
    m_bindings.erase(it);
    // Another registration of the same combination keeps the binding.
    if (contains(combination))
        return;
    if (const auto error = run(QStringLiteral("unbindcode ") + combination))
        m_console.line(QStringLiteral("sway kept the shortcut ") + combination + QStringLiteral(": ") + *error);
}

bool SwayHotKeys::contains(const QString& combination) const
{
    return std::any_of(m_bindings.cbegin(), m_bindings.cend(),
                       [&](const Binding& binding) { return binding.combination == combination; });
}

QSet<QString> SwayHotKeys::combinations() const
{
    QSet<QString> all;
    for (const Binding& binding : m_bindings)
        all.insert(binding.combination);
    return all;
}

std::optional<QString> SwayHotKeys::watchEvents()
{
    if (m_socketPath.isEmpty() || (m_events && m_events->state() == QLocalSocket::ConnectedState))
        return std::nullopt;
    if (m_events) {
        m_events->disconnect(this);
        m_events->deleteLater();
    }
    m_eventBuffer.clear();
    m_events = new QLocalSocket(this);
    m_events->connectToServer(m_socketPath);
    const QDeadlineTimer deadline(m_replyTimeoutMs);
    if (!m_events->waitForConnected(int(deadline.remainingTime())))
        return m_events->errorString();
    m_events->write(message(subscribe, R"(["workspace", "binding"])"));
    m_events->flush();
    connect(m_events, &QLocalSocket::readyRead, this, &SwayHotKeys::readEvents);
    return std::nullopt;
}

void SwayHotKeys::readEvents()
{
    m_eventBuffer += m_events->readAll();
    bool broken = false;
    bool reloaded = false;
    QStringList pressed;
    while (const auto event = takeMessage(m_eventBuffer, broken)) {
        const QJsonObject body = QJsonDocument::fromJson(event->payload).object();
        if (event->type == subscribe) {
            if (!body.value(QLatin1String("success")).toBool())
                m_console.line(QStringLiteral("sway refused to report its events; Nimbrel's shortcut does not work"));
        } else if (event->type == workspaceEvent) {
            reloaded = reloaded || body.value(QLatin1String("change")).toString() == QLatin1String("reload");
        } else if (event->type == bindingEvent) {
            const QString command =
                body.value(QLatin1String("binding")).toObject().value(QLatin1String("command")).toString();
            if (command.startsWith(commandPrefix))
                pressed.append(command.mid(commandPrefix.size()));
        }
    }
    if (broken) {
        m_console.line(QStringLiteral("sway's event stream cannot be read; Nimbrel's shortcut no longer works"));
        m_events->abort();
        return;
    }
    if (reloaded) {
        for (const QString& combination : combinations())
            bind(combination);
    }
    // sway runs a binding when its key goes down and tells nothing of the release: the shortcut's press and
    // release arrive together.
    for (const QString& combination : pressed) {
        for (const Binding& binding : std::as_const(m_bindings)) {
            if (binding.combination != combination || !m_eventsEnabled || !m_handler)
                continue;
            m_handler(HotKeyEventKind::pressed, binding.identifier);
            m_handler(HotKeyEventKind::released, binding.identifier);
        }
    }
}

}  // namespace nimbrel::native
