#pragma once

#include "history/ClipKind.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>
#include <utility>

namespace nimbrel {

// One entry of the clipboard history. Made with all fields at once and never changed after saving.
struct ClipItem {
    QUuid id;
    QString kindRaw;
    std::optional<QString> contentText;
    // PNG bytes of an image record. Kept apart from the record table, so fetches leave it empty unless
    // they ask for images (FetchDescriptor::includeImages) or HistoryStore::loadContents fills it.
    std::optional<QByteArray> contentImage;
    // The encoded thumbnail of an image record. Stored with the image; fetches never load it, and
    // HistoryStore::thumbnail reads it on demand.
    std::optional<QByteArray> thumbnailData;
    std::optional<QString> sourceAppId;
    std::optional<QString> sourceName;
    QDateTime createdAt;
    qint64 byteSize = 0;
    // The formatted forms a text came with (text/html, RTF), as (MIME type, bytes) in the order they are
    // offered back. Kept apart like the image: fetches leave it empty; HistoryStore::loadContents fills it.
    QList<std::pair<QString, QByteArray>> formats;
    // Kept by the user: never deleted to keep the history within its budget (though counted in it).
    bool pinned = false;

    // kindRaw read as a kind; an unknown raw value reads as text.
    ClipKind kind() const;
    // Absent for images; otherwise contentText without surrounding white space and newlines.
    std::optional<QString> displayText() const;

    // A new record: a fresh random id, the given time and the byteSize rule applied.
    static ClipItem make(ClipKind kind, std::optional<QString> contentText, std::optional<QByteArray> contentImage,
                         std::optional<QByteArray> thumbnailData, std::optional<QString> sourceAppId,
                         std::optional<QString> sourceName, const QDateTime& createdAt,
                         QList<std::pair<QString, QByteArray>> formats = {});
};

// The kind of a captured text: link for an http:// or https:// prefix (any case), color for a hex
// colour code, text otherwise. Never image. Surrounding white space is ignored for the decision only.
ClipKind classify(const QString& text);
// "#" followed by exactly 3, 6 or 8 user-perceived characters, each a hex digit (full-width forms too).
bool isHexColor(const QString& text);
// The bytes a record counts for in the budget: the image's length for images, else the UTF-8 length
// of the text (ClipItem::make adds the lengths of the formatted forms).
qint64 byteSize(ClipKind kind, const std::optional<QString>& contentText,
                const std::optional<QByteArray>& contentImage);
// Removes leading and trailing Unicode white space, line and paragraph separators and U+000A–U+000D, U+0085.
QString trimmedWhitespaceAndNewlines(const QString& text);

}  // namespace nimbrel
