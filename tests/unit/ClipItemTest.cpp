#include "history/ClipItem.h"
#include "history/SearchFolding.h"

#include <gtest/gtest.h>

#include <QDateTime>

using namespace nimbrel;

namespace {

TEST(ClipItemTest, ClassifyGivesTheKindOfACapturedText)
{
    // Colours: three, six or eight hex digits, full-width ones too, with Unicode white space around. Not colours:
    // a digit with a combining mark or variation selector, keycap marks, a zero-width space (no white space).
    // Not links: lower-casing leaves the long s alone (only case folding would not).
    const std::pair<const char16_t*, ClipKind> cases[] = {
        {u"#FFF|#ffcc00|#11223344| #abc "
         u"\n|#ＡＢＣ|#０９ＦＡｆａ|\u2028#abc\u2029|\u00A0#abc\u3000|\t\u000B#abc\u000C\u0085",
         ClipKind::color},
        {u"http://example.org|HTTP://EXAMPLE.ORG|https://hello world|https://|  https://x\n|http://#fff",
         ClipKind::link},
        {u"#ABCD|#12345|#1234567|#123456789|#||#GGG|FFFFFF|# fff|##fff|#ｆｆｇ|＃fff|#ffe\u0301|#ff0\uFE0F|"
         u"#\uFE0F\u20E3fff|#ff\U0001D7D8|#\u0661\u0662\u0663|\u200B#abc",
         ClipKind::text},
        {u"ftp://example.org|www.example.org|http:/example.org|https:|see https://x|ＨＴＴＰ://x|http\u017F://x",
         ClipKind::text},
    };
    for (const auto& [inputs, kind] : cases) {
        for (const QString& input : QString::fromUtf16(inputs).split(u'|'))
            EXPECT_EQ(classify(input), kind) << input.toStdString();
    }
}

TEST(ClipItemTest, DisplayTextIsTheTextTrimmedOfUnicodeWhiteSpace)
{
    const std::tuple<const char*, std::optional<QString>, std::optional<QString>> cases[] = {
        {"image", QStringLiteral("x"), std::nullopt},
        {"link", QStringLiteral("\thttps://a b\r\n"), QStringLiteral("https://a b")},
        {"color", QStringLiteral(" \n\u2028\u3000\u2003\u202F"), QString()},
        {"text", std::nullopt, QString()},
        {"Image", QStringLiteral("\u00A0\u2028 a \n b \u2029\u0085"), QStringLiteral("a \n b")},
        {"text", QStringLiteral("\u200Bx\u200B"), QStringLiteral("\u200Bx\u200B")},
    };
    for (const auto& [kindRaw, text, expected] : cases)
        EXPECT_EQ((ClipItem{.kindRaw = QLatin1String(kindRaw), .contentText = text}.displayText()), expected)
            << kindRaw;
}

TEST(ClipItemTest, ByteSizeCountsImageBytesOrUtf8TextAndFormattedForms)
{
    const std::tuple<ClipKind, std::optional<QString>, std::optional<QByteArray>, qint64> cases[] = {
        {ClipKind::text, QStringLiteral("中文héé"), std::nullopt, 11},
        {ClipKind::link, QString::fromUcs4(U"\U0001F600 "), std::nullopt, 5},
        {ClipKind::text, std::nullopt, std::nullopt, 0},
        {ClipKind::image, QStringLiteral("abc"), QByteArray(10, 'x'), 10},
        {ClipKind::text, QStringLiteral("abc"), QByteArray(10, 'x'), 3},
        {ClipKind::image, std::nullopt, std::nullopt, 0},
    };
    for (const auto& [kind, text, image, expected] : cases)
        EXPECT_EQ(byteSize(kind, text, image), expected) << text.value_or(QString()).toStdString();

    const QDateTime time = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);
    const ClipItem color = ClipItem::make(ClipKind::color, QStringLiteral(" #abc \n"), std::nullopt, std::nullopt,
                                          QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), time,
                                          {{QStringLiteral("text/html"), "<b>#abc</b>"}});
    EXPECT_EQ(std::tuple(color.kindRaw, color.contentText, color.byteSize, color.sourceAppId, color.sourceName),
              std::tuple(QStringLiteral("color"), std::optional(QStringLiteral(" #abc \n")), qint64(7 + 11),
                         std::optional(QStringLiteral("org.example.Editor")), std::optional(QStringLiteral("Editor"))));
    EXPECT_EQ(color.createdAt, time);
    // The thumbnail is not counted, however large it is.
    const ClipItem image = ClipItem::make(ClipKind::image, std::nullopt, QByteArray(100, 'p'), QByteArray(100'000, 't'),
                                          std::nullopt, std::nullopt, time);
    EXPECT_EQ(image.byteSize, 100);
    EXPECT_FALSE(color.id.isNull() || image.id == color.id);
}

TEST(SearchFoldingTest, IgnoresCaseDiacriticsAndWidth)
{
    // Mathematical bold A, a non-spacing mark outside the BMP, the "fi" ligature, half-width katakana.
    const std::pair<const char16_t*, const char16_t*> equal[] = {
        {u"Café", u"cafe\u0301"},     {u"Crème Brûlée", u"creme brulee"},
        {u"Straße", u"strasse"},      {u"\uFB01le", u"file"},
        {u"Ἀθῆναι", u"αθηναι"},       {u"\U0001D400BC", u"abc"},
        {u"a\U0001D167b", u"ab"},     {u"ｶﾀｶﾅ", u"カタカナ"},
        {u"LINE\nONE", u"line\none"},
    };
    for (const auto& [a, b] : equal)
        EXPECT_EQ(foldForSearch(QString::fromUtf16(a)), foldForSearch(QString::fromUtf16(b)))
            << QString::fromUtf16(a).toStdString();
    EXPECT_EQ(foldForSearch(QStringLiteral("Ｃａｆé")), QStringLiteral("cafe"));
    EXPECT_NE(foldForSearch(QStringLiteral("cafe")), foldForSearch(QStringLiteral("cafes")));
}

}  // namespace
