#include "platform/linux/QtPasteboard.h"

#include <QClipboard>
#include <QMimeData>

namespace nimbrel::native {

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
