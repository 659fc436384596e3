#include "KeyboardShortcuts/KeyText.h"

#include "KeyboardShortcuts/SpecialKey.h"
#include "platform/HotKeyPlatform.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace nimbrel::KeyboardShortcuts {

namespace {

int graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

struct ModifierName {
    quint32 flag;
    const char* name;
};

constexpr ModifierName gtkModifiers[] = {
    {eventShift, "Shift"}, {eventControl, "Ctrl"}, {eventAlt, "Alt"}, {eventSuper, "Super"}, {eventFunction, "Fn"},
};
constexpr ModifierName kdeModifiers[] = {
    {eventSuper, "Meta"}, {eventControl, "Ctrl"}, {eventAlt, "Alt"}, {eventShift, "Shift"}, {eventFunction, "Fn"},
};

}  // namespace

ShortcutNotation notationForDesktop(const QString& currentDesktop)
{
    const QStringList desktops = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return desktops.contains(QStringLiteral("KDE"), Qt::CaseInsensitive) ? ShortcutNotation::kde
                                                                         : ShortcutNotation::gtk;
}

std::optional<QString> keyToCharacter(int keyCode, const KeyboardLayout& layout)
{
    if (specialKey(keyCode))
        return std::nullopt;
    const QString text = layout.unshiftedText(keyCode);
    if (text.isEmpty() || graphemeCount(text) != 1)
        return std::nullopt;
    return text;
}

QString capitalized(const QString& text)
{
    QString result;
    result.reserve(text.size());
    bool wordStart = true;
    for (const char32_t codePoint : text.toUcs4()) {
        const bool space = QChar::isSpace(codePoint);
        const char32_t shown = wordStart && !space ? QChar::toTitleCase(codePoint) : codePoint;
        result += QString::fromUcs4(&shown, 1);
        wordStart = space;
    }
    return result;
}

QString keyDisplayText(int keyCode, const KeyboardLayout& layout)
{
    if (const auto special = specialKey(keyCode))
        return presentableDescription(*special);
    return capitalized(keyToCharacter(keyCode, layout).value_or(QString(QChar::ReplacementCharacter)));
}

QString description(const Shortcut& shortcut, const KeyboardLayout& layout, ShortcutNotation notation)
{
    const bool kde = notation == ShortcutNotation::kde;
    const quint32 modifiers = shortcut.modifiers();
    QStringList parts;
    for (const ModifierName& modifier : kde ? kdeModifiers : gtkModifiers) {
        if (!(modifiers & modifier.flag))
            continue;
        // Qt names its modifiers through its own catalogue, as QKeySequence's native text does.
        parts.append(kde ? QCoreApplication::translate("QShortcut", modifier.name)
                         : QString::fromLatin1(modifier.name));
    }
    parts.append(keyDisplayText(shortcut.keyCode, layout));
    return parts.join(QLatin1Char('+'));
}

std::optional<QString> menuItemKeyText(const Shortcut& shortcut, const KeyboardLayout& layout)
{
    if (const auto special = specialKey(shortcut.keyCode))
        return menuKeyEquivalent(*special);
    return keyToCharacter(shortcut.keyCode, layout);
}

}  // namespace nimbrel::KeyboardShortcuts
