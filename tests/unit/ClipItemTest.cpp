#include "history/ClipItem.h"
#include "history/SearchFolding.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QSet>

using namespace nimbrel;

namespace {

QDateTime someTime()
{
    return QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);
}

struct ClassifyCase {
    const char* name;
    QString text;
    ClipKind expected;
};

void PrintTo(const ClassifyCase& c, std::ostream* os)
{
    *os << c.name;
}

class ClassifyTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyTest, GivesTheKindOfACapturedText)
{
    const ClassifyCase& c = GetParam();
    EXPECT_EQ(classify(c.text), c.expected) << c.name << ": " << c.text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Colors, ClassifyTest,
    ::testing::Values(
        ClassifyCase{"three digits", QStringLiteral("#FFF"), ClipKind::color},
        ClassifyCase{"six digits", QStringLiteral("#ffcc00"), ClipKind::color},
        ClassifyCase{"eight digits", QStringLiteral("#11223344"), ClipKind::color},
        ClassifyCase{"blanks and a newline around", QStringLiteral(" #abc \n"), ClipKind::color},
        ClassifyCase{"four digits", QStringLiteral("#ABCD"), ClipKind::text},
        ClassifyCase{"five digits", QStringLiteral("#12345"), ClipKind::text},
        ClassifyCase{"seven digits", QStringLiteral("#1234567"), ClipKind::text},
        ClassifyCase{"nine digits", QStringLiteral("#123456789"), ClipKind::text},
        ClassifyCase{"no digits", QStringLiteral("#"), ClipKind::text},
        ClassifyCase{"empty", QString(), ClipKind::text},
        ClassifyCase{"not hex", QStringLiteral("#GGG"), ClipKind::text},
        ClassifyCase{"no hash sign", QStringLiteral("FFFFFF"), ClipKind::text},
        ClassifyCase{"blank after the hash sign", QStringLiteral("# fff"), ClipKind::text},
        ClassifyCase{"blank inside", QStringLiteral("#ff f"), ClipKind::text},
        ClassifyCase{"two hash signs", QStringLiteral("##fff"), ClipKind::text},
        ClassifyCase{"full-width upper", QStringLiteral("#ＡＢＣ"), ClipKind::color},
        ClassifyCase{"full-width lower and digits", QStringLiteral("#ｆｆ００ｃｃ"), ClipKind::color},
        ClassifyCase{"full-width edges", QStringLiteral("#０９ＦＡｆａ"), ClipKind::color},
        ClassifyCase{"full-width past F", QStringLiteral("#ＦＦＧ"), ClipKind::text},
        ClassifyCase{"full-width past f", QStringLiteral("#ｆｆｇ"), ClipKind::text},
        ClassifyCase{"full-width hash sign", QStringLiteral("＃fff"), ClipKind::text},
        // Three user-perceived characters, but "é" (e + combining acute) is not a hex digit.
        ClassifyCase{"digit with a combining mark", QStringLiteral("#ffe\u0301"), ClipKind::text},
        ClassifyCase{"digit with a variation selector", QStringLiteral("#ff0\uFE0F"), ClipKind::text},
        // "#" with the keycap marks is one character, the keycap emoji, not a hash sign.
        ClassifyCase{"keycap hash sign", QStringLiteral("#\uFE0F\u20E3fff"), ClipKind::text},
        ClassifyCase{"digit outside the BMP", QString::fromUcs4(U"#ff\U0001D7D8"), ClipKind::text},
        ClassifyCase{"Arabic-Indic digits", QStringLiteral("#\u0661\u0662\u0663"), ClipKind::text},
        ClassifyCase{"line and paragraph separators", QStringLiteral("\u2028#abc\u2029"), ClipKind::color},
        ClassifyCase{"no-break and ideographic spaces", QStringLiteral("\u00A0#abc\u3000"), ClipKind::color},
        ClassifyCase{"tab, vertical tab, form feed, NEL", QStringLiteral("\t\u000B#abc\u000C\u0085"), ClipKind::color},
        ClassifyCase{"carriage return and line feed", QStringLiteral("\r\n#abc\r\n"), ClipKind::color},
        ClassifyCase{"zero-width space is not white space", QStringLiteral("\u200B#abc"), ClipKind::text}));

INSTANTIATE_TEST_SUITE_P(
    Links, ClassifyTest,
    ::testing::Values(ClassifyCase{"http", QStringLiteral("http://example.org"), ClipKind::link},
                      ClassifyCase{"https", QStringLiteral("https://example.org/a?b=c"), ClipKind::link},
                      ClassifyCase{"capital H", QStringLiteral("Https://x"), ClipKind::link},
                      ClassifyCase{"all capitals", QStringLiteral("HTTP://EXAMPLE.ORG"), ClipKind::link},
                      ClassifyCase{"prefix and words", QStringLiteral("https://hello world"), ClipKind::link},
                      ClassifyCase{"prefix alone", QStringLiteral("https://"), ClipKind::link},
                      ClassifyCase{"blanks around", QStringLiteral("  https://x\n"), ClipKind::link},
                      ClassifyCase{"link before colour", QStringLiteral("http://#fff"), ClipKind::link},
                      ClassifyCase{"file transfer", QStringLiteral("ftp://example.org"), ClipKind::text},
                      ClassifyCase{"mail", QStringLiteral("mailto:someone@example.org"), ClipKind::text},
                      ClassifyCase{"bare host", QStringLiteral("example.org"), ClipKind::text},
                      ClassifyCase{"www host", QStringLiteral("www.example.org"), ClipKind::text},
                      ClassifyCase{"one slash", QStringLiteral("http:/example.org"), ClipKind::text},
                      ClassifyCase{"scheme only", QStringLiteral("https:"), ClipKind::text},
                      ClassifyCase{"prefix later in the text", QStringLiteral("see https://x"), ClipKind::text},
                      ClassifyCase{"full-width scheme", QStringLiteral("ＨＴＴＰ://x"), ClipKind::text},
                      // Lower-casing leaves the long s alone; only case folding would turn it into "s".
                      ClassifyCase{"long s", QStringLiteral("http\u017F://x"), ClipKind::text}));

TEST(ClassifyRuleTest, NeverYieldsImage)
{
    for (const QString& text : {QStringLiteral("image"), QStringLiteral("\x89PNG"), QString()})
        EXPECT_NE(classify(text), ClipKind::image);
}

TEST(ClipKindTest, RawValuesAreExactAndCaseSensitive)
{
    const std::pair<ClipKind, const char*> expected[] = {
        {ClipKind::text, "text"}, {ClipKind::image, "image"}, {ClipKind::link, "link"}, {ClipKind::color, "color"}};
    ASSERT_EQ(std::size(expected), allClipKinds.size());
    for (std::size_t i = 0; i < allClipKinds.size(); ++i) {
        EXPECT_EQ(allClipKinds[i], expected[i].first);
        EXPECT_EQ(rawValue(expected[i].first), QLatin1String(expected[i].second));
        EXPECT_EQ(clipKindFromRaw(QLatin1String(expected[i].second)), expected[i].first);
    }
    for (const QString& raw : {QStringLiteral("Image"), QStringLiteral("TEXT"), QStringLiteral(" link"),
                               QStringLiteral("colour"), QString()})
        EXPECT_EQ(clipKindFromRaw(raw), std::nullopt) << raw.toStdString();
}

TEST(ClipItemTest, KindReadsUnknownRawValuesAsText)
{
    const std::pair<QString, ClipKind> cases[] = {{QStringLiteral("image"), ClipKind::image},
                                                  {QStringLiteral("link"), ClipKind::link},
                                                  {QStringLiteral("color"), ClipKind::color},
                                                  {QStringLiteral("text"), ClipKind::text},
                                                  {QStringLiteral("Image"), ClipKind::text},
                                                  {QStringLiteral("video"), ClipKind::text},
                                                  {QString(), ClipKind::text}};
    for (const auto& [raw, kind] : cases) {
        ClipItem item;
        item.kindRaw = raw;
        EXPECT_EQ(item.kind(), kind) << raw.toStdString();
    }
}

TEST(ClipItemTest, DisplayText)
{
    struct Case {
        const char* name;
        QString kindRaw;
        std::optional<QString> contentText;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"image", QStringLiteral("image"), std::nullopt, std::nullopt},
        {"image that carries a text", QStringLiteral("image"), QStringLiteral("x"), std::nullopt},
        {"word in blanks and a newline", QStringLiteral("text"), QStringLiteral("  word \n"), QStringLiteral("word")},
        {"inner blanks kept", QStringLiteral("link"), QStringLiteral("\thttps://a b\r\n"),
         QStringLiteral("https://a b")},
        {"only white space", QStringLiteral("color"), QStringLiteral(" \n\u2028"), QString()},
        {"absent text", QStringLiteral("text"), std::nullopt, QString()},
        {"unknown kind reads as text", QStringLiteral("Image"), QStringLiteral(" x "), QStringLiteral("x")},
    };
    for (const Case& c : cases) {
        ClipItem item;
        item.kindRaw = c.kindRaw;
        item.contentText = c.contentText;
        EXPECT_EQ(item.displayText(), c.expected) << c.name;
    }
}

TEST(ClipItemTest, TrimmingRemovesOnlyWhiteSpaceAndNewlinesAtTheEnds)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("\u00A0\u2028 a \n b \u2029\u0085"), QStringLiteral("a \n b")},
        {QStringLiteral("\u3000\u2003\u202F"), QString()},
        {QStringLiteral("\u200Bx\u200B"), QStringLiteral("\u200Bx\u200B")},
        {QStringLiteral("x"), QStringLiteral("x")},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(trimmedWhitespaceAndNewlines(text), expected) << text.toStdString();
}

TEST(ClipItemTest, ByteSizeCountsImageBytesOrUtf8Text)
{
    struct Case {
        const char* name;
        ClipKind kind;
        std::optional<QString> text;
        std::optional<QByteArray> image;
        qint64 expected;
    };
    const Case cases[] = {
        {"five characters of three bytes", ClipKind::text, QStringLiteral("中文字符串"), std::nullopt, 15},
        {"ASCII", ClipKind::text, QStringLiteral("hello"), std::nullopt, 5},
        {"two-byte characters", ClipKind::text, QStringLiteral("héé"), std::nullopt, 5},
        {"character outside the BMP", ClipKind::text, QString::fromUcs4(U"\U0001F600"), std::nullopt, 4},
        {"blanks are counted", ClipKind::color, QStringLiteral(" #abc \n"), std::nullopt, 7},
        {"link", ClipKind::link, QStringLiteral("https://é"), std::nullopt, 10},
        {"empty text", ClipKind::text, QString(), std::nullopt, 0},
        {"absent text", ClipKind::text, std::nullopt, std::nullopt, 0},
        {"image", ClipKind::image, std::nullopt, QByteArray(1234, 'x'), 1234},
        {"image ignores a stray text", ClipKind::image, QStringLiteral("abc"), QByteArray(10, 'x'), 10},
        {"text ignores stray image bytes", ClipKind::text, QStringLiteral("abc"), QByteArray(10, 'x'), 3},
        {"absent image", ClipKind::image, std::nullopt, std::nullopt, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(byteSize(c.kind, c.text, c.image), c.expected) << c.name;
}

TEST(ClipItemTest, MakeFillsEveryFieldAndAppliesTheSizeRule)
{
    const ClipItem color = ClipItem::make(ClipKind::color, QStringLiteral(" #abc \n"), std::nullopt, std::nullopt,
                                          QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), someTime());
    EXPECT_FALSE(color.id.isNull());
    EXPECT_EQ(color.kindRaw, QStringLiteral("color"));
    EXPECT_EQ(color.contentText, QStringLiteral(" #abc \n"));  // the captured text, not the trimmed one
    EXPECT_EQ(color.byteSize, 7);
    EXPECT_EQ(color.sourceAppId, QStringLiteral("org.example.Editor"));
    EXPECT_EQ(color.sourceName, QStringLiteral("Editor"));
    EXPECT_EQ(color.createdAt, someTime());

    // The thumbnail is not counted, however large it is.
    const ClipItem image = ClipItem::make(ClipKind::image, std::nullopt, QByteArray(100, 'p'), QByteArray(100'000, 't'),
                                          std::nullopt, std::nullopt, someTime());
    EXPECT_EQ(image.kindRaw, QStringLiteral("image"));
    EXPECT_EQ(image.byteSize, 100);
    EXPECT_EQ(image.thumbnailData->size(), 100'000);
    EXPECT_FALSE(image.sourceName.has_value());

    QSet<QUuid> ids;
    for (int i = 0; i < 100; ++i)
        ids.insert(ClipItem::make(ClipKind::text, QStringLiteral("a"), {}, {}, {}, {}, someTime()).id);
    EXPECT_EQ(ids.size(), 100);
}

TEST(SearchFoldingTest, IgnoresCaseDiacriticsAndWidth)
{
    const std::pair<QString, QString> equal[] = {
        {QStringLiteral("Ｃａｆé"), QStringLiteral("CAFE")},
        {QStringLiteral("Café"), QStringLiteral("cafe\u0301")},
        {QStringLiteral("Crème Brûlée"), QStringLiteral("CREME BRULEE")},
        {QStringLiteral("Straße"), QStringLiteral("STRASSE")},
        {QStringLiteral("\uFB01le"), QStringLiteral("FILE")},  // the "fi" ligature
        {QStringLiteral("Ἀθῆναι"), QStringLiteral("αθηναι")},
        {QStringLiteral("ÅNGSTRÖM"), QStringLiteral("angstrom")},
        {QString::fromUcs4(U"\U0001D400BC"), QStringLiteral("abc")},  // mathematical bold A
        {QString::fromUcs4(U"a\U0001D167b"), QStringLiteral("ab")},   // a non-spacing mark outside the BMP
        {QStringLiteral("ｶﾀｶﾅ"), QStringLiteral("カタカナ")},         // half-width katakana
        {QStringLiteral("line\none"), QStringLiteral("LINE\nONE")},
    };
    for (const auto& [a, b] : equal)
        EXPECT_EQ(foldForSearch(a), foldForSearch(b)) << a.toStdString() << " / " << b.toStdString();

    EXPECT_EQ(foldForSearch(QStringLiteral("Ｃａｆé")), QStringLiteral("cafe"));
    EXPECT_TRUE(foldForSearch(QStringLiteral("Un Crème Brûlée, s'il vous plaît"))
                    .contains(foldForSearch(QStringLiteral("BRULEE"))));
    EXPECT_NE(foldForSearch(QStringLiteral("cafe")), foldForSearch(QStringLiteral("cafes")));
    EXPECT_EQ(foldForSearch(QString()), QString());
}

}  // namespace
