#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace nimbrel {

// The plain text of an RTF document, exactly as read: paragraph and line breaks become "\n" (a break at
// the very end included), tabs "\t"; formatting, the font, colour and style tables, pictures, fields'
// instructions and the other hidden destinations are dropped. Bytes written as \'hh are decoded in the
// code page of the document (or of the current font's character set), \uN characters are taken as they
// are. The result may be empty.
//
// Absent when the bytes are not RTF (they must start, after white space, with "{\rtf") or the groups are
// broken: a closing brace that closes nothing, or nesting deeper than 1000 groups. A document that only
// lacks its final closing braces is read to its end, as common readers do.
std::optional<QString> plainTextFromRtf(const QByteArray& rtf);

}  // namespace nimbrel
