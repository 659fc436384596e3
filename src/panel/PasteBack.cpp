#include "panel/PasteBack.h"

#include "history/ClipboardCapture.h"
#include "history/ImageDecoding.h"
#include "platform/KeyboardSynthesizer.h"
#include "platform/Pasteboard.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace nimbrel {

namespace {
const QString plainText = QStringLiteral("text/plain");
const QString uriList = QStringLiteral("text/uri-list");
}  // namespace

PasteBack::PasteBack(Pasteboard& pasteboard, KeyboardSynthesizer& keyboard, QObject* parent)
    : QObject(parent), m_pasteboard(pasteboard), m_keyboard(keyboard)
{
}

bool PasteBack::isPasteAllowed() const { return m_keyboard.isAvailable(); }

void PasteBack::writeToPasteboard(const ClipItem& item)
{
    QList<std::pair<QString, QByteArray>> representations;
    std::optional<QImage> image;
    switch (item.kind()) {
    case ClipKind::image:
        if (item.contentImage)
            image = decodeImage(*item.contentImage);
        break;
    case ClipKind::link:
        if (item.contentText) {
            representations.append({plainText, item.contentText->toUtf8()});
            const QUrl url(*item.contentText, QUrl::StrictMode);
            if (url.isValid() && !url.scheme().isEmpty())
                representations.append({uriList, url.toEncoded() + "\r\n"});
        }
        break;
    case ClipKind::text:
    case ClipKind::color:
        if (item.contentText)
            representations.append({plainText, item.contentText->toUtf8()});
        break;
    }
    // Always, also when nothing else could be written: the watcher must not record this change.
    representations.append({ownMarkerType, QByteArray(1, '\x01')});
    m_pasteboard.write(representations, image);
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
