#include "update/Release.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace nimbrel {

namespace {

// The texts a decoding failure is described with in the log.
const QString malformed = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");

// A JSON number that is exactly a 64-bit integer (5, 5.0 and 5e0 are; 5.5 and 2^63 are not).
std::optional<qint64> exactInteger(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const QVariant stored = value.toVariant();
    if (stored.typeId() == QMetaType::LongLong)
        return stored.toLongLong();
    const double number = value.toDouble();
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(number) || std::trunc(number) != number || number < -limit || number >= limit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

}  // namespace

Result<Release> decodeRelease(const QByteArray& json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return Error{malformed};
    const QJsonObject object = document.object();

    // A required key that is absent or null is missing; one of another type is malformed.
    const auto required = [&object](const char* key) -> std::optional<QJsonValue> {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        return value;
    };

    Release release;
    const auto version = required("version");
    const auto build = required("build");
    const auto url = required("url");
    const auto length = required("length");
    const auto signature = required("signature");
    // Without the package's signature nothing could be checked before unpacking: such a feed is refused.
    if (!version || !build || !url || !length || !signature)
        return Error{missing};
    if (!version->isString() || !url->isString() || !signature->isString())
        return Error{malformed};
    release.version = version->toString();

    const std::optional<qint64> buildNumber = exactInteger(*build);
    if (!buildNumber)
        return Error{malformed};
    release.build = *buildNumber;

    const std::optional<qint64> lengthValue = exactInteger(*length);
    if (!lengthValue || *lengthValue <= 0)
        return Error{malformed};
    release.length = *lengthValue;

    const auto signatureBytes =
        QByteArray::fromBase64Encoding(signature->toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!signatureBytes || signatureBytes.decoded.size() != 64)
        return Error{malformed};
    release.signature = signatureBytes.decoded;

    release.url = QUrl(url->toString(), QUrl::StrictMode);
    if (!release.url.isValid() || release.url.isRelative())
        return Error{malformed};

    const QJsonValue minimum = object.value(QLatin1String("minimumSystemVersion"));
    if (minimum.isString())
        release.minimumSystemVersion = minimum.toString();
    else if (!minimum.isUndefined() && !minimum.isNull())
        return Error{malformed};

    return release;
}

qint64 parseBuildNumber(const QString& text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return 0;
    // Accumulated towards the sign's side so that the most negative value still fits.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c - u'0';
        if (negative) {
            if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
                return 0;
            value = value * 10 - digit;
        } else {
            if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
                return 0;
            value = value * 10 + digit;
        }
    }
    return value;
}

}  // namespace nimbrel
