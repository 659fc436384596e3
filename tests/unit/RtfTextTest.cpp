#include "history/RtfText.h"

#include <QByteArrayList>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <optional>

namespace nimbrel {
namespace {

using namespace Qt::StringLiterals;

// Readable in failure messages: control characters and non-ASCII shown as percent-encoded UTF-8.
std::string shown(const std::optional<QString>& text)
{
    return text ? "\"" + text->toUtf8().toPercentEncoding(" {}\\\"'").toStdString() + "\"" : "<not RTF>";
}

QByteArray nested(int depth, const QByteArray& inner)
{
    return "{\\rtf1 " + QByteArray(depth, '{') + inner + QByteArray(depth, '}') + "}";
}

TEST(RtfTextTest, GivesThePlainTextOfADocument)
{
    struct Case {
        const char* name;
        QByteArray rtf;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        // Document structure, as read.
        {"plain text", R"({\rtf1 Hello})", u"Hello"_s},
        {"empty document is empty text", R"({\rtf1})", u""_s},
        {"white space before the document", "\r\n \t{\\rtf1 Hello}", u"Hello"_s},
        {"word processor document",
         R"({\rtf1\ansi\ansicpg1252\deff0
{\fonttbl\f0\fswiss\fcharset0 Helvetica;\f1\fnil\fcharset0 Courier;}
{\colortbl;\red255\green255\blue255;\red0\green0\blue0;}
{\*\expandedcolortbl;;\csgray\c0;}
\paperw11900\paperh16840\margl1440\margr1440\vieww11520\viewh8400\viewkind0
\pard\tx566\tx1133\pardirnatural\partightenfactor0

\f0\fs24 \cf0 Hello World})",
         u"Hello World"_s},
        {"paragraphs, lines and tabs, final break kept", R"({\rtf1 one\par two\line three\tab four\par})",
         u"one\ntwo\nthree\tfour\n"_s},
        {"backslash before a line break is a paragraph", "{\\rtf1 Hello\\\nWorld\\\r\nagain}",
         u"Hello\nWorld\nagain"_s},
        {"raw line breaks are not text", "{\\rtf1 Hel\r\nlo\n}", u"Hello"_s},
        {"only one delimiting space is consumed", R"({\rtf1 \b bold\b0  plain})", u"bold plain"_s},
        {"word ends at a non-letter", R"({\rtf1 \fs24x})", u"x"_s},
        {"negative parameter", R"({\rtf1 a\fs-20-b})", u"a-b"_s},
        {"a dash without digits is text", R"({\rtf1 a\li-x})", u"a-x"_s},
        {"huge parameter is harmless", R"({\rtf1 \fs99999999999999999999999 ok})", u"ok"_s},
        {"table cells and rows", R"({\rtf1 \trowd a\cell b\cell\row})", u"a\tb\t\n"_s},
        {"missing final brace is tolerated", R"({\rtf1 a\par)", u"a\n"_s},
        {"header only", R"({\rtf)", u""_s},
        {"bytes after the document are ignored", QByteArray("{\\rtf1 a}\0\r\n", 12), u"a"_s},
        {"balanced groups after the document", R"({\rtf1 a}{b})", u"a"_s},
        // Control symbols and named characters.
        {"escaped braces and backslash", R"({\rtf1 a\{b\}c\\d})", u"a{b}c\\d"_s},
        {"non-breaking space", R"({\rtf1 non\~breaking})", u"non\u00A0breaking"_s},
        {"optional hyphen is dropped", R"({\rtf1 co\-operate})", u"cooperate"_s},
        {"non-breaking hyphen", R"({\rtf1 e\_mail})", u"e\u2011mail"_s},
        {"dashes, bullet and quotes", R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})",
         u"\u2014\u2013\u2022\u2018\u2019\u201C\u201D"_s},
        {"unknown words and symbols leave no text", R"({\rtf1 a\madeupword42 \|\:b})", u"ab"_s},
        // Hidden destinations are skipped; a field gives its result.
        {"starred unknown destination", R"({\rtf1 a{\*\madeupdest junk {nested \{ junk}}b})", u"ab"_s},
        {"starred destination after text in its group", R"({\rtf1 {a\*\madeupdest junk}b})", u"ab"_s},
        {"hyperlink field gives its result",
         R"({\rtf1 See {\field{\*\fldinst{HYPERLINK "https://example.com/"}}{\fldrslt{\ul\cf1 example.com}}} now.})",
         u"See example.com now."_s},
        {"unstarred field instruction", R"({\rtf1 Page {\field{\fldinst { PAGE }}{\fldrslt {3}}}})", u"Page 3"_s},
        {"binary picture data may hold braces", "{\\rtf1 a{\\pict\\bin4 }{}}}b}", u"ab"_s},
        {"binary data in text is not text", R"({\rtf1 a\bin2 xyb})", u"ab"_s},
        {"binary data running past the end", R"({\rtf1 a\bin99999999999 xyz})", u"a"_s},
        {"list text is kept", R"({\rtf1 {\listtext\f1 \bullet\tab}Item\par})", u"\u2022\tItem\n"_s},
        // Hex bytes are read in the document's or the font's code page.
        {"Windows-1252 by default", R"({\rtf1 caf\'e9})", u"caf\u00E9"_s},
        {"upper-case hex", R"({\rtf1\ansi caf\'E9})", u"caf\u00E9"_s},
        {"Windows-1252 specials", R"({\rtf1\ansi \'80 \'93q\'94})", u"\u20AC \u201Cq\u201D"_s},
        {"Windows-1251", R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})", u"\u041F\u0440\u0438"_s},
        {"unescaped high bytes", "{\\rtf1\\ansi\\ansicpg1251 \xcf\xf0\xe8}", u"\u041F\u0440\u0438"_s},
        {"Shift-JIS run", R"({\rtf1\ansi\ansicpg932 \'82\'a0\'82\'a2})", u"\u3042\u3044"_s},
        {"Shift-JIS runs around a Unicode character", R"({\rtf1\ansi\ansicpg932 \'82\'a0\u12356?\'82\'a4})",
         u"\u3042\u3044\u3046"_s},
        {"Shift-JIS trail byte written as an escaped backslash", R"({\rtf1\ansi\ansicpg932 \'83\\})", u"\u30BD"_s},
        {"GBK bytes split by formatting", R"({\rtf1\ansi\ansicpg936 \'d6\b\'d0\b0\'ce\'c4})", u"\u4E2D\u6587"_s},
        {"font character sets",
         R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fnil\fcharset0 Times;}{\f1\fnil\fcharset204 Arial Cyr;}
{\f2\fnil\fcharset128{\*\panose 02020609040205080304}Mincho;}}
\f0 caf\'e9 {\f1\'cf\'f0\'e8} \f2\'82\'a0\f0\'e9})",
         u"caf\u00E9 \u041F\u0440\u0438 \u3042\u00E9"_s},
        {"default font's character set", R"({\rtf1\ansi\deff0{\fonttbl{\f0\fcharset204 Cyr;}}\'cf})", u"\u041F"_s},
        {"Mac Roman", R"({\rtf1\mac caf\'8e})", u"caf\u00E9"_s},
        {"unknown code page reads as Windows-1252", R"({\rtf1\ansi\ansicpg99999 caf\'e9})", u"caf\u00E9"_s},
        {"malformed hex escape", R"({\rtf1 a\'zzb})", u"azzb"_s},
        // Unicode characters and their fallbacks.
        {"fallbacks skipped", R"({\rtf1 \u20320\'3f\u22909\'3f})", u"\u4F60\u597D"_s},
        {"no fallbacks", R"({\rtf1\uc0 \u20320\u22909 !})", u"\u4F60\u597D!"_s},
        {"a control word is one fallback character", R"({\rtf1 \u8212\endash x})", u"\u2014x"_s},
        {"binary data is one fallback character", R"({\rtf1 \u20320\bin2 ??ab})", u"\u4F60ab"_s},
        {"a group ends the fallback", R"({\rtf1\uc3 \u20320{\b a}b})", u"\u4F60ab"_s},
        {"skip count restored after a group", R"({\rtf1 {\uc2 \u20320 ab}\u22909 cd})", u"\u4F60\u597Dd"_s},
        {"negative value", R"({\rtf1 \u-10916?})", u"\uD55C"_s},
        {"surrogate pair", R"({\rtf1 \u-10179?\u-8704?})", u"\U0001F600"_s},
        {"surrogate pair with positive values", R"({\rtf1\uc0 \u55357\u56832})", u"\U0001F600"_s},
        {"formatting between the halves", R"({\rtf1 \u-10179?\b\u-8704?})", u"\U0001F600"_s},
        {"lone high surrogate", R"({\rtf1 \u-10179?a})", u"\uFFFDa"_s},
        {"lone high surrogate at the end", R"({\rtf1 a\u55357?})", u"a\uFFFD"_s},
        {"lone low surrogate", R"({\rtf1 \u-8704?a})", u"\uFFFDa"_s},
        {"whole code point", R"({\rtf1 \u128512?})", u"\U0001F600"_s},
        {"out-of-range value", R"({\rtf1 \u99999999999999 xy})", u"\uFFFDy"_s},
        {"huge skip count stops at the group end", R"({\rtf1 {\uc99999999999 \u20320 abc}def})", u"\u4F60def"_s},
        // Not RTF, or broken groups: nothing.
        {"plain text", "Hello", std::nullopt},
        {"empty input", "", std::nullopt},
        {"text before the document", R"(x{\rtf1 a})", std::nullopt},
        {"words are case-sensitive", R"({\RTF1 a})", std::nullopt},
        {"a longer word is not the header", R"({\rtfoo a})", std::nullopt},
        {"extra closing brace", R"({\rtf1 a}})", std::nullopt},
        {"extra closing brace inside", R"({\rtf1 {a}}}b})", std::nullopt},
        {"closing brace after a later group", R"({\rtf1 a}{b}})", std::nullopt},
        // Nesting is capped; the document's own group counts, so 999 more make the deepest allowed.
        {"deepest allowed", nested(999, "x"), u"x"_s},
        {"one level too deep", nested(1000, "x"), std::nullopt},
        {"too deep inside a hidden destination", nested(1, "\\*\\madeupdest" + QByteArray(1500, '{')), std::nullopt},
        {"a million opening braces", "{\\rtf1 " + QByteArray(1'000'000, '{'), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shown(plainTextFromRtf(c.rtf)), shown(c.expected));
    }
    const QByteArray hidden =
        "fonttbl colortbl stylesheet info pict object header headerl headerr headerf footer footerl footerr footerf "
        "footnote fldinst listtable listoverridetable rsidtbl generator themedata colorschememapping latentstyles "
        "datastore xmlnsTbl mmathPr";
    for (const QByteArray& word : hidden.split(' ')) {
        const QByteArray rtf = "{\\rtf1 before{\\" + word + " hidden \\par {\\b nested} text}after}";
        EXPECT_EQ(shown(plainTextFromRtf(rtf)), shown(u"beforeafter"_s)) << word.toStdString();
    }
}

TEST(RtfTextTest, LargeInputIsReadInLinearTime)
{
    const QByteArray block = "{\\b\\i x\\'e9\\u20320?}" + QByteArray(200, '{') + "y" + QByteArray(200, '}') + "\\par\n";
    const int repeats = 10 * 1024 * 1024 / block.size();
    QByteArray rtf = "{\\rtf1\\ansi ";
    rtf.reserve(qsizetype(repeats) * block.size() + 32);
    for (int i = 0; i < repeats; ++i)
        rtf += block;
    rtf += "}";

    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> text = plainTextFromRtf(rtf);
    const qint64 elapsedMs = timer.elapsed();

    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, u"x\u00E9\u4F60y\n"_s.repeated(repeats));
    // Linear reading takes well under a second here; quadratic behaviour would take minutes.
    EXPECT_LT(elapsedMs, 10'000);
}

}  // namespace
}  // namespace nimbrel
