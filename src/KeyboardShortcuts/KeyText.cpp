#include "KeyboardShortcuts/KeyText.h"

#include "KeyboardShortcuts/SpecialKey.h"
#include "platform/HotKeyPlatform.h"

#include <QList>
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

}  // namespace

std::optional<QString> keyToCharacter(int carbonKeyCode, const KeyboardLayout& layout)
{
    if (specialKey(carbonKeyCode))
        return std::nullopt;
    const QString text = layout.unshiftedText(carbonKeyCode);
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

QString keyDisplayText(int carbonKeyCode, const KeyboardLayout& layout, const Strings& strings)
{
    if (const auto special = specialKey(carbonKeyCode))
        return presentableDescription(*special, strings);
    return capitalized(keyToCharacter(carbonKeyCode, layout).value_or(QString(QChar::ReplacementCharacter)));
}

QString description(const Shortcut& shortcut, const KeyboardLayout& layout, const Strings& strings)
{
    return ks_symbolicRepresentation(shortcut.modifiers()) + keyDisplayText(shortcut.carbonKeyCode, layout, strings);
}

std::optional<QString> nsMenuItemKeyEquivalent(const Shortcut& shortcut, const KeyboardLayout& layout)
{
    if (const auto special = specialKey(shortcut.carbonKeyCode))
        return menuKeyEquivalent(*special);
    return keyToCharacter(shortcut.carbonKeyCode, layout);
}

}  // namespace nimbrel::KeyboardShortcuts
