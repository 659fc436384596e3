#include "history/ClipItem.h"
#include "history/SearchFolding.h"

#include <gtest/gtest.h>

#include <QDateTime>

using namespace nimbrel;

namespace {

TEST(ClipItemTest, ClassifyGivesTheKindOfACapturedText)
{
    // Cases are separated by "|". Colours: three, six or eight hex digits after "#", full-width ones too, with
    // Unicode white space around. Not colours: a digit with a combining mark or variation selector is another
    // character, "#" with keycap marks too, a zero-width space is no white space. Not links: lower-casing leaves
    // the long s alone (only case folding would not).
    const std::pair<const char16_t*, ClipKind> cases[] = {
        {u"#FFF|#ffcc00|#11223344| #abc \n|#ＡＢＣ|#ｆｆ００ｃｃ|#０９ＦＡｆａ|\u2028#abc\u2029|\u00A0#abc\u3000|"
         u"\t\u000B#abc\u000C\u0085|\r\n#abc\r\n",
         ClipKind::color},
        {u"http://example.org|Https://x|HTTP://EXAMPLE.ORG|https://hello world|https://|  https://x\n|http://#fff",
         ClipKind::link},
        {u"#ABCD|#12345|#1234567|#123456789|#||#GGG|FFFFFF|# fff|#ff f|##fff|#ＦＦＧ|#ｆｆｇ|＃fff|"
         u"#ffe\u0301|#ff0\uFE0F|#\uFE0F\u20E3fff|#ff\U0001D7D8|#\u0661\u0662\u0663|\u200B#abc|\u0089PNG",
         ClipKind::text},
        {u"ftp://example.org|mailto:a@example.org|www.example.org|http:/example.org|https:|see https://x|ＨＴＴＰ://x|"
         u"http\u017F://x",
         ClipKind::text},
    };
    for (const auto& [inputs, kind] : cases) {
        for (const QString& input : QString::fromUtf16(inputs).split(u'|'))
            EXPECT_EQ(classify(input), kind) << input.toStdString();
    }
}

TEST(ClipItemTest, RawValuesAreExactAndUnknownOnesReadAsText)
{
    const std::pair<ClipKind, const char*> expected[] = {
        {ClipKind::text, "text"}, {ClipKind::image, "image"}, {ClipKind::link, "link"}, {ClipKind::color, "color"}};
    ASSERT_EQ(std::size(expected), allClipKinds.size());
    for (std::size_t i = 0; i < allClipKinds.size(); ++i) {
        EXPECT_EQ(allClipKinds[i], expected[i].first);
        EXPECT_EQ(rawValue(expected[i].first), QLatin1String(expected[i].second));
        EXPECT_EQ(ClipItem{.kindRaw = QLatin1String(expected[i].second)}.kind(), expected[i].first);
    }
    for (const QString& raw : {QStringLiteral("Image"), QStringLiteral(" link"), QStringLiteral("colour"), QString()}) {
        EXPECT_EQ(clipKindFromRaw(raw), std::nullopt) << raw.toStdString();
        EXPECT_EQ(ClipItem{.kindRaw = raw}.kind(), ClipKind::text);
    }
}

TEST(ClipItemTest, DisplayTextIsTheTextTrimmedOfUnicodeWhiteSpace)
{
    const std::tuple<const char*, std::optional<QString>, std::optional<QString>> cases[] = {
        {"image", QStringLiteral("x"), std::nullopt},
        {"text", QStringLiteral("  word \n"), QStringLiteral("word")},
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
        {ClipKind::text, QStringLiteral("中文字符串"), std::nullopt, 15},
        {ClipKind::text, QStringLiteral("héé"), std::nullopt, 5},
        {ClipKind::text, QString::fromUcs4(U"\U0001F600"), std::nullopt, 4},
        {ClipKind::color, QStringLiteral(" #abc \n"), std::nullopt, 7},
        {ClipKind::link, QStringLiteral("https://é"), std::nullopt, 10},
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
    EXPECT_FALSE(color.id.isNull());
    EXPECT_EQ(color.kindRaw, QStringLiteral("color"));
    EXPECT_EQ(color.contentText, QStringLiteral(" #abc \n"));  // the captured text, not the trimmed one
    EXPECT_EQ(color.byteSize, 7 + 11);
    EXPECT_EQ(color.sourceAppId, QStringLiteral("org.example.Editor"));
    EXPECT_EQ(color.sourceName, QStringLiteral("Editor"));
    EXPECT_EQ(color.createdAt, time);
    // The thumbnail is not counted, however large it is.
    const ClipItem image = ClipItem::make(ClipKind::image, std::nullopt, QByteArray(100, 'p'), QByteArray(100'000, 't'),
                                          std::nullopt, std::nullopt, time);
    EXPECT_EQ(image.byteSize, 100);
    EXPECT_EQ(image.thumbnailData->size(), 100'000);
    EXPECT_NE(image.id, color.id);
}

TEST(SearchFoldingTest, IgnoresCaseDiacriticsAndWidth)
{
    // Mathematical bold A, a non-spacing mark outside the BMP, the "fi" ligature, half-width katakana.
    const std::pair<const char16_t*, const char16_t*> equal[] = {
        {u"Ｃａｆé", u"cafe"},      {u"Café", u"cafe\u0301"},     {u"Crème Brûlée", u"creme brulee"},
        {u"Straße", u"strasse"},    {u"\uFB01le", u"file"},       {u"Ἀθῆναι", u"αθηναι"},
        {u"ÅNGSTRÖM", u"angstrom"}, {u"\U0001D400BC", u"abc"},    {u"a\U0001D167b", u"ab"},
        {u"ｶﾀｶﾅ", u"カタカナ"},     {u"LINE\nONE", u"line\none"}, {u"", u""},
    };
    for (const auto& [a, b] : equal)
        EXPECT_EQ(foldForSearch(QString::fromUtf16(a)), foldForSearch(QString::fromUtf16(b)))
            << QString::fromUtf16(a).toStdString();
    EXPECT_EQ(foldForSearch(QStringLiteral("Ｃａｆé")), QStringLiteral("cafe"));
    EXPECT_NE(foldForSearch(QStringLiteral("cafe")), foldForSearch(QStringLiteral("cafes")));
}

}  // namespace
