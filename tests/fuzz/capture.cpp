// What any application offers on the clipboard: the types it names and the bytes it hands over for them.
// Images have targets of their own (image_decoding, thumbnail); here they are left out, so each input runs
// in microseconds rather than through the HEIC encoder.
//
// Input: representations separated by 0x1e, each "type 0x1f bytes".
#include "history/ClipboardCapture.h"
#include "support/fake/FakeClipboardMonitor.h"
#include "support/fake/FakePlatform.h"

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    fake::FakeOffer offer;
    for (const QByteArray& part : fuzz::bytes(data, size).split('\x1e')) {
        const qsizetype split = part.indexOf('\x1f');
        const QString type = QString::fromUtf8(part.left(split < 0 ? part.size() : split));
        if (!type.startsWith(QLatin1String("image/")))
            offer.representations.append({type, split < 0 ? QByteArray() : part.mid(split + 1)});
    }
    static const fake::FakeWorkspace workspace;
    static const fake::ManualClock clock;
    const CapturedChange change = readChange(offer, workspace, clock, 1 << 16);
    const std::optional<ClipItem> item = makeItem(change);
    if (!item)
        return 0;
    fuzz::require(item->kind() != ClipKind::image, "no image is made without image bytes");
    fuzz::require(item->contentText && !item->contentText->isEmpty(), "a text record has text");
    qint64 formats = 0;
    for (const auto& [type, bytes] : item->formats) {
        fuzz::require(offer.representations.contains(std::pair{type, bytes}), "a formatted form is kept as copied");
        formats += bytes.size();
    }
    fuzz::require(item->byteSize == item->contentText->toUtf8().size() + formats,
                  "a text record counts its UTF-8 bytes and its formatted forms");
    fuzz::require(!offer.asked.contains(QStringLiteral("org.nimbrel.internal")), "the marker's bytes are not read");
    return 0;
}
