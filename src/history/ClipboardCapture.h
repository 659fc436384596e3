#pragma once

#include "history/CaptureGate.h"
#include "history/ClipItem.h"
#include "platform/ClipboardMonitor.h"
#include "platform/Workspace.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace nimbrel {

class ClipboardOffer;
class Clock;

// The type Nimbrel adds to its own clipboard writes.
inline const QString ownMarkerType = QStringLiteral("org.nimbrel.internal");

// What one clipboard change gave. Read on the monitor's thread, where nothing is decoded: the
// representations are bytes as the owner sent them.
struct CapturedChange {
    enum class Outcome {
        contents,    // representations were read; a record may be made of them
        ignored,     // Nimbrel's own, marked secret, or replaced meanwhile: nothing is recorded or said
        unanswered,  // the owner did not answer in time
        tooLarge,    // the chosen representation is over the size cap
    };
    Outcome outcome = Outcome::ignored;
    Selection selection = Selection::clipboard;
    // Marked secret by a password manager (then ignored, and nothing of it read).
    bool secret = false;
    // Held back unread (paused, or an excluded application in front): it may have been a secret.
    bool heldBack = false;
    QList<std::pair<QString, QByteArray>> representations;
    std::optional<RunningApplication> source;
    QDateTime capturedAt;

    std::optional<QByteArray> data(const QString& type) const;
};

// The reading half of capture, on the monitor's thread: skips changes the gate holds back (paused, an
// excluded application in front), and those that are Nimbrel's own, made while Nimbrel is in front, or
// marked secret by a password manager (their contents are never asked for),
// then reads, each at most `cap` bytes, the first image representation whose header is sound, the
// address lists, the plain text, and the formatted forms of a text (HTML, RTF).
CapturedChange readChange(ClipboardOffer& offer, const Workspace& workspace, const Clock& clock, qint64 cap,
                          const CaptureGate* gate = nullptr);

// The making half, on the writer's thread: the record made of what was read, in the order image,
// address, text, rich text; a text keeps its formatted forms. An image must decode within the image limits or it is not
// one; PNG bytes are kept as they came, other image types become PNG (the generic ones reduced to 1024 pixels). None
// when nothing qualifies, or for copied files.
std::optional<ClipItem> makeItem(const CapturedChange& change);

// The image as PNG bytes, reduced first so its longer side is at most `maxSide` pixels (sizes rounded
// half away from zero). None when it cannot be encoded.
std::optional<QByteArray> pngData(const QImage& image, std::optional<int> maxSide);

// The addresses of a URI list (text/uri-list, or the file manager's list with its "copy"/"cut" line).
QList<QUrl> parseUriList(const QByteArray& bytes, bool skipFirstLine);

}  // namespace nimbrel
