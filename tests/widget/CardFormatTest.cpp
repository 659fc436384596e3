#include "panel/CardDelegate.h"
#include "panel/CardFormat.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace nimbrel;

TEST(CardFormat, SwatchColourFromTheColourCode)
{
    const std::pair<const char*, QColor> valid[] = {
        {"#1e90ff", QColor(30, 144, 255)},
        {"#1E90FF", QColor(30, 144, 255)},
        {" \t#1e90ff \n", QColor(30, 144, 255)},
        // Each of three digits ÷ 15: 10/15, 11/15, 12/15 of full intensity.
        {"#abc", QColor(170, 187, 204)},
        {"#11223380", QColor(17, 34, 51, 128)},
        {"#000", QColor(0, 0, 0)},
        {"#ffffff00", QColor(255, 255, 255, 0)},
        // Full-width digits are read as the classifier reads them.
        {"#ａｂｃ", QColor(170, 187, 204)},
    };
    for (const auto& [text, colour] : valid)
        EXPECT_EQ(swatchColor(QString::fromUtf8(text)), colour) << text;
    for (const char* grey :
         {"#12345", "#1234", "#1234567", "#1e90ff80ff", "1e90ff", "#ggg", "#+ab", "#-ab", "# fff", "#0x12", ""})
        EXPECT_EQ(swatchColor(QString::fromUtf8(grey)), std::nullopt) << grey;
    EXPECT_EQ(swatchColor(std::nullopt), std::nullopt);
}

TEST(CardFormat, SizeTextCountsLikeFiles)
{
    const std::tuple<qint64, const char*, const char*> cases[] = {{0, "en_US", "0 B"},
                                                                  {-1, "en_US", "0 B"},
                                                                  {1, "en_US", "1 KB"},
                                                                  {1499, "en_US", "1 KB"},
                                                                  {123'456, "en_US", "123 KB"},
                                                                  {999'499, "en_US", "999 KB"},
                                                                  {999'999, "en_US", "1 MB"},
                                                                  {1'500'000, "en_US", "1.5 MB"},
                                                                  {12'345'678, "en_US", "12.3 MB"},
                                                                  {1'000'000'000, "en_US", "1 GB"},
                                                                  {1'234'567'890, "en_US", "1.23 GB"},
                                                                  {1'500'000, "de_DE", "1,5 MB"}};
    for (const auto& [bytes, locale, expected] : cases)
        EXPECT_EQ(sizeText(bytes, QLocale(QLatin1String(locale))), QLatin1String(expected)) << bytes << " " << locale;
}

TEST(CardFormat, AgeTextInTheLanguageWithoutFullStops)
{
    const QDateTime now(QDate(2026, 3, 15), QTime(12, 0), Qt::LocalTime);
    // Seconds ago (negative: in the future).
    const std::tuple<qint64, const char*, const char*> cases[] = {{0, "en_US", "0 sec ago"},
                                                                  {59, "en_US", "59 sec ago"},
                                                                  {119, "en_US", "1 min ago"},
                                                                  {5 * 3600 + 59 * 60, "en_US", "5 hr ago"},
                                                                  {2 * 86400, "en_US", "2 days ago"},
                                                                  {13 * 86400, "en_US", "1 wk ago"},
                                                                  {40 * 86400, "en_US", "1 mo ago"},
                                                                  {400 * 86400, "en_US", "1 yr ago"},
                                                                  {-120, "en_US", "in 2 min"},
                                                                  {3 * 86400, "zh_CN", "3天前"},
                                                                  {60, "ja_JP", "1 分前"},
                                                                  {60, "de_DE", "vor 1 Min"}};
    for (const auto& [secondsAgo, locale, expected] : cases) {
        const QString text = ageText(now.addSecs(-secondsAgo).toUTC(), now.toUTC(), QLocale(QLatin1String(locale)));
        EXPECT_EQ(text, QString::fromUtf8(expected)) << secondsAgo << " " << locale;
    }
}

TEST(CardFormat, RowTitleByKind)
{
    const auto english = [](const QString& key) {
        return key == QStringLiteral("图片") ? QStringLiteral("Image")
                                             : (key == QStringLiteral("（空）") ? QStringLiteral("(Empty)") : key);
    };
    const auto make = [](ClipKind kind, std::optional<QString> text, qint64 bytes) {
        ClipItem item =
            ClipItem::make(kind, std::move(text), kind == ClipKind::image ? std::optional(QByteArray()) : std::nullopt,
                           std::nullopt, std::nullopt, std::nullopt, QDateTime::currentDateTimeUtc());
        item.byteSize = bytes;
        return item;
    };
    const QLocale locale(QStringLiteral("en_US"));
    EXPECT_EQ(rowTitle(make(ClipKind::image, std::nullopt, 0), locale, english), QStringLiteral("Image · 0 B"));
    // An image record with stray text is still titled as an image.
    EXPECT_EQ(rowTitle(make(ClipKind::image, QStringLiteral("caption"), 1'500'000), locale, english),
              QStringLiteral("Image · 1.5 MB"));
    EXPECT_EQ(rowTitle(make(ClipKind::text, QStringLiteral(" \n\t "), 4), locale, english), QStringLiteral("(Empty)"));
    EXPECT_EQ(rowTitle(make(ClipKind::text, std::nullopt, 0), locale, english), QStringLiteral("(Empty)"));
    EXPECT_EQ(rowTitle(make(ClipKind::text, QStringLiteral("  hello\n"), 8), locale, english), QStringLiteral("hello"));
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
        result.append((line.direction == Qt::RightToLeft ? QStringLiteral("<") : QString()) + line.text);
    return result.join(QStringLiteral(" | ")).toStdString();
}

}  // namespace

// Line breaks are kept and each paragraph takes the direction of its own text; the last line a card shows
// holds its own paragraph only, and what follows is announced by the ellipsis, never glued onto it.
TEST(CardText, LinesAreLimitedCutWithAnEllipsisAndKeepTheirDirection)
{
    const QString hebrew = QStringLiteral("שלום עולם");
    const std::tuple<QString, int, QString> cases[] = {
        {QStringLiteral("short"), 6, "short"},
        {QStringLiteral("one\r\ntwo"), 2, "one | two"},
        {QStringLiteral("1\n2\n3"), 2, "1 | 2…"},
        {QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9"), 6, "1 | 2 | 3 | 4 | 5 | 6…"},
        {QStringLiteral("title\r\nbody\rmore"), 2, "title | body…"},
        {QStringLiteral("a\nb c d\ne f"), 2, "a | b c d…"},
        {QStringLiteral("one\n\nthree"), 2, "one | …"},
        {QStringLiteral("only line\nnext"), 1, "only line…"},
        {QString(), 6, ""},
        {hebrew, 6, "<" + hebrew},
        {QStringLiteral("مرحبا"), 6, QStringLiteral("<مرحبا")},
        {QStringLiteral("42 ") + hebrew, 6, "<42 " + hebrew},
        {hebrew + QStringLiteral("\nhello"), 6, "<" + hebrew + " | hello"},
        {QStringLiteral("hello\n") + hebrew, 6, "hello | <" + hebrew},
        {QStringLiteral("12:30"), 6, "12:30"},
    };
    for (const auto& [text, maxLines, expected] : cases)
        EXPECT_EQ(texts(wrappedLines(text, cardFont(), 200, maxLines)), expected.toStdString()) << text.toStdString();

    // Long paragraphs wrap into as many lines as allowed, the last one filled before its ellipsis; far more
    // text than any card shows is cut before it is laid out.
    const QString words = QStringLiteral("word ").repeated(400);
    for (const auto& [text, maxLines] :
         {std::pair(words, 2), std::pair(words, 6), std::pair(QStringLiteral("x").repeated(2'000'000), 6),
          std::pair(QString(hebrew + QLatin1Char(' ')).repeated(40), 3)}) {
        const QList<CardLine> lines = wrappedLines(text, cardFont(), 200, maxLines);
        ASSERT_EQ(lines.size(), maxLines);
        EXPECT_TRUE(lines.last().text.endsWith(QChar(0x2026)));
        EXPECT_GT(QFontMetricsF(cardFont()).horizontalAdvance(lines.last().text),
                  200 - QFontMetricsF(cardFont()).horizontalAdvance(QStringLiteral("word ")));
        for (const CardLine& line : lines)
            EXPECT_EQ(line.direction, text.startsWith(hebrew) ? Qt::RightToLeft : Qt::LeftToRight);
    }
}

// A token without spaces (an address, a hash) wider than the card wraps at the card's width, each line
// filled, after the last word boundary that fits before it; nothing is lost at the breaks.
TEST(CardText, LongTokensWrapAtTheCardWidth)
{
    const QFontMetricsF metrics(cardFont());
    const QString hash =
        QStringLiteral("3f786850e387550fdab836ed7e6dc881de23001b3f786850e387550fdab836ed7e6dc881de23001b");
    // The text, the width, and how many lines may end early, at a word boundary before the token. URLs break
    // at their slashes where those fit, else anywhere.
    const std::tuple<QString, qreal, int> cases[] = {
        {QStringLiteral("https://example.org/a/very/long/path/that/does/not/fit/anywhere?query=1&key=abcdefghijklmnop"),
         216, 50},
        {hash, 216, 0},
        {hash, 250, 0},
        {hash, 100, 0},
        {QStringLiteral("commit ") + hash, 216, 1},
        {QStringLiteral("see commit ") + hash, 216, 1},
        {QStringLiteral("שלום ") + hash, 216, 1},
        {QStringLiteral("x").repeated(300), 216, 0},
    };
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
            if (i >= shortLines && i + 1 < lines.size())
                EXPECT_GT(metrics.horizontalAdvance(line + text.at(end)), width) << i << " " << line.toStdString();
        }
        EXPECT_EQ(joined.remove(QLatin1Char(' ')), QString(text).remove(QLatin1Char(' ')));
    }
}

TEST(CardScale, OnlyAHoveredBigCardThatIsNotHighlightedGrows)
{
    const std::tuple<CardLayout, bool, qreal, qreal> cases[] = {{CardLayout::bigCard, false, 0, 1.0},
                                                                {CardLayout::bigCard, false, 1, 1.02},
                                                                {CardLayout::bigCard, false, 0.5, 1.01},
                                                                {CardLayout::bigCard, true, 1, 1.0},
                                                                {CardLayout::row, false, 1, 1.0}};
    for (const auto& [layout, highlighted, hover, expected] : cases)
        EXPECT_NEAR(CardDelegate::cardScale(layout, highlighted, hover), expected, 1e-9);
}
