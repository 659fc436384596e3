#include "panel/CardDelegate.h"
#include "panel/CardFormat.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace nimbrel;

namespace {

QString rgba(const std::optional<QColor>& color)
{
    if (!color)
        return QStringLiteral("grey");
    return QStringLiteral("%1,%2,%3,%4").arg(color->red()).arg(color->green()).arg(color->blue()).arg(color->alpha());
}

}  // namespace

TEST(CardFormat, SwatchColourFromTheColourCode)
{
    struct Case {
        std::optional<QString> text;
        const char* expected;
    };
    const Case cases[] = {
        {QStringLiteral("#1e90ff"), "30,144,255,255"},
        {QStringLiteral("#1E90FF"), "30,144,255,255"},
        {QStringLiteral(" \t#1e90ff \n"), "30,144,255,255"},
        // Each of three digits ÷ 15: 10/15, 11/15, 12/15 of full intensity.
        {QStringLiteral("#abc"), "170,187,204,255"},
        {QStringLiteral("#11223380"), "17,34,51,128"},
        {QStringLiteral("#000"), "0,0,0,255"},
        {QStringLiteral("#ffffff00"), "255,255,255,0"},
        // Full-width digits are read as the classifier reads them.
        {QStringLiteral("#ａｂｃ"), "170,187,204,255"},
        {QStringLiteral("#12345"), "grey"},
        {QStringLiteral("#1234"), "grey"},
        {QStringLiteral("#1234567"), "grey"},
        {QStringLiteral("#1e90ff80ff"), "grey"},
        {QStringLiteral("1e90ff"), "grey"},
        {QStringLiteral("#ggg"), "grey"},
        {QStringLiteral("#+ab"), "grey"},
        {QStringLiteral("#-ab"), "grey"},
        {QStringLiteral("# fff"), "grey"},
        {QStringLiteral("#0x12"), "grey"},
        {QStringLiteral(""), "grey"},
        {std::nullopt, "grey"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rgba(swatchColor(c.text)), QLatin1String(c.expected)) << c.text.value_or("<absent>").toStdString();
    EXPECT_NEAR(swatchColor(QStringLiteral("#11223380"))->alphaF(), 128.0 / 255.0, 1e-6);
}

TEST(CardFormat, SizeTextCountsLikeFiles)
{
    struct Case {
        qint64 bytes;
        const char* locale;
        const char* expected;
    };
    const Case cases[] = {
        {0, "en_US", "0 B"},
        {-1, "en_US", "0 B"},
        {1, "en_US", "1 KB"},
        {999, "en_US", "1 KB"},
        {1000, "en_US", "1 KB"},
        {1499, "en_US", "1 KB"},
        {123'456, "en_US", "123 KB"},
        {999'499, "en_US", "999 KB"},
        {999'999, "en_US", "1 MB"},
        {1'000'000, "en_US", "1 MB"},
        {1'500'000, "en_US", "1.5 MB"},
        {12'345'678, "en_US", "12.3 MB"},
        {1'000'000'000, "en_US", "1 GB"},
        {1'234'567'890, "en_US", "1.23 GB"},
        {1'500'000, "de_DE", "1,5 MB"},
        {0, "zh_CN", "0 B"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sizeText(c.bytes, QLocale(QLatin1String(c.locale))), QLatin1String(c.expected))
            << c.bytes << " " << c.locale;
    }
}

TEST(CardFormat, AgeTextInTheLanguageWithoutFullStops)
{
    const QDateTime now(QDate(2026, 3, 15), QTime(12, 0), Qt::LocalTime);
    struct Case {
        qint64 secondsAgo;  // negative: in the future
        const char* locale;
        const char* expected;
    };
    const Case cases[] = {
        {0, "en_US", "0 sec ago"},
        {59, "en_US", "59 sec ago"},
        {60, "en_US", "1 min ago"},
        {119, "en_US", "1 min ago"},
        {5 * 3600 + 59 * 60, "en_US", "5 hr ago"},
        {2 * 86400, "en_US", "2 days ago"},
        {7 * 86400, "en_US", "1 wk ago"},
        {13 * 86400, "en_US", "1 wk ago"},
        {40 * 86400, "en_US", "1 mo ago"},
        {400 * 86400, "en_US", "1 yr ago"},
        {-120, "en_US", "in 2 min"},
        {60, "zh_CN", "1分钟前"},
        {3 * 86400, "zh_CN", "3天前"},
        {60, "ja_JP", "1 分前"},
        {60, "de_DE", "vor 1 Min"},
    };
    for (const Case& c : cases) {
        const QDateTime created = now.addSecs(-c.secondsAgo).toUTC();
        const QString text = ageText(created, now.toUTC(), QLocale(QLatin1String(c.locale)));
        EXPECT_EQ(text, QString::fromUtf8(c.expected)) << c.secondsAgo << " " << c.locale;
        EXPECT_FALSE(text.contains(QLatin1Char('.'))) << text.toStdString();
    }
}

TEST(CardFormat, RowTitleByKind)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    const auto english = [](const QString& key) {
        if (key == QStringLiteral("图片"))
            return QStringLiteral("Image");
        if (key == QStringLiteral("（空）"))
            return QStringLiteral("(Empty)");
        return key;
    };
    ClipItem emptyImage =
        ClipItem::make(ClipKind::image, std::nullopt, QByteArray(), std::nullopt, std::nullopt, std::nullopt, at);
    ClipItem image = emptyImage;
    image.byteSize = 1'500'000;
    const auto text = [&](std::optional<QString> content) {
        return ClipItem::make(ClipKind::text, std::move(content), std::nullopt, std::nullopt, std::nullopt,
                              std::nullopt, at);
    };
    const QLocale locale(QStringLiteral("en_US"));
    EXPECT_EQ(rowTitle(emptyImage, locale, english), QStringLiteral("Image · 0 B"));
    EXPECT_EQ(rowTitle(image, locale, english), QStringLiteral("Image · 1.5 MB"));
    EXPECT_EQ(rowTitle(text(QStringLiteral(" \n\t ")), locale, english), QStringLiteral("(Empty)"));
    EXPECT_EQ(rowTitle(text(std::nullopt), locale, english), QStringLiteral("(Empty)"));
    EXPECT_EQ(rowTitle(text(QStringLiteral("  hello\n")), locale, english), QStringLiteral("hello"));
    // An image record with stray text is still titled as an image.
    ClipItem captioned = image;
    captioned.contentText = QStringLiteral("caption");
    EXPECT_EQ(rowTitle(captioned, locale, english), QStringLiteral("Image · 1.5 MB"));
}

namespace {

QFont cardFont()
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(12);
    return font;
}

// The lines as one readable string, " | " between them.
std::string texts(const QList<CardLine>& lines)
{
    QStringList result;
    for (const CardLine& line : lines)
        result.append(line.text);
    return result.join(QStringLiteral(" | ")).toStdString();
}

}  // namespace

TEST(CardText, LinesAreLimitedAndCutWithAnEllipsis)
{
    const QFont font = cardFont();
    const QString ellipsis(QChar(0x2026));
    struct Case {
        QString text;
        int maxLines;
        int expectedLines;
        bool cut;
    };
    const QString word = QStringLiteral("word ");
    const Case cases[] = {
        {QStringLiteral("short"), 6, 1, false},
        {QStringLiteral("one\ntwo\nthree"), 6, 3, false},
        {QStringLiteral("one\r\ntwo"), 2, 2, false},
        {QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9"), 6, 6, true},
        {QStringLiteral("1\n2\n3"), 2, 2, true},
        {word.repeated(400), 6, 6, true},
        {word.repeated(400), 2, 2, true},
        // Far more text than any card shows is cut before it is laid out.
        {QStringLiteral("x").repeated(2'000'000), 6, 6, true},
        {QString(), 6, 0, false},
    };
    for (const Case& c : cases) {
        const QList<CardLine> lines = wrappedLines(c.text, font, 200, c.maxLines);
        EXPECT_EQ(lines.size(), c.expectedLines) << c.text.left(40).toStdString();
        if (!lines.isEmpty()) {
            EXPECT_EQ(lines.last().text.endsWith(ellipsis), c.cut) << lines.last().text.toStdString();
        }
    }
    // A long paragraph cut at the limit fills its last line before the ellipsis.
    const QList<CardLine> cut = wrappedLines(word.repeated(400), font, 200, 2);
    ASSERT_EQ(cut.size(), 2);
    EXPECT_GT(QFontMetricsF(font).horizontalAdvance(cut.last().text),
              200 - QFontMetricsF(font).horizontalAdvance(word));
}

// The last line a card shows holds its own paragraph only: what follows is announced by the ellipsis,
// never glued onto the line.
TEST(CardText, LinesPastTheLimitAreCutNotJoined)
{
    struct Case {
        QString text;
        int maxLines;
        const char* expected;
    };
    const Case cases[] = {
        {QStringLiteral("1\n2\n3"), 2, "1 | 2…"},
        {QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9"), 6, "1 | 2 | 3 | 4 | 5 | 6…"},
        {QStringLiteral("title\r\nbody\rmore"), 2, "title | body…"},
        {QStringLiteral("a\nb c d\ne f"), 2, "a | b c d…"},
        {QStringLiteral("one\n\nthree"), 2, "one | …"},
        {QStringLiteral("one\ntwo"), 2, "one | two"},
        {QStringLiteral("only line\nnext"), 1, "only line…"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texts(wrappedLines(c.text, cardFont(), 200, c.maxLines)), c.expected) << c.text.toStdString();
}

// Each paragraph is laid out in the direction of its own text: Hebrew and Arabic from the right, the rest
// from the left.
TEST(CardText, ParagraphsTakeTheDirectionOfTheirText)
{
    constexpr auto ltr = Qt::LeftToRight;
    constexpr auto rtl = Qt::RightToLeft;
    const QString hebrew = QStringLiteral("שלום עולם");
    const QString arabic = QStringLiteral("مرحبا بالعالم");
    struct Case {
        const char* name;
        QString text;
        int maxLines;
        QList<Qt::LayoutDirection> expected;
    };
    const Case cases[] = {
        {"English", QStringLiteral("hello world"), 6, {ltr}},
        {"Hebrew", hebrew, 6, {rtl}},
        {"Arabic", arabic, 6, {rtl}},
        {"digits before Hebrew", QStringLiteral("42 ") + hebrew, 6, {rtl}},
        {"Hebrew, then English", hebrew + QStringLiteral("\nhello"), 6, {rtl, ltr}},
        {"English, then Arabic", QStringLiteral("hello\n") + arabic, 6, {ltr, rtl}},
        {"a wrapped Arabic paragraph", QString(arabic + QLatin1Char(' ')).repeated(20), 3, {rtl, rtl, rtl}},
        {"cut Hebrew", QString(hebrew + QLatin1Char(' ')).repeated(40), 2, {rtl, rtl}},
        {"no strong letters", QStringLiteral("12:30"), 6, {ltr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QList<Qt::LayoutDirection> directions;
        for (const CardLine& line : wrappedLines(c.text, cardFont(), 200, c.maxLines))
            directions.append(line.direction);
        EXPECT_EQ(directions, c.expected);
    }
}

// A token without spaces (an address, a hash) wider than the card wraps at the card's width, each line
// filled, after the last word boundary that fits before it; nothing is lost at the breaks.
TEST(CardText, LongTokensWrapAtTheCardWidth)
{
    const QFont font = cardFont();
    const QFontMetricsF metrics(font);
    const QString hash =
        QStringLiteral("3f786850e387550fdab836ed7e6dc881de23001b3f786850e387550fdab836ed7e6dc881de23001b");
    const QString url =
        QStringLiteral("https://example.org/a/very/long/path/that/does/not/fit/anywhere?query=1&key=abcdefghijklmnop");
    struct Case {
        const char* name;
        QString text;
        qreal width;
        // The lines that may end early, at a word boundary before the token.
        int shortLines;
    };
    const Case cases[] = {
        {"hash", hash, 216, 0},
        {"hash in a row", hash, 250, 0},
        {"hash in a narrow card", hash, 100, 0},
        {"hash after a word", QStringLiteral("commit ") + hash, 216, 1},
        {"hash after two words", QStringLiteral("see commit ") + hash, 216, 1},
        {"hash in a right-to-left paragraph", QStringLiteral("שלום ") + hash, 216, 1},
        {"x repeated", QStringLiteral("x").repeated(300), 216, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<CardLine> lines = wrappedLines(c.text, font, c.width, 50);
        ASSERT_GT(lines.size(), c.shortLines + 1);
        QString joined;
        qsizetype end = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString& line = lines[i].text;
            EXPECT_LE(metrics.horizontalAdvance(line), c.width) << line.toStdString();
            joined += line;
            end = c.text.indexOf(line, end) + line.size();
            if (i < c.shortLines || i + 1 == lines.size())
                continue;
            // Filled: the next character would not have fitted.
            EXPECT_GT(metrics.horizontalAdvance(line + c.text.at(end)), c.width) << i << " " << line.toStdString();
        }
        EXPECT_EQ(joined.remove(QLatin1Char(' ')).toStdString(),
                  QString(c.text).remove(QLatin1Char(' ')).toStdString());
    }
    // URLs break at their slashes where those fit, else anywhere; still within the width, nothing lost.
    const QList<CardLine> lines = wrappedLines(url, font, 216, 50);
    ASSERT_GT(lines.size(), 1);
    QString joined;
    for (const CardLine& line : lines) {
        EXPECT_GT(line.text.size(), 1) << line.text.toStdString();
        EXPECT_LE(metrics.horizontalAdvance(line.text), 216.0);
        joined += line.text;
    }
    EXPECT_EQ(joined.toStdString(), url.toStdString());
}

TEST(CardScale, OnlyAHoveredBigCardThatIsNotHighlightedGrows)
{
    struct Case {
        CardLayout layout;
        bool highlighted;
        qreal hover;
        qreal expected;
    };
    const Case cases[] = {
        {CardLayout::bigCard, false, 0, 1.0},    {CardLayout::bigCard, false, 1, 1.02},
        {CardLayout::bigCard, false, 0.5, 1.01}, {CardLayout::bigCard, true, 1, 1.0},
        {CardLayout::row, false, 1, 1.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(CardDelegate::cardScale(c.layout, c.highlighted, c.hover), c.expected, 1e-9);
}
