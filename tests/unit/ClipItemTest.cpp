#include "history/ClipItem.h"

#include <gtest/gtest.h>
#include <QDateTime>

using namespace nimbrel;

namespace {

TEST(ClipItemTest, ClassifyGivesTheKindOfACapturedText)
{
    // Colours: 3, 6 or 8 hex digits, full-width too, Unicode white space around; not with a combining mark, a
    // variation selector or keycap marks, nor a zero-width space. Not links: the long s does not lower-case to s.
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
}

}  // namespace
