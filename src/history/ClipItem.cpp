#include "history/ClipItem.h"

#include <QStringView>
#include <QTextBoundaryFinder>

namespace nimbrel {

QString rawValue(ClipKind kind)
{
    switch (kind) {
        case ClipKind::text:
            return QStringLiteral("text");
        case ClipKind::image:
            return QStringLiteral("image");
        case ClipKind::link:
            return QStringLiteral("link");
        case ClipKind::color:
            return QStringLiteral("color");
    }
    return QStringLiteral("text");
}

std::optional<ClipKind> clipKindFromRaw(const QString& raw)
{
    for (const ClipKind kind : allClipKinds) {
        if (raw == rawValue(kind))
            return kind;
    }
    return std::nullopt;
}

ClipKind ClipItem::kind() const
{
    return clipKindFromRaw(kindRaw).value_or(ClipKind::text);
}

std::optional<QString> ClipItem::displayText() const
{
    if (kind() == ClipKind::image)
        return std::nullopt;
    return trimmedWhitespaceAndNewlines(contentText.value_or(QString()));
}

ClipItem ClipItem::make(ClipKind kind, std::optional<QString> contentText, std::optional<QByteArray> contentImage,
                        std::optional<QByteArray> thumbnailData, std::optional<QString> sourceAppId,
                        std::optional<QString> sourceName, const QDateTime& createdAt,
                        QList<std::pair<QString, QByteArray>> formats)
{
    ClipItem item;
    item.id = QUuid::createUuid();
    item.kindRaw = rawValue(kind);
    item.byteSize = nimbrel::byteSize(kind, contentText, contentImage);
    item.contentText = std::move(contentText);
    item.contentImage = std::move(contentImage);
    item.thumbnailData = std::move(thumbnailData);
    item.sourceAppId = std::move(sourceAppId);
    item.sourceName = std::move(sourceName);
    item.createdAt = createdAt;
    for (const auto& [type, bytes] : formats)
        item.byteSize += bytes.size();
    item.formats = std::move(formats);
    return item;
}

namespace {

// QChar::isSpace is the Unicode White_Space property: the space separators, U+2028, U+2029, tab and
// U+000A–U+000D, U+0085. None of them lies outside the BMP, so code units are enough.
bool isWhitespaceOrNewline(QChar c)
{
    return c.isSpace();
}

bool isHexDigit(char32_t c)
{
    return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F') ||
           (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF26) || (c >= 0xFF41 && c <= 0xFF46);
}

// A user-perceived character is a hex digit only when it is one code point: a digit with a combining
// mark or a variation selector is a different character.
bool isHexDigitCluster(QStringView cluster)
{
    if (cluster.size() != 1)
        return false;  // every hex digit is a single BMP code unit
    return isHexDigit(cluster.front().unicode());
}

}  // namespace

QString trimmedWhitespaceAndNewlines(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhitespaceOrNewline(text.at(begin)))
        ++begin;
    while (end > begin && isWhitespaceOrNewline(text.at(end - 1)))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

bool isHexColor(const QString& text)
{
    // "#" and every digit are one code unit each, so a longer text cannot be a colour; this spares the
    // boundary analysis of large captured texts.
    if (text.size() > 9 || !text.startsWith(QLatin1Char('#')))
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype next = finder.toNextBoundary();
    // The first character must be "#" alone: "#" carrying a combining mark or forming a keycap is not it.
    if (next != 1)
        return false;
    int digits = 0;
    qsizetype start = next;
    while ((next = finder.toNextBoundary()) != -1) {
        if (++digits > 8 || !isHexDigitCluster(QStringView(text).mid(start, next - start)))
            return false;
        start = next;
    }
    return digits == 3 || digits == 6 || digits == 8;
}

ClipKind classify(const QString& text)
{
    const QString trimmed = trimmedWhitespaceAndNewlines(text);
    // Only the prefix matters, so only the prefix is lower-cased.
    const QString prefix = trimmed.left(8).toLower();
    if (prefix.startsWith(QLatin1String("http://")) || prefix.startsWith(QLatin1String("https://")))
        return ClipKind::link;
    if (isHexColor(trimmed))
        return ClipKind::color;
    return ClipKind::text;
}

qint64 byteSize(ClipKind kind, const std::optional<QString>& contentText, const std::optional<QByteArray>& contentImage)
{
    if (kind == ClipKind::image)
        return contentImage ? contentImage->size() : 0;
    return contentText ? contentText->toUtf8().size() : 0;
}

}  // namespace nimbrel
