#include "panel/CardDelegate.h"
#include "panel/CardFormat.h"

#include <QFont>
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

TEST(CardText, LinesAreLimitedAndCutWithAnEllipsis)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(12);
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
        const QStringList lines = wrappedLines(c.text, font, 200, c.maxLines);
        EXPECT_EQ(lines.size(), c.expectedLines) << c.text.left(40).toStdString();
        if (!lines.isEmpty()) {
            EXPECT_EQ(lines.last().endsWith(ellipsis), c.cut) << lines.last().toStdString();
        }
    }
    EXPECT_EQ(wrappedLines(QStringLiteral("1\n2\n3\n4\n5\n6\n7"), font, 200, 6).mid(0, 5),
              (QStringList{"1", "2", "3", "4", "5"}));
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
