#include "panel/PasteBack.h"

#include "history/ClipboardCapture.h"
#include "history/ImageDecoding.h"
#include "platform/KeyboardSynthesizer.h"
#include "platform/Pasteboard.h"

#include <QPointer>
#include <QTimer>

namespace nimbrel {

namespace {
const QString plainText = QStringLiteral("text/plain");
const QString pngType = QStringLiteral("image/png");
}  // namespace

PasteBack::PasteBack(Pasteboard& pasteboard, KeyboardSynthesizer& keyboard, QObject* parent)
    : QObject(parent), m_pasteboard(pasteboard), m_keyboard(keyboard)
{
}

bool PasteBack::isPasteAllowed() const
{
    return m_keyboard.isAvailable();
}

void PasteBack::writeToPasteboard(const ClipItem& item)
{
    QList<std::pair<QString, QByteArray>> representations;
    if (item.kind() == ClipKind::image) {
        // The stored PNG as it is: decoding it here would hold up the UI thread for a large photo, and
        // the header check keeps damaged bytes off the clipboard.
        if (item.contentImage && checkImageHeader(*item.contentImage, "png"))
            representations.append({pngType, *item.contentImage});
    } else if (item.contentText) {
        // A link is written as text only: an address list makes text fields insert a file or a section
        // instead of the address. Formatted forms follow the text they belong to.
        representations.append({plainText, item.contentText->toUtf8()});
        representations.append(item.formats);
    }
    // Always, also when nothing else could be written: the watcher must not record this change.
    representations.append({ownMarkerType, QByteArray(1, '\x01')});
    m_pasteboard.write(representations);
}

void PasteBack::keepAlive(const ClipItem& item)
{
    if (!m_pasteboard.hasOwner())
        writeToPasteboard(item);
}

void PasteBack::paste(const ClipItem& item)
{
    writeToPasteboard(item);
    if (!isPasteAllowed())
        return;
    QTimer::singleShot(keystrokeDelayMs, this, [this] { postWhenModifiersReleased(0); });
}

void PasteBack::postWhenModifiersReleased(int waitedMs)
{
    if (waitedMs < modifierWaitLimitMs && m_keyboard.modifiersHeld()) {
        QTimer::singleShot(modifierPollMs, this,
                           [this, waitedMs] { postWhenModifiersReleased(waitedMs + modifierPollMs); });
        return;
    }
    postPasteKeystroke();
}

void PasteBack::postPasteKeystroke()
{
    using Key = SyntheticKey::Key;
    m_keyboard.post({{Key::control, true}, {Key::v, true}, {Key::v, false}, {Key::control, false}});
    Q_EMIT keystrokePosted();
}

}  // namespace nimbrel
