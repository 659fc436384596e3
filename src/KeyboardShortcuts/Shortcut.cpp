#include "KeyboardShortcuts/Shortcut.h"

#include "KeyboardShortcuts/KeyCodes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace nimbrel::KeyboardShortcuts {

namespace {

struct ModifierUnit {
    quint32 event;
    int stored;
};

constexpr ModifierUnit modifierUnits[] = {
    {eventControl, modControl}, {eventAlt, modAlt},     {eventShift, modShift},
    {eventSuper, modSuper}, {eventFunction, modFunction},
};

const QString keyCodeMember = QStringLiteral("carbonKeyCode");
const QString keyModifiersMember = QStringLiteral("carbonModifiers");

std::optional<int> integerMember(const QJsonObject& object, const QString& member)
{
    const QJsonValue value = object.value(member);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(number);
}

}  // namespace

int modifiersFromEventFlags(quint32 eventFlags)
{
    int stored = 0;
    for (const ModifierUnit& unit : modifierUnits)
        if (eventFlags & unit.event)
            stored |= unit.stored;
    return stored;
}

quint32 eventFlagsFromModifiers(int keyModifiers)
{
    quint32 flags = 0;
    for (const ModifierUnit& unit : modifierUnits)
        if (keyModifiers & unit.stored)
            flags |= unit.event;
    return flags;
}

Shortcut Shortcut::fromKey(Key key, quint32 eventFlags)
{
    return Shortcut(key.rawValue, modifiersFromEventFlags(eventFlags));
}

std::optional<Shortcut> Shortcut::fromEvent(const KeyEvent& event)
{
    if (event.type != KeyEvent::Type::keyDown && event.type != KeyEvent::Type::keyUp)
        return std::nullopt;
    return Shortcut(event.keyCode, modifiersFromEventFlags(event.eventFlags & ~eventFunction));
}

QString Shortcut::toJson() const
{
    return QStringLiteral("{\"carbonKeyCode\":%1,\"carbonModifiers\":%2}").arg(keyCode).arg(keyModifiers);
}

std::optional<Shortcut> Shortcut::fromJson(const QString& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto keyCode = integerMember(object, keyCodeMember);
    const auto modifiers = integerMember(object, keyModifiersMember);
    if (!keyCode || !modifiers)
        return std::nullopt;
    return Shortcut(*keyCode, *modifiers);
}

}  // namespace nimbrel::KeyboardShortcuts
