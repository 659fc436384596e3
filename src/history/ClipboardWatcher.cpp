#include "history/ClipboardWatcher.h"

#include "history/HistoryStore.h"
#include "history/ImageDecoding.h"
#include "history/RtfText.h"
#include "history/Thumbnail.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

#include <QBuffer>
#include <QImageWriter>

#include <cmath>

namespace nimbrel {

namespace {

const QString pngType = QStringLiteral("image/png");
const QString tiffType = QStringLiteral("image/tiff");
const QString uriListType = QStringLiteral("text/uri-list");
const QString copiedFilesType = QStringLiteral("x-special/gnome-copied-files");
const QString passwordHintType = QStringLiteral("x-kde-passwordManagerHint");
const QStringList concealedTypes{QStringLiteral("org.nspasteboard.ConcealedType"),
                                 QStringLiteral("org.nspasteboard.TransientType")};
const QStringList rtfTypes{QStringLiteral("text/rtf"), QStringLiteral("text/richtext"),
                           QStringLiteral("application/rtf")};

bool hasFileAddress(const Pasteboard& pasteboard, const QStringList& types)
{
    if (types.contains(copiedFilesType))
        return true;
    if (!types.contains(uriListType))
        return false;
    const auto urls = pasteboard.urls();
    return urls && std::any_of(urls->cbegin(), urls->cend(), [](const QUrl& url) { return url.isLocalFile(); });
}

}  // namespace

std::optional<QByteArray> pngData(const QImage& image, std::optional<int> maxSide)
{
    if (image.isNull())
        return std::nullopt;
    QImage chosen = image;
    const int larger = std::max(image.width(), image.height());
    if (maxSide && larger > *maxSide) {
        const double scale = static_cast<double>(*maxSide) / larger;
        const int width = static_cast<int>(std::round(image.width() * scale));
        const int height = static_cast<int>(std::round(image.height() * scale));
        chosen = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                     .scaled(std::max(width, 1), std::max(height, 1), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (chosen.isNull())
            return std::nullopt;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(chosen) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

ClipboardWatcher::ClipboardWatcher(Pasteboard& pasteboard, const Workspace& workspace, HistoryStore& store,
                                   const SettingsStore& settings, Console& console, const Clock& clock, QObject* parent)
    : QObject(parent),
      m_pasteboard(pasteboard),
      m_workspace(workspace),
      m_store(store),
      m_console(console),
      m_clock(clock),
      // Whatever is on the clipboard now was copied before Nimbrel watched: it is not recorded.
      m_lastChangeCount(pasteboard.changeCount()),
      m_budget(store, settings)
{
    m_timer.setInterval(pollIntervalMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ClipboardWatcher::poll);
}

void ClipboardWatcher::start() { m_timer.start(); }

void ClipboardWatcher::stop() { m_timer.stop(); }

bool ClipboardWatcher::isConcealed(const QStringList& types, const Pasteboard& pasteboard)
{
    for (const QString& type : concealedTypes)
        if (types.contains(type))
            return true;
    if (types.contains(passwordHintType)) {
        const auto hint = pasteboard.data(passwordHintType);
        return hint && hint->trimmed() == "secret";
    }
    return false;
}

void ClipboardWatcher::poll()
{
    const qint64 count = m_pasteboard.changeCount();
    if (count == m_lastChangeCount)
        return;
    // Remembered before any test, so an ignored change is never looked at again.
    m_lastChangeCount = count;
    const QStringList types = m_pasteboard.types();
    if (types.contains(markerType) || isConcealed(types, m_pasteboard))
        return;
    ingest();
}

void ClipboardWatcher::ingest()
{
    const auto item = makeItem();
    if (!item || isDuplicateOfLatest(*item))
        return;
    if (const auto inserted = m_store.insert(*item); !inserted) {
        m_console.line(QStringLiteral("[Nimbrel] save error: ") + inserted.error().description);
        return;
    }
    if (const auto saved = m_store.save(); !saved)
        m_console.line(QStringLiteral("[Nimbrel] save error: ") + saved.error().description);
    m_budget.enforce(item->byteSize);
}

std::optional<ClipItem> ClipboardWatcher::makeItem()
{
    // Copies inside Nimbrel's own windows: the panel never becomes the active window, so the clipboard's
    // owner is asked as well as the application in front.
    if (m_pasteboard.isOwnContent())
        return std::nullopt;
    const auto front = m_workspace.frontmostApplication();
    std::optional<QString> source = front ? front->bundleIdentifier : std::nullopt;
    if (source && *source == m_workspace.ownBundleIdentifier())
        return std::nullopt;
    const std::optional<QString> name = front ? front->localizedName : std::nullopt;
    const QDateTime now = m_clock.now();

    if (const auto png = readImageData())
        return ClipItem::make(ClipKind::image, std::nullopt, *png, makeThumbnail(*png), source, name, now);

    if (const auto urls = m_pasteboard.urls(); urls && !urls->isEmpty()) {
        const QUrl& first = urls->first();
        if (first.isLocalFile())
            return std::nullopt;  // copied files are not recorded, and their names are not read as text
        if (first.isValid() && !first.isRelative()) {
            const QString address = QString::fromUtf8(first.toEncoded());
            return ClipItem::make(ClipKind::link, address, std::nullopt, std::nullopt, source, name, now);
        }
    }

    std::optional<QString> text = m_pasteboard.string();
    if (!text || text->isEmpty()) {
        text.reset();
        for (const QString& type : rtfTypes) {
            if (const auto rtf = m_pasteboard.data(type)) {
                text = plainTextFromRtf(*rtf);
                if (text)
                    break;
            }
        }
    }
    if (!text || text->isEmpty())
        return std::nullopt;
    return ClipItem::make(classify(*text), *text, std::nullopt, std::nullopt, source, name, now);
}

std::optional<QByteArray> ClipboardWatcher::readImageData()
{
    const QStringList types = m_pasteboard.types();
    if (types.contains(pngType))
        if (auto png = m_pasteboard.data(pngType); png && checkImageHeader(*png, "png"))
            return png;
    if (types.contains(tiffType)) {
        if (const auto tiff = m_pasteboard.data(tiffType)) {
            if (const auto image = decodeImage(*tiff, "tiff"))
                if (auto png = pngData(*image, std::nullopt))
                    return png;
        }
    }
    if (hasFileAddress(m_pasteboard, types))
        return std::nullopt;
    const auto image = m_pasteboard.image();
    if (!image)
        return std::nullopt;
    return pngData(*image, maxGenericImageSide);
}

bool ClipboardWatcher::isDuplicateOfLatest(const ClipItem& item)
{
    FetchDescriptor newest;
    newest.sortByCreatedAt = SortOrder::descending;
    newest.limit = 1;
    auto latest = m_store.fetch(newest);
    if (!latest || latest->isEmpty())
        return false;
    ClipItem& last = latest->first();
    if (last.kindRaw != item.kindRaw)
        return false;
    if (last.kind() == ClipKind::image) {
        if (last.byteSize != item.byteSize || !m_store.loadImages(last))
            return false;
        return last.contentImage == item.contentImage;
    }
    if (last.contentText.has_value() != item.contentText.has_value())
        return false;
    if (!last.contentText)
        return true;
    // Canonically equivalent texts are the same text.
    return last.contentText->normalized(QString::NormalizationForm_C) ==
           item.contentText->normalized(QString::NormalizationForm_C);
}

}  // namespace nimbrel
