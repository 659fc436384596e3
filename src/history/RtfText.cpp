#include "history/RtfText.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace nimbrel {
namespace {

// Real documents nest a few dozen groups at most; the cap bounds memory for hostile input.
constexpr std::size_t kMaxGroupDepth = 1000;
// Parameters are 16-bit (32-bit for \bin); clamping keeps the arithmetic on longer digit runs safe.
constexpr qint64 kMaxParameter = 1'000'000'000;
constexpr int kWindows1252 = 1252;
// Font tables list a few dozen fonts; more entries than this are ignored.
constexpr qsizetype kMaxFonts = 4096;

enum class Destination { text, skipped, fontTable };

// What a group inherits from its parent and gets back when it ends.
struct Group {
    Destination destination = Destination::text;
    int unicodeSkip = 1;  // \ucN: fallback characters written after each \uN
    int font = -1;        // \fN; -1 is the document's default font
};

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Destinations that hold no document text, even when a writer leaves out the \* marker.
bool isHiddenDestination(std::string_view word)
{
    static const std::unordered_set<std::string_view> kWords = {
        "aftncn",    "aftnsep",    "aftnsepc",   "annotation", "atnauthor", "atndate",      "atnid",
        "atnref",    "atrfend",    "atrfstart",  "author",     "bkmkend",   "bkmkstart",    "colorschememapping",
        "colortbl",  "comment",    "datastore",  "do",         "doccomm",   "docvar",       "falt",
        "fldinst",   "filetbl",    "fontemb",    "fontfile",   "footer",    "footerf",      "footerl",
        "footerr",   "footnote",   "ftncn",      "ftnsep",     "ftnsepc",   "generator",    "header",
        "headerf",   "headerl",    "headerr",    "info",       "keywords",  "latentstyles", "listoverridetable",
        "listtable", "mmathPr",    "nonshppict", "object",     "objdata",   "operator",     "panose",
        "pict",      "pn",         "pnseclvl",   "private",    "revtbl",    "rsidtbl",      "rxe",
        "shpinst",   "stylesheet", "subject",    "tc",         "template",  "themedata",    "title",
        "txe",       "xe",         "xmlnsTbl"};
    return kWords.contains(word);
}

// The characters that single control words stand for.
char16_t characterForWord(std::string_view word)
{
    static const std::unordered_map<std::string_view, char16_t> kCharacters = {
        {"par", u'\n'},           {"line", u'\n'},          {"sect", u'\n'},        {"page", u'\n'},
        {"row", u'\n'},           {"tab", u'\t'},           {"cell", u'\t'},        {"nestcell", u'\t'},
        {"emdash", u'\u2014'},    {"endash", u'\u2013'},    {"emspace", u'\u2003'}, {"enspace", u'\u2002'},
        {"qmspace", u'\u2005'},   {"bullet", u'\u2022'},    {"lquote", u'\u2018'},  {"rquote", u'\u2019'},
        {"ldblquote", u'\u201C'}, {"rdblquote", u'\u201D'}, {"zwj", u'\u200D'},     {"zwnj", u'\u200C'},
        {"ltrmark", u'\u200E'},   {"rtlmark", u'\u200F'}};
    const auto found = kCharacters.find(word);
    return found == kCharacters.end() ? u'\0' : found->second;
}

// The Windows code page of a font's \fcharset; 0 for the sets that follow the document's code page
// (ANSI, default, symbol) and for unknown ones.
int codePageForCharset(int charset)
{
    switch (charset) {
        case 77:
            return 10000;
        case 128:
            return 932;
        case 129:
            return 949;
        case 130:
            return 1361;
        case 134:
            return 936;
        case 136:
            return 950;
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 163:
            return 1258;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        case 255:
            return 437;
        default:
            return 0;
    }
}

// Windows-1252 is the default code page and the fallback for unknown ones, so it must not depend on
// the converters Qt was built with. Undefined bytes keep their value, as Windows maps them.
QString decodeWindows1252(const QByteArray& bytes)
{
    static constexpr std::array<char16_t, 32> kHighControls = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<uchar>(c);
        *out++ = (byte >= 0x80 && byte < 0xA0) ? QChar(kHighControls[byte - 0x80]) : QChar(byte);
    }
    return text;
}

// Decoders by code page, made on first use; a code page Qt cannot decode falls back to Windows-1252.
class CodePageDecoders {
public:
    QString decode(int codePage, const QByteArray& bytes)
    {
        QStringDecoder* decoder = decoderFor(codePage);
        if (!decoder)
            return decodeWindows1252(bytes);
        decoder->resetState();
        return decoder->decode(bytes);
    }

private:
    QStringDecoder* decoderFor(int codePage)
    {
        if (codePage == kWindows1252)
            return nullptr;
        auto found = m_decoders.find(codePage);
        if (found != m_decoders.end())
            return found->second.get();
        std::unique_ptr<QStringDecoder> decoder;
        for (const QByteArray& name : namesFor(codePage)) {
            decoder = std::make_unique<QStringDecoder>(name.constData(), QStringDecoder::Flag::Stateless);
            if (decoder->isValid())
                break;
            decoder.reset();
        }
        return m_decoders.emplace(codePage, std::move(decoder)).first->second.get();
    }

    static std::vector<QByteArray> namesFor(int codePage)
    {
        // "windows-N" first: for some pages the "cpN" alias names a different (IBM) table.
        const QByteArray number = QByteArray::number(codePage);
        std::vector<QByteArray> names = {"windows-" + number, "cp" + number};
        if (codePage == 10000)
            names.insert(names.begin(), "macintosh");
        return names;
    }

    std::unordered_map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

class RtfReader {
public:
    explicit RtfReader(const QByteArray& rtf) : m_pos(rtf.constData()), m_end(rtf.constData() + rtf.size()) {}

    std::optional<QString> read()
    {
        while (m_pos < m_end && (*m_pos == ' ' || *m_pos == '\t' || *m_pos == '\r' || *m_pos == '\n'))
            ++m_pos;
        const std::string_view start = "{\\rtf";
        if (m_end - m_pos < qsizetype(start.size()) || std::string_view(m_pos, start.size()) != start)
            return std::nullopt;
        const char* afterStart = m_pos + start.size();
        if (afterStart < m_end && isLetter(*afterStart))
            return std::nullopt;

        while (m_pos < m_end) {
            const char c = *m_pos++;
            switch (c) {
                case '{':
                    if (m_groups.size() >= kMaxGroupDepth)
                        return std::nullopt;
                    m_skipAfterUnicode = 0;
                    m_groups.push_back(m_groups.empty() ? Group{} : m_groups.back());
                    break;
                case '}':
                    m_skipAfterUnicode = 0;
                    m_groups.pop_back();
                    if (m_groups.empty()) {
                        if (!restIsBalanced())
                            return std::nullopt;
                        return finish();
                    }
                    break;
                case '\\':
                    readControl();
                    break;
                case '\r':
                case '\n':
                    break;
                default:
                    readCharacter(c);
            }
        }
        // Reached the end with groups still open: read as if they were closed.
        return finish();
    }

private:
    Group& group() { return m_groups.back(); }
    bool inText() const { return m_groups.back().destination == Destination::text; }

    // Consumes one item of the fallback that follows a \uN; true when the item is to be dropped.
    bool skipsFallback()
    {
        if (m_skipAfterUnicode == 0)
            return false;
        --m_skipAfterUnicode;
        return true;
    }

    void readCharacter(char c)
    {
        if (skipsFallback() || !inText())
            return;
        if (static_cast<uchar>(c) < 0x20 && c != '\t')
            return;
        appendByte(c);
    }

    void readControl()
    {
        if (m_pos == m_end)
            return;
        if (isLetter(*m_pos)) {
            readControlWord();
            return;
        }
        const char symbol = *m_pos++;
        if (symbol == '\'') {
            const int byte = readHexByte();
            if (byte >= 0 && !skipsFallback() && inText())
                appendByte(static_cast<char>(byte));
            return;
        }
        if (skipsFallback())
            return;
        switch (symbol) {
            case '*':
                group().destination = Destination::skipped;
                break;
            case '\\':
            case '{':
            case '}':
                if (inText())
                    appendByte(symbol);
                break;
            case '~':
                appendUnit(u'\u00A0');
                break;
            case '_':
                appendUnit(u'\u2011');
                break;
            case '\r':
            case '\n':
                // A backslash before a line break is a paragraph break.
                appendUnit(u'\n');
                break;
            default:
                // \- (optional hyphen), \| and \: (index marks) and unknown symbols leave no text.
                break;
        }
    }

    int readHexByte()
    {
        int value = -1;
        for (int digits = 0; digits < 2 && m_pos < m_end; ++digits) {
            const int digit = hexValue(*m_pos);
            if (digit < 0)
                break;
            value = (value < 0 ? 0 : value * 16) + digit;
            ++m_pos;
        }
        return value;
    }

    void readControlWord()
    {
        const char* wordStart = m_pos;
        while (m_pos < m_end && isLetter(*m_pos))
            ++m_pos;
        const std::string_view word(wordStart, m_pos - wordStart);

        bool negative = false;
        if (m_end - m_pos >= 2 && *m_pos == '-' && isDigit(m_pos[1])) {
            negative = true;
            ++m_pos;
        }
        bool hasParameter = false;
        qint64 value = 0;
        while (m_pos < m_end && isDigit(*m_pos)) {
            hasParameter = true;
            value = std::min(value * 10 + (*m_pos - '0'), kMaxParameter);
            ++m_pos;
        }
        if (m_pos < m_end && *m_pos == ' ')
            ++m_pos;
        const int parameter = static_cast<int>(negative ? -value : value);

        if (word == "bin") {
            // Binary data may hold any byte, braces included: step over it whatever the destination.
            m_pos += std::min<qint64>(std::max(parameter, 0), m_end - m_pos);
            skipsFallback();
            return;
        }
        if (skipsFallback())
            return;
        switch (group().destination) {
            case Destination::skipped:
                return;
            case Destination::fontTable:
                readFontTableWord(word, parameter);
                return;
            case Destination::text:
                readTextWord(word, hasParameter, parameter);
                return;
        }
    }

    void readFontTableWord(std::string_view word, int parameter)
    {
        if (word == "f") {
            m_tableFont = parameter;
        } else if (word == "fcharset" || word == "cpg") {
            const int codePage = word == "cpg" ? parameter : codePageForCharset(parameter);
            if (codePage > 0 && codePage <= 65535 && m_tableFont >= 0 &&
                (m_fontCodePages.size() < kMaxFonts || m_fontCodePages.contains(m_tableFont)))
                m_fontCodePages.insert(m_tableFont, codePage);
        }
    }

    void readTextWord(std::string_view word, bool hasParameter, int parameter)
    {
        if (const char16_t character = characterForWord(word)) {
            appendUnit(character);
        } else if (word == "u") {
            if (hasParameter)
                appendUnicode(parameter < 0 ? qint64(parameter) + 65536 : parameter);
            m_skipAfterUnicode = group().unicodeSkip;
        } else if (word == "uc") {
            group().unicodeSkip = std::max(parameter, 0);
        } else if (word == "f") {
            group().font = parameter;
        } else if (word == "plain") {
            group().font = -1;
        } else if (word == "deff") {
            m_defaultFont = parameter;
        } else if (word == "ansicpg") {
            if (parameter > 0 && parameter <= 65535)
                m_documentCodePage = parameter;
        } else if (word == "ansi") {
            m_documentCodePage = kWindows1252;
        } else if (word == "mac") {
            m_documentCodePage = 10000;
        } else if (word == "pc") {
            m_documentCodePage = 437;
        } else if (word == "pca") {
            m_documentCodePage = 850;
        } else if (word == "fonttbl") {
            group().destination = Destination::fontTable;
        } else if (isHiddenDestination(word)) {
            group().destination = Destination::skipped;
        }
    }

    int currentCodePage() const
    {
        const int font = m_groups.back().font >= 0 ? m_groups.back().font : m_defaultFont;
        return font >= 0 ? m_fontCodePages.value(font, m_documentCodePage) : m_documentCodePage;
    }

    // Bytes are collected and decoded together, so that a multi-byte character written as several
    // \'hh (or as \'hh followed by a plain trail byte) decodes as one.
    void appendByte(char byte)
    {
        const int codePage = currentCodePage();
        if (!m_bytes.isEmpty() && codePage != m_bytesCodePage)
            flushBytes();
        m_bytesCodePage = codePage;
        m_bytes.append(byte);
    }

    void flushBytes()
    {
        if (m_bytes.isEmpty())
            return;
        dropLoneHighSurrogate();
        m_text += m_decoders.decode(m_bytesCodePage, m_bytes);
        m_bytes.clear();
    }

    void dropLoneHighSurrogate()
    {
        if (m_highSurrogate == 0)
            return;
        m_text += QChar::ReplacementCharacter;
        m_highSurrogate = 0;
    }

    void appendUnicode(qint64 value)
    {
        if (value >= 0x10000 && value <= 0x10FFFF) {
            // Not a 16-bit value, but unambiguous: a whole code point.
            if (!inText())
                return;
            flushBytes();
            dropLoneHighSurrogate();
            m_text += QChar::highSurrogate(char32_t(value));
            m_text += QChar::lowSurrogate(char32_t(value));
        } else if (value > 0 && value <= 0xFFFF) {
            appendUnit(char16_t(value));
        } else if (value != 0) {
            appendUnit(QChar::ReplacementCharacter);
        }
    }

    // One UTF-16 unit; the two halves of a pair arrive as separate \uN with their fallbacks between.
    void appendUnit(char16_t unit)
    {
        if (!inText())
            return;
        flushBytes();
        if (QChar::isHighSurrogate(unit)) {
            dropLoneHighSurrogate();
            m_highSurrogate = unit;
        } else if (QChar::isLowSurrogate(unit)) {
            if (m_highSurrogate != 0) {
                m_text += QChar(m_highSurrogate);
                m_text += QChar(unit);
                m_highSurrogate = 0;
            } else {
                m_text += QChar::ReplacementCharacter;
            }
        } else {
            dropLoneHighSurrogate();
            m_text += QChar(unit);
        }
    }

    QString finish()
    {
        flushBytes();
        dropLoneHighSurrogate();
        return m_text;
    }

    // After the document's group: trailing bytes (often a NUL) are ignored, but a closing brace
    // without its opening one means the structure is broken.
    bool restIsBalanced() const
    {
        qint64 depth = 0;
        for (const char* p = m_pos; p < m_end; ++p) {
            if (*p == '\\') {
                if (++p == m_end)
                    break;
            } else if (*p == '{') {
                ++depth;
            } else if (*p == '}' && --depth < 0) {
                return false;
            }
        }
        return true;
    }

    const char* m_pos;
    const char* m_end;
    std::vector<Group> m_groups;
    QString m_text;
    QByteArray m_bytes;
    int m_bytesCodePage = kWindows1252;
    char16_t m_highSurrogate = 0;
    int m_skipAfterUnicode = 0;
    int m_documentCodePage = kWindows1252;
    int m_defaultFont = -1;
    int m_tableFont = -1;
    QHash<int, int> m_fontCodePages;
    CodePageDecoders m_decoders;
};

}  // namespace

std::optional<QString> plainTextFromRtf(const QByteArray& rtf)
{
    return RtfReader(rtf).read();
}

}  // namespace nimbrel
