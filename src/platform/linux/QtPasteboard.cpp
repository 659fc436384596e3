#include "platform/linux/QtPasteboard.h"

#include "history/ImageDecoding.h"

#include <QClipboard>
#include <QMimeData>

#include <algorithm>
#include <utility>

namespace nimbrel::native {

namespace {
const QString uriList = QStringLiteral("text/uri-list");
const QString gnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
const QString pngType = QStringLiteral("image/png");

// Both list formats: one address per line, "#" lines are comments; the file manager's format starts
// with a "copy" or "cut" line.
QList<QUrl> parseUriList(const QByteArray& bytes, bool skipFirstLine)
{
    QList<QUrl> urls;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = skipFirstLine ? 1 : 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        urls.append(QUrl::fromEncoded(line));
    }
    return urls;
}
}  // namespace

QtPasteboard::QtPasteboard(QClipboard* clipboard) : m_clipboard(clipboard)
{
    connect(m_clipboard, &QClipboard::dataChanged, this, [this] { ++m_changeCount; });
}

const QMimeData* QtPasteboard::contents() const { return m_clipboard->mimeData(QClipboard::Clipboard); }

bool QtPasteboard::isOwnContent() const { return m_clipboard->ownsClipboard(); }

QStringList QtPasteboard::types() const
{
    const QMimeData* mime = contents();
    return mime ? mime->formats() : QStringList();
}

std::optional<QByteArray> QtPasteboard::data(const QString& mimeType) const
{
    const QMimeData* mime = contents();
    if (!mime || !mime->hasFormat(mimeType))
        return std::nullopt;
    return mime->data(mimeType);
}

std::optional<QString> QtPasteboard::string() const
{
    const QMimeData* mime = contents();
    if (!mime || !mime->hasText())
        return std::nullopt;
    return mime->text();
}

std::optional<QList<QUrl>> QtPasteboard::urls() const
{
    const QMimeData* mime = contents();
    if (!mime)
        return std::nullopt;
    if (mime->hasFormat(uriList))
        return parseUriList(mime->data(uriList), false);
    if (mime->hasFormat(gnomeCopiedFiles))
        return parseUriList(mime->data(gnomeCopiedFiles), true);
    return std::nullopt;
}

std::optional<QImage> QtPasteboard::image() const
{
    const QMimeData* mime = contents();
    if (!mime)
        return std::nullopt;
    // Not QMimeData::imageData, which hands the bytes to Qt's decoders unchecked. PNG first, as Qt would take it.
    QStringList types = mime->formats();
    std::stable_partition(types.begin(), types.end(), [](const QString& type) { return type == pngType; });
    for (const QString& type : std::as_const(types)) {
        if (!type.startsWith(QLatin1String("image/")))
            continue;
        if (std::optional<QImage> image = decodeImage(mime->data(type)))
            return image;
    }
    return std::nullopt;
}

void QtPasteboard::write(const QList<std::pair<QString, QByteArray>>& representations,
                         const std::optional<QImage>& image)
{
    auto* mime = new QMimeData;
    if (image)
        mime->setImageData(*image);
    for (const auto& [type, bytes] : representations)
        mime->setData(type, bytes);
    m_clipboard->setMimeData(mime, QClipboard::Clipboard);
}

}  // namespace nimbrel::native
