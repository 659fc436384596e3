#include "history/SearchFolding.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <algorithm>

namespace nimbrel {

namespace {

// Also without NUL characters: the search index ends a text at one, so they must not count in a match.
QString withoutNonSpacingMarks(const QString& text)
{
    QString result;
    result.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            const char32_t codePoint = QChar::surrogateToUcs4(c, text.at(i + 1));
            if (QChar::category(codePoint) != QChar::Mark_NonSpacing) {
                result.append(c);
                result.append(text.at(i + 1));
            }
            ++i;
        } else if (c.category() != QChar::Mark_NonSpacing && c != QChar(0)) {
            result.append(c);
        }
    }
    return result;
}

// Full case folding ("ß" folds to "ss", as "SS" does); QString::toCaseFolded only does the simple,
// length-preserving folding.
QString fullCaseFolded(const QString& text)
{
    if (text.isEmpty())
        return text;
    static_assert(sizeof(UChar) == sizeof(QChar));
    const auto* source = reinterpret_cast<const UChar*>(text.utf16());
    const auto sourceLength = static_cast<int32_t>(text.size());
    // Folding grows a string by at most a factor of three.
    QString result(text.size() * 3, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(reinterpret_cast<UChar*>(result.data()), static_cast<int32_t>(result.size()),
                                         source, sourceLength, U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return text.toCaseFolded();
    result.truncate(length);
    return result;
}

}  // namespace

QString foldForSearch(const QString& text)
{
    return fullCaseFolded(withoutNonSpacingMarks(text.normalized(QString::NormalizationForm_KD)));
}

QString foldedSearchText(const QString& contentText)
{
    qsizetype length = std::min(contentText.size(), searchedCharacters);
    if (length < contentText.size() && length > 0 && contentText.at(length - 1).isHighSurrogate())
        --length;
    return foldForSearch(length == contentText.size() ? contentText : contentText.left(length));
}

}  // namespace nimbrel
