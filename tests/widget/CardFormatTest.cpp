#include "panel/CardDelegate.h"
#include "panel/CardFormat.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace nimbrel;
using namespace Qt::StringLiterals;

TEST(CardFormat, SwatchColourFromTheColourCode)
{
    // Three digits are each ÷ 15 of full intensity; full-width digits are read as the classifier reads them.
    // clang-format off
    const std::pair<const char*, std::optional<QColor>> cases[] = {
        {"#1e90ff", QColor(30, 144, 255)}, {"#1E90FF", QColor(30, 144, 255)}, {" \t#1e90ff \n", QColor(30, 144, 255)},
        {"#abc", QColor(170, 187, 204)}, {"#ａｂｃ", QColor(170, 187, 204)}, {"#11223380", QColor(17, 34, 51, 128)},
        {"#000", QColor(0, 0, 0)}, {"#ffffff00", QColor(255, 255, 255, 0)}, {"#12345", {}}, {"#1234", {}},
        {"#1234567", {}}, {"#1e90ff80ff", {}}, {"1e90ff", {}}, {"#ggg", {}}, {"#+ab", {}}, {"#-ab", {}}, {"# fff", {}},
        {"#0x12", {}}, {"", {}}};
    // clang-format on
    for (const auto& [text, colour] : cases)
        EXPECT_EQ(swatchColor(QString::fromUtf8(text)), colour) << text;
    EXPECT_EQ(swatchColor(std::nullopt), std::nullopt);
}

TEST(CardFormat, SizeAndAgeTextsCountLikeFilesInTheLanguageWithoutFullStops)
{
    // clang-format off
    const std::tuple<qint64, const char*, const char*> sizes[] = {
        {0, "en_US", "0 B"}, {-1, "en_US", "0 B"}, {1, "en_US", "1 KB"}, {1499, "en_US", "1 KB"},
        {123'456, "en_US", "123 KB"}, {999'499, "en_US", "999 KB"}, {999'999, "en_US", "1 MB"},
        {1'500'000, "en_US", "1.5 MB"}, {12'345'678, "en_US", "12.3 MB"}, {1'000'000'000, "en_US", "1 GB"},
        {1'234'567'890, "en_US", "1.23 GB"}, {1'500'000, "de_DE", "1,5 MB"}};
    // Seconds ago (negative: in the future).
    const std::tuple<qint64, const char*, const char*> ages[] = {
        {0, "en_US", "0 sec ago"}, {59, "en_US", "59 sec ago"}, {119, "en_US", "1 min ago"},
        {5 * 3600 + 59 * 60, "en_US", "5 hr ago"}, {2 * 86400, "en_US", "2 days ago"}, {-120, "en_US", "in 2 min"},
        {13 * 86400, "en_US", "1 wk ago"}, {40 * 86400, "en_US", "1 mo ago"}, {400 * 86400, "en_US", "1 yr ago"},
        {3 * 86400, "zh_CN", "3天前"}, {60, "ja_JP", "1 分前"}, {60, "de_DE", "vor 1 Min"}};
    // clang-format on
    for (const auto& [bytes, locale, expected] : sizes)
        EXPECT_EQ(sizeText(bytes, QLocale(QLatin1String(locale))), QLatin1String(expected)) << bytes << " " << locale;
    const QDateTime now(QDate(2026, 3, 15), QTime(12, 0), Qt::LocalTime);
    for (const auto& [secondsAgo, locale, expected] : ages) {
        const QString text = ageText(now.addSecs(-secondsAgo).toUTC(), now.toUTC(), QLocale(QLatin1String(locale)));
        EXPECT_EQ(text, QString::fromUtf8(expected)) << secondsAgo << " " << locale;
    }
}

TEST(CardFormat, RowTitleByKind)
{
    const auto english = [](const QString& key) {
        return key == u"图片"_s ? u"Image"_s : key == u"（空）"_s ? u"(Empty)"_s : key;
    };
    // An image record with stray text is still titled as an image.
    // clang-format off
    const std::tuple<ClipKind, std::optional<QString>, qint64, QString> cases[] = {
        {ClipKind::image, {}, 0, u"Image · 0 B"_s}, {ClipKind::image, u"caption"_s, 1'500'000, u"Image · 1.5 MB"_s},
        {ClipKind::text, u" \n\t "_s, 4, u"(Empty)"_s}, {ClipKind::text, {}, 0, u"(Empty)"_s},
        {ClipKind::text, u"  hello\n"_s, 8, u"hello"_s}};
    // clang-format on
    for (const auto& [kind, text, bytes, expected] : cases) {
        ClipItem item = ClipItem::make(kind, text, kind == ClipKind::image ? std::optional(QByteArray()) : std::nullopt,
                                       {}, {}, {}, QDateTime::currentDateTimeUtc());
        item.byteSize = bytes;
        EXPECT_EQ(rowTitle(item, QLocale(u"en_US"_s), english), expected);
    }
}

namespace {

QFont cardFont()
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(12);
    return font;
}

// The lines as one readable string, " | " between them, right-to-left ones marked "<".
std::string texts(const QList<CardLine>& lines)
{
    QStringList result;
    for (const CardLine& line : lines)
        result.append((line.direction == Qt::RightToLeft ? u"<"_s : QString()) + line.text);
    return result.join(u" | "_s).toStdString();
}

}  // namespace

// Line breaks are kept and each paragraph takes the direction of its own text; the last line a card shows
// holds its own paragraph only, and what follows is announced by the ellipsis, never glued onto it.
TEST(CardText, LinesAreLimitedCutWithAnEllipsisAndKeepTheirDirection)
{
    // clang-format off
    const std::tuple<const char*, int, const char*> cases[] = {
        {"short", 6, "short"}, {"one\r\ntwo", 2, "one | two"}, {"1\n2\n3", 2, "1 | 2…"},
        {"1\n2\n3\n4\n5\n6\n7\n8\n9", 6, "1 | 2 | 3 | 4 | 5 | 6…"}, {"title\r\nbody\rmore", 2, "title | body…"},
        {"a\nb c d\ne f", 2, "a | b c d…"}, {"one\n\nthree", 2, "one | …"}, {"only line\nnext", 1, "only line…"},
        {"", 6, ""}, {"שלום עולם", 6, "<שלום עולם"}, {"مرحبا", 6, "<مرحبا"}, {"42 שלום עולם", 6, "<42 שלום עולם"},
        {"שלום עולם\nhello", 6, "<שלום עולם | hello"}, {"hello\nשלום עולם", 6, "hello | <שלום עולם"},
        {"12:30", 6, "12:30"}};
    // clang-format on
    for (const auto& [text, maxLines, expected] : cases)
        EXPECT_EQ(texts(wrappedLines(QString::fromUtf8(text), cardFont(), 200, maxLines)), expected) << text;

    // Long paragraphs wrap into as many lines as allowed, the last one filled before its ellipsis; far more
    // text than any card shows is cut before it is laid out.
    const QString words = u"word "_s.repeated(400), hebrew = u"שלום עולם"_s;
    for (const auto& [text, maxLines] :
         {std::pair(words, 2), std::pair(words, 6), std::pair(u"x"_s.repeated(2'000'000), 6),
          std::pair(QString(hebrew + u' ').repeated(40), 3)}) {
        const QList<CardLine> lines = wrappedLines(text, cardFont(), 200, maxLines);
        ASSERT_EQ(lines.size(), maxLines);
        EXPECT_TRUE(lines.last().text.endsWith(QChar(0x2026)));
        EXPECT_GT(QFontMetricsF(cardFont()).horizontalAdvance(lines.last().text),
                  200 - QFontMetricsF(cardFont()).horizontalAdvance(u"word "_s));
        for (const CardLine& line : lines)
            EXPECT_EQ(line.direction, text.startsWith(hebrew) ? Qt::RightToLeft : Qt::LeftToRight);
    }
}

// A token without spaces (an address, a hash) wider than the card wraps at the card's width, each line
// filled, after the last word boundary that fits before it; nothing is lost at the breaks.
TEST(CardText, LongTokensWrapAtTheCardWidth)
{
    const QFontMetricsF metrics(cardFont());
    const QString hash = u"3f786850e387550fdab836ed7e6dc881de23001b3f786850e387550fdab836ed7e6dc881de23001b"_s;
    // The text, the width, and how many lines may end early, at a word boundary before the token. URLs break
    // at their slashes where those fit, else anywhere.
    // clang-format off
    const std::tuple<QString, qreal, int> cases[] = {
        {u"https://example.org/a/very/long/path/that/does/not/fit/anywhere?query=1&key=abcdefghijklmnop"_s, 216, 50},
        {hash, 216, 0}, {hash, 250, 0}, {hash, 100, 0}, {u"commit "_s + hash, 216, 1}, {u"שלום "_s + hash, 216, 1},
        {u"see commit "_s + hash, 216, 1}, {u"x"_s.repeated(300), 216, 0}};
    // clang-format on
    for (const auto& [text, width, shortLines] : cases) {
        SCOPED_TRACE(text.left(20).toStdString() + " " + std::to_string(width));
        const QList<CardLine> lines = wrappedLines(text, cardFont(), width, 50);
        ASSERT_GT(lines.size(), 1);
        QString joined;
        qsizetype end = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString& line = lines[i].text;
            EXPECT_LE(metrics.horizontalAdvance(line), width) << line.toStdString();
            EXPECT_GT(line.size(), 1);
            joined += line;
            end = text.indexOf(line, end) + line.size();
            // Filled: the next character would not have fitted.
            if (i >= shortLines && i + 1 < lines.size()) {
                EXPECT_GT(metrics.horizontalAdvance(line + text.at(end)), width) << i << " " << line.toStdString();
            }
        }
        EXPECT_EQ(joined.remove(u' '), QString(text).remove(u' '));
    }
}
