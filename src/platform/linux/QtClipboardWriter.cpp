#include "platform/linux/QtClipboardWriter.h"
#include "platform/linux/X11Connection.h"

#include <QClipboard>
#include <QMimeData>

#include <xcb/xcb.h>

#include <cstdlib>

namespace nimbrel::native {

void QtClipboardWriter::write(const QList<std::pair<QString, QByteArray>>& representations, Selections selections)
{
    // Each selection takes ownership of the data it is given, so each gets its own.
    const auto contents = [&representations] {
        auto* mime = new QMimeData;
        for (const auto& [type, bytes] : representations)
            mime->setData(type, bytes);
        return mime;
    };
    m_clipboard->setMimeData(contents(), QClipboard::Clipboard);
    if (selections == Selections::clipboardAndPrimary && m_clipboard->supportsSelection())
        m_clipboard->setMimeData(contents(), QClipboard::Selection);
}

bool QtClipboardWriter::hasOwner() const
{
    xcb_connection_t* c = x11Connection();
    if (!c) {
        const QMimeData* data = m_clipboard->mimeData(QClipboard::Clipboard);
        return data && !data->formats().isEmpty();
    }
    const xcb_atom_t clipboard = x11Atom(c, "CLIPBOARD");
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

}  // namespace nimbrel::native
