#include "history/RtfText.h"

#include <gtest/gtest.h>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <optional>

namespace nimbrel {
namespace {

using namespace Qt::StringLiterals;

// Readable in failure messages: control characters and non-ASCII shown as percent-encoded UTF-8.
std::string shown(const std::optional<QString>& text)
{
    return text ? "\"" + text->toUtf8().toPercentEncoding(" {}\\\"'").toStdString() + "\"" : "<not RTF>";
}

TEST(RtfTextTest, GivesThePlainTextOfADocument)
{
    const auto nested = [](int depth, const QByteArray& inner) -> QByteArray {
        return "{\\rtf1 " + QByteArray(depth, '{') + inner + QByteArray(depth, '}') + "}";
    };
    const std::pair<QByteArray, std::optional<QString>> cases[] = {
        // Document structure.
        {R"({\rtf1})", u""_s},
        {"\r\n \t{\\rtf1 Hello}", u"Hello"_s},
        {R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl\f0\fswiss\fcharset0 Helvetica;}{\colortbl;\red255\green255\blue255;}
{\*\expandedcolortbl;;}\paperw11900\margl1440\viewkind0\pard\tx566\pardirnatural\partightenfactor0
\f0\fs24 \cf0 Hello World})",
         u"Hello World"_s},
        {R"({\rtf1 one\par two\line three\tab four\par})", u"one\ntwo\nthree\tfour\n"_s},
        {"{\\rtf1 Hel\r\nlo\\\nWorld\\\r\nagain}", u"Hello\nWorld\nagain"_s},
        {R"({\rtf1 \b bold\b0  plain\fs24x})", u"bold plainx"_s},
        {R"({\rtf1 a\fs-20-b\li-x\fs99999999999999999999999 ok})", u"a-b-xok"_s},
        {R"({\rtf1 \trowd a\cell b\cell\row})", u"a\tb\t\n"_s},
        {R"({\rtf1 a\par)", u"a\n"_s},
        {R"({\rtf)", u""_s},
        {QByteArray("{\\rtf1 a}{b}\0\r\n", 15), u"a"_s},
        // Control symbols and named characters; unknown ones leave no text.
        {R"({\rtf1 a\{b\}c\\d\~e\-f\_g})", u"a{b}c\\d\u00A0ef\u2011g"_s},
        {R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote\madeupword42 \|\:})",
         u"\u2014\u2013\u2022\u2018\u2019\u201C\u201D"_s},
        // Hidden destinations are skipped; a field gives its result; binary data is never text.
        {R"({\rtf1 a{\*\madeupdest junk {nested \{ junk}}b{c\*\madeupdest junk}})", u"abc"_s},
        {R"({\rtf1 See {\field{\*\fldinst{HYPERLINK "https://example.com/"}}{\fldrslt{\ul example.com}}} now.})",
         u"See example.com now."_s},
        {R"({\rtf1 Page {\field{\fldinst { PAGE }}{\fldrslt {3}}}})", u"Page 3"_s},
        {"{\\rtf1 a{\\pict\\bin4 }{}}}b\\bin2 xyc}", u"abc"_s},
        {R"({\rtf1 a\bin99999999999 xyz})", u"a"_s},
        {R"({\rtf1 {\listtext\f1 \bullet\tab}Item\par})", u"\u2022\tItem\n"_s},
        // Hex bytes are read in the document's or the font's code page.
        {R"({\rtf1 caf\'e9\'E9 \'80 \'93q\'94})", u"caf\u00E9\u00E9 \u20AC \u201Cq\u201D"_s},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\xf0\\'e8}", u"\u041F\u0440\u0438"_s},
        {R"({\rtf1\ansi\ansicpg932 \'82\'a0\u12356?\'82\'a4\'83\\})", u"\u3042\u3044\u3046\u30BD"_s},
        {R"({\rtf1\ansi\ansicpg936 \'d6\b\'d0\b0\'ce\'c4})", u"\u4E2D\u6587"_s},
        {R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fnil\fcharset0 Times;}{\f1\fnil\fcharset204 Arial Cyr;}
{\f2\fnil\fcharset128{\*\panose 02020609040205080304}Mincho;}}\f0 caf\'e9 {\f1\'cf} \f2\'82\'a0\f0\'e9})",
         u"caf\u00E9 \u041F \u3042\u00E9"_s},
        {R"({\rtf1\ansi\deff0{\fonttbl{\f0\fcharset204 Cyr;}}\'cf})", u"\u041F"_s},
        {R"({\rtf1\mac caf\'8e})", u"caf\u00E9"_s},
        {R"({\rtf1\ansi\ansicpg99999 caf\'e9 a\'zzb})", u"caf\u00E9 azzb"_s},
        // Unicode characters and their fallbacks.
        {R"({\rtf1 \u20320\'3f\u22909\'3f\u8212\endash x\u20320\bin2 ??a})", u"\u4F60\u597D\u2014x\u4F60a"_s},
        {R"({\rtf1\uc0 \u20320\u22909 !})", u"\u4F60\u597D!"_s},
        {R"({\rtf1 {\uc2 \u20320 ab}\u22909 cd{\uc3 \u20320{\b a}b}})", u"\u4F60\u597Dd\u4F60ab"_s},
        {R"({\rtf1 \u-10916?\u-10179?\b\u-8704?\uc0 \u55357\u56832\u128512})",
         u"\uD55C\U0001F600\U0001F600\U0001F600"_s},
        {R"({\rtf1 \u-10179?a\u-8704?b\u55357?})", u"\uFFFDa\uFFFDb\uFFFD"_s},
        {R"({\rtf1 \u99999999999999 xy{\uc99999999999 \u20320 abc}def})", u"\uFFFDy\u4F60def"_s},
        // Nesting is capped; the document's own group counts, so 999 more make the deepest allowed.
        {nested(999, "x"), u"x"_s},
        {nested(1000, "x"), std::nullopt},
        {nested(1, "\\*\\madeupdest" + QByteArray(1500, '{')), std::nullopt},
        {"{\\rtf1 " + QByteArray(1'000'000, '{'), std::nullopt},
    };
    for (const auto& [rtf, expected] : cases)
        EXPECT_EQ(shown(plainTextFromRtf(rtf)), shown(expected)) << rtf.left(80).toStdString();
    // Not RTF, or broken groups.
    for (const char* rtf : {"Hello", "", R"(x{\rtf1 a})", R"({\RTF1 a})", R"({\rtfoo a})", R"({\rtf1 a}})",
                            R"({\rtf1 {a}}}b})", R"({\rtf1 a}{b}})"})
        EXPECT_EQ(shown(plainTextFromRtf(rtf)), shown(std::nullopt)) << rtf;
    const QByteArray hidden =
        "fonttbl colortbl stylesheet info pict object header headerl headerr headerf footer footerl footerr footerf "
        "footnote fldinst listtable listoverridetable rsidtbl generator themedata colorschememapping latentstyles "
        "datastore xmlnsTbl mmathPr";
    for (const QByteArray& word : hidden.split(' '))
        EXPECT_EQ(shown(plainTextFromRtf("{\\rtf1 before{\\" + word + " hidden \\par {\\b nested} text}after}")),
                  shown(u"beforeafter"_s))
            << word.toStdString();
}

// Linear reading takes well under a second here; quadratic behaviour would take minutes.
TEST(RtfTextTest, LargeInputIsReadInLinearTime)
{
    const QByteArray block = "{\\b\\i x\\'e9\\u20320?}" + QByteArray(200, '{') + "y" + QByteArray(200, '}') + "\\par\n";
    const int repeats = 10 * 1024 * 1024 / block.size();
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> text = plainTextFromRtf("{\\rtf1\\ansi " + block.repeated(repeats) + "}");
    EXPECT_LT(timer.elapsed(), 10'000);
    EXPECT_EQ(text, u"x\u00E9\u4F60y\n"_s.repeated(repeats));
}

}  // namespace
}  // namespace nimbrel
