#pragma once

#include <QString>

namespace nimbrel {

// The form in which texts are compared for the panel's search, so that the comparison ignores case,
// diacritics and character width: compatibility decomposition (NFKD), non-spacing marks removed, then
// full Unicode case folding; NUL characters are dropped. A query matches a text when fold(text) contains fold(query).
QString foldForSearch(const QString& text);

// How much of a record's text the search looks at: its first million characters (UTF-16 code units,
// never splitting a pair). Beyond them a copy is a dump no one searches by its middle, and its folded
// copy would double what it costs in the store.
inline constexpr qsizetype searchedCharacters = 1'048'576;

// The folded form of the part of a record's text that the search looks at.
QString foldedSearchText(const QString& contentText);

}  // namespace nimbrel
