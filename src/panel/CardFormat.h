#pragma once

#include "history/ClipItem.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>

namespace nimbrel {

// The texts and colours a card derives from its record. Pure functions of their arguments.

// The swatch colour of a colour record: the trimmed text must be "#" followed by exactly 3 (RGB), 6
// (RRGGBB) or 8 (RRGGBBAA) hexadecimal digits. Full-width digits count as their ASCII forms, as they do
// when a text is classified as a colour. None when the text is not such a code: the swatch is then grey.
std::optional<QColor> swatchColor(const std::optional<QString>& contentText);

// How long ago `createdAt` was, relative to `now`, in the short style of `locale`'s language ("2 min ago",
// "2分钟前"), with every full stop removed. The unit is the largest calendar unit (year, month, week, day,
// hour, minute, second) whose count is not zero; a moment not later than `now` always reads as past.
QString ageText(const QDateTime& createdAt, const QDateTime& now, const QLocale& locale);

// "0 B" below one byte; otherwise decimal kilobytes, megabytes or gigabytes as files are counted
// ("1 KB", "1.5 MB", "1.23 GB"), never less than 1 KB for a record that holds anything.
QString sizeText(qint64 byteSize, const QLocale& locale);

using Localizer = std::function<QString(const QString& key)>;

// The title of a row card: "<image label> · <size>" for images; otherwise the display text, or the
// label for an empty text.
QString rowTitle(const ClipItem& item, const QLocale& locale, const Localizer& localized);

}  // namespace nimbrel
