#include "KeyboardShortcuts/Shortcut.h"

#include "KeyboardShortcuts/CarbonKeyMap.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace nimbrel::KeyboardShortcuts {

namespace {

struct ModifierUnit {
    quint32 ns;
    int carbon;
};

constexpr ModifierUnit modifierUnits[] = {
    {nsControl, carbonControl}, {nsOption, carbonOption},     {nsShift, carbonShift},
    {nsCommand, carbonCommand}, {nsFunction, carbonFunction},
};

const QString carbonKeyCodeMember = QStringLiteral("carbonKeyCode");
const QString carbonModifiersMember = QStringLiteral("carbonModifiers");

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

int carbonModifiersFromNS(quint32 nsModifierFlags)
{
    int carbon = 0;
    for (const ModifierUnit& unit : modifierUnits)
        if (nsModifierFlags & unit.ns)
            carbon |= unit.carbon;
    return carbon;
}

quint32 nsModifiersFromCarbon(int carbonModifiers)
{
    quint32 ns = 0;
    for (const ModifierUnit& unit : modifierUnits)
        if (carbonModifiers & unit.carbon)
            ns |= unit.ns;
    return ns;
}

Shortcut Shortcut::fromKey(Key key, quint32 nsModifierFlags)
{
    return Shortcut(key.rawValue, carbonModifiersFromNS(nsModifierFlags));
}

std::optional<Shortcut> Shortcut::fromEvent(const KeyEvent& event)
{
    if (event.type != KeyEvent::Type::keyDown && event.type != KeyEvent::Type::keyUp)
        return std::nullopt;
    return Shortcut(event.carbonKeyCode, carbonModifiersFromNS(event.nsModifierFlags & ~nsFunction));
}

QString Shortcut::toJson() const
{
    return QStringLiteral("{\"carbonKeyCode\":%1,\"carbonModifiers\":%2}").arg(carbonKeyCode).arg(carbonModifiers);
}

std::optional<Shortcut> Shortcut::fromJson(const QString& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto keyCode = integerMember(object, carbonKeyCodeMember);
    const auto modifiers = integerMember(object, carbonModifiersMember);
    if (!keyCode || !modifiers)
        return std::nullopt;
    return Shortcut(*keyCode, *modifiers);
}

}  // namespace nimbrel::KeyboardShortcuts
