#include "panel/CardFormat.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>
#include <map>
#include <memory>

namespace nimbrel {

namespace {

int hexValue(QChar c)
{
    char16_t u = c.unicode();
    // Full-width digits and letters (U+FF10…, U+FF21…, U+FF41…) read as their ASCII forms.
    if (u >= 0xFF01 && u <= 0xFF5E)
        u = static_cast<char16_t>(u - 0xFF01 + 0x21);
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// One formatter per language, made on first use: building one loads locale data.
const icu::RelativeDateTimeFormatter* relativeFormatter(const QLocale& locale)
{
    static std::map<QString, std::unique_ptr<icu::RelativeDateTimeFormatter>> formatters;
    // The C locale has no relative-time data of its own; English is the closest.
    const QString name = locale.language() == QLocale::C ? QStringLiteral("en_US") : locale.name();
    auto found = formatters.find(name);
    if (found == formatters.end()) {
        UErrorCode status = U_ZERO_ERROR;
        auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale(name.toUtf8().constData()), nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_NONE, status);
        if (U_FAILURE(status))
            formatter.reset();
        found = formatters.emplace(name, std::move(formatter)).first;
    }
    return found->second.get();
}

struct Elapsed {
    qint64 count;
    URelativeDateTimeUnit unit;
};

// The largest calendar unit with a non-zero count between two moments (earlier ≤ later), counted in the
// user's local calendar.
Elapsed largestUnit(const QDateTime& earlier, const QDateTime& later)
{
    QDateTime cursor = earlier;
    int years = later.date().year() - cursor.date().year();
    while (years > 0 && cursor.addYears(years) > later)
        --years;
    if (years > 0)
        return {years, UDAT_REL_UNIT_YEAR};
    int months = (later.date().year() - cursor.date().year()) * 12 + later.date().month() - cursor.date().month();
    while (months > 0 && cursor.addMonths(months) > later)
        --months;
    if (months > 0)
        return {months, UDAT_REL_UNIT_MONTH};
    qint64 days = cursor.date().daysTo(later.date());
    while (days > 0 && cursor.addDays(days) > later)
        --days;
    if (days >= 7)
        return {days / 7, UDAT_REL_UNIT_WEEK};
    if (days > 0)
        return {days, UDAT_REL_UNIT_DAY};
    const qint64 seconds = cursor.secsTo(later);
    if (seconds >= 3600)
        return {seconds / 3600, UDAT_REL_UNIT_HOUR};
    if (seconds >= 60)
        return {seconds / 60, UDAT_REL_UNIT_MINUTE};
    return {seconds, UDAT_REL_UNIT_SECOND};
}

}  // namespace

std::optional<QColor> swatchColor(const std::optional<QString>& contentText)
{
    const QString text = trimmedWhitespaceAndNewlines(contentText.value_or(QString()));
    if (!text.startsWith(QLatin1Char('#')))
        return std::nullopt;
    const QStringView digits = QStringView(text).mid(1);
    if (digits.size() != 3 && digits.size() != 6 && digits.size() != 8)
        return std::nullopt;
    quint32 value = 0;
    for (const QChar c : digits) {
        const int digit = hexValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<quint32>(digit);
    }
    const auto byte = [value](int shift) { return static_cast<int>(value >> shift & 0xFF); };
    switch (digits.size()) {
        case 3: {
            const auto nibble = [value](int shift) { return static_cast<float>(value >> shift & 0xF) / 15.0f; };
            return QColor::fromRgbF(nibble(8), nibble(4), nibble(0));
        }
        case 6:
            return QColor(byte(16), byte(8), byte(0));
        default:
            return QColor(byte(24), byte(16), byte(8), byte(0));
    }
}

QString ageText(const QDateTime& createdAt, const QDateTime& now, const QLocale& locale)
{
    const QDateTime then = createdAt.toLocalTime();
    const QDateTime current = now.toLocalTime();
    const bool future = then > current;
    const Elapsed elapsed = future ? largestUnit(current, then) : largestUnit(then, current);

    const icu::RelativeDateTimeFormatter* formatter = relativeFormatter(locale);
    if (!formatter)
        return QString();
    // A negative offset reads as past; -0.0 makes "0 sec ago" of a record made this very second.
    const double offset = future ? static_cast<double>(elapsed.count) : -static_cast<double>(elapsed.count);
    icu::UnicodeString formatted;
    UErrorCode status = U_ZERO_ERROR;
    formatter->formatNumeric(offset, elapsed.unit, formatted, status);
    if (U_FAILURE(status))
        return QString();
    QString result(reinterpret_cast<const QChar*>(formatted.getBuffer()), formatted.length());
    result.remove(QLatin1Char('.'));
    return result;
}

QString sizeText(qint64 byteSize, const QLocale& locale)
{
    if (byteSize < 1)
        return QStringLiteral("0 B");
    struct Unit {
        double bytes;
        int decimals;
        const char* symbol;
    };
    // Larger units show more decimals, as file sizes are usually shown.
    static constexpr Unit units[] = {{1e3, 0, "KB"}, {1e6, 1, "MB"}, {1e9, 2, "GB"}};
    std::size_t index = byteSize >= 1'000'000'000 ? 2 : (byteSize >= 1'000'000 ? 1 : 0);
    double value = 0;
    while (true) {
        const Unit& unit = units[index];
        const double scale = std::pow(10.0, unit.decimals);
        value = std::round(static_cast<double>(byteSize) / unit.bytes * scale) / scale;
        // 999 999 bytes round to 1 000 KB: that is 1 MB.
        if (value < 1000 || index + 1 == std::size(units))
            break;
        ++index;
    }
    value = std::max(value, 1.0);
    QString number = locale.toString(value, 'f', units[index].decimals);
    if (units[index].decimals > 0) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(locale.decimalPoint()))
            number.chop(locale.decimalPoint().size());
    }
    return number + QLatin1Char(' ') + QLatin1String(units[index].symbol);
}

QString rowTitle(const ClipItem& item, const QLocale& locale, const Localizer& localized)
{
    if (item.kind() == ClipKind::image)
        return localized(QStringLiteral("图片")) + QStringLiteral(" · ") + sizeText(item.byteSize, locale);
    const QString text = item.displayText().value_or(QString());
    return text.isEmpty() ? localized(QStringLiteral("（空）")) : text;
}

}  // namespace nimbrel
