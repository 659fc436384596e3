#pragma once

#include <QString>

namespace nimbrel {

// The form in which texts are compared for the panel's search, so that the comparison ignores case,
// diacritics and character width: compatibility decomposition (NFKD), non-spacing marks removed, then
// full Unicode case folding; NUL characters are dropped. A query matches a text when fold(text) contains fold(query).
QString foldForSearch(const QString& text);

}  // namespace nimbrel
