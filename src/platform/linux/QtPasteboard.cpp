#include "platform/linux/QtPasteboard.h"

#include <QClipboard>
#include <QMimeData>

namespace nimbrel::native {

void QtPasteboard::write(const QList<std::pair<QString, QByteArray>>& representations,
                         const std::optional<QImage>& image, Selections selections)
{
    // Each selection takes ownership of the data it is given, so each gets its own.
    const auto contents = [&] {
        auto* mime = new QMimeData;
        if (image)
            mime->setImageData(*image);
        for (const auto& [type, bytes] : representations)
            mime->setData(type, bytes);
        return mime;
    };
    m_clipboard->setMimeData(contents(), QClipboard::Clipboard);
    if (selections == Selections::clipboardAndPrimary && m_clipboard->supportsSelection())
        m_clipboard->setMimeData(contents(), QClipboard::Selection);
}

}  // namespace nimbrel::native
