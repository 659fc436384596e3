#include "history/ClipboardCapture.h"

#include "history/ImageDecoding.h"
#include "history/RtfText.h"
#include "history/Thumbnail.h"
#include "platform/ClipboardMonitor.h"
#include "platform/Clock.h"

#include <QBuffer>
#include <QImageWriter>
#include <QUrl>

#include <cmath>

namespace nimbrel {

namespace {

using Status = ClipboardOffer::Status;

const QString pngType = QStringLiteral("image/png");
const QString tiffType = QStringLiteral("image/tiff");
const QString uriListType = QStringLiteral("text/uri-list");
const QString copiedFilesType = QStringLiteral("x-special/gnome-copied-files");
const QString passwordHintType = QStringLiteral("x-kde-passwordManagerHint");
const QStringList concealedTypes{QStringLiteral("org.nspasteboard.ConcealedType"),
                                 QStringLiteral("org.nspasteboard.TransientType")};
// Plain text in the order it is asked for: UTF-8 first; STRING is Latin-1 by the X11 convention.
const QStringList utf8TextTypes{QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"),
                                QStringLiteral("text/plain")};
const QString latin1TextType = QStringLiteral("STRING");
const QStringList rtfTypes{QStringLiteral("text/rtf"), QStringLiteral("text/richtext"),
                           QStringLiteral("application/rtf")};
const QString htmlType = QStringLiteral("text/html");
constexpr qint64 hintCap = 64;
constexpr int maxGenericImageSide = 1024;

QByteArray formatOf(const QString& imageType)
{
    return imageType.mid(6).toLatin1();
}

// Image types the image guard decodes, other than the two with rules of their own; others are never read.
bool isGenericImageType(const QString& type)
{
    return type.startsWith(QLatin1String("image/")) && type != pngType && type != tiffType &&
           isDecodedFormat(formatOf(type));
}

bool hasFileAddress(const CapturedChange& change)
{
    if (change.data(copiedFilesType))
        return true;
    const auto list = change.data(uriListType);
    if (!list)
        return false;
    const QList<QUrl> urls = parseUriList(*list, false);
    return std::any_of(urls.cbegin(), urls.cend(), [](const QUrl& url) { return url.isLocalFile(); });
}

struct Reader {
    ClipboardOffer& offer;
    CapturedChange& change;
    qint64 cap;

    // Reads one representation into the change; the status of the read otherwise.
    Status take(const QString& type, qint64 limit)
    {
        ClipboardOffer::Read read = offer.read(type, limit);
        if (read.status == Status::ok)
            change.representations.append({type, std::move(read.bytes)});
        return read.status;
    }
    Status take(const QString& type) { return take(type, cap); }
};

// A failed read that ends the change: the contents are gone, the owner hangs or the data is too big.
std::optional<CapturedChange::Outcome> fatal(Status status)
{
    switch (status) {
        case Status::ok:
        case Status::missing:
            return std::nullopt;
        case Status::tooLarge:
            return CapturedChange::Outcome::tooLarge;
        case Status::timedOut:
            return CapturedChange::Outcome::unanswered;
        case Status::superseded:
            return CapturedChange::Outcome::ignored;
    }
    return std::nullopt;
}

// The first image representation whose header is sound; none found is not a failure.
std::optional<CapturedChange::Outcome> readImage(Reader& reader, const QStringList& types)
{
    QStringList candidates;
    for (const QString& type : {pngType, tiffType})
        if (types.contains(type))
            candidates.append(type);
    for (const QString& type : types)
        if (isGenericImageType(type))
            candidates.append(type);
    for (const QString& type : candidates) {
        if (isGenericImageType(type) && hasFileAddress(reader.change))
            return std::nullopt;  // a copied file is not an image, even where it could be shown as one
        if (const auto failed = fatal(reader.take(type)))
            return failed;
        const auto bytes = reader.change.data(type);
        if (bytes && checkImageHeader(*bytes, formatOf(type)))
            return std::nullopt;
        // Not an image after all: the next representation gets its chance.
        reader.change.representations.removeIf([&type](const auto& entry) { return entry.first == type; });
    }
    return std::nullopt;
}

bool hasImage(const CapturedChange& change)
{
    return std::any_of(change.representations.cbegin(), change.representations.cend(),
                       [](const auto& entry) { return entry.first.startsWith(QLatin1String("image/")); });
}

// The first text offered that is not empty; an empty one only when that is all there is.
std::optional<QString> textOf(const CapturedChange& change)
{
    std::optional<QString> text;
    for (const QString& type : utf8TextTypes) {
        if (const auto bytes = change.data(type); bytes && (text = QString::fromUtf8(*bytes), !text->isEmpty()))
            return text;
    }
    if (const auto bytes = change.data(latin1TextType))
        return QString::fromLatin1(*bytes);
    return text;
}

}  // namespace

std::optional<QByteArray> CapturedChange::data(const QString& type) const
{
    for (const auto& [name, bytes] : representations)
        if (name == type)
            return bytes;
    return std::nullopt;
}

QList<QUrl> parseUriList(const QByteArray& bytes, bool skipFirstLine)
{
    // One address per line; "#" lines are comments.
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

CapturedChange readChange(ClipboardOffer& offer, const Workspace& workspace, const Clock& clock, qint64 cap,
                          const CaptureGate* gate)
{
    CapturedChange change;
    change.capturedAt = clock.now();
    change.selection = offer.selection();
    // Paused, or an excluded application in front: not even the types are asked for.
    change.heldBack = gate && gate->isPaused();
    if (change.heldBack)
        return change;
    const std::optional<RunningApplication> front = workspace.frontmostApplication();
    change.heldBack = gate && gate->excludes(front);
    if (change.heldBack)
        return change;
    const ClipboardOffer::TypeList offered = offer.types();
    if (const auto failed = fatal(offered.status); failed || offered.status != Status::ok) {
        change.outcome = failed.value_or(CapturedChange::Outcome::ignored);
        return change;
    }
    const QStringList& types = offered.types;
    // Nimbrel's own writes, and what password managers mark secret, are never read.
    if (types.contains(ownMarkerType) || offer.isOwnContent())
        return change;
    for (const QString& type : concealedTypes) {
        if (types.contains(type)) {
            change.secret = true;
            return change;
        }
    }
    if (types.contains(passwordHintType)) {
        const ClipboardOffer::Read hint = offer.read(passwordHintType, hintCap);
        if (hint.status != Status::ok || hint.bytes.trimmed() == "secret") {
            change.secret = true;
            return change;
        }
    }
    // Copies inside Nimbrel's own windows: the panel never becomes the active window, so the owner is
    // asked above as well as the application in front here.
    change.source = front;
    if (change.source && change.source->applicationId == workspace.ownApplicationId())
        return change;

    Reader reader{offer, change, cap};
    for (const QString& type : {uriListType, copiedFilesType}) {
        if (!types.contains(type))
            continue;
        if (const auto failed = fatal(reader.take(type))) {
            change.outcome = *failed;
            change.representations.clear();
            return change;
        }
    }
    if (const auto failed = readImage(reader, types)) {
        change.outcome = *failed;
        change.representations.clear();
        return change;
    }
    // The text is read also beside an image, as the fallback should the image not decode after all; a
    // text that cannot be had then costs the image nothing.
    const bool image = hasImage(change);
    QStringList textTypes = utf8TextTypes;
    textTypes.append(latin1TextType);
    for (const QString& type : textTypes) {
        if (!types.contains(type))
            continue;
        const Status status = reader.take(type);
        if (status == Status::ok && !change.data(type)->isEmpty())
            break;
        if (const auto failed = fatal(status); failed && !image) {
            change.outcome = *failed;
            change.representations.clear();
            return change;
        }
    }
    // The formatted forms of a text, kept with it: HTML and the first RTF offered. Without plain text the
    // RTF is where the text comes from, so failing to read it fails the change; beside plain text a
    // failure only costs the formatting.
    const auto text = textOf(change);
    const bool plain = text && !text->isEmpty();
    if (!image) {
        QStringList formatTypes;
        if (types.contains(htmlType) && plain)
            formatTypes.append(htmlType);
        for (const QString& type : rtfTypes) {
            if (types.contains(type)) {
                formatTypes.append(type);
                break;
            }
        }
        for (const QString& type : formatTypes) {
            const auto failed = fatal(reader.take(type));
            if (failed && !plain) {
                change.outcome = *failed;
                change.representations.clear();
                return change;
            }
            if (failed)
                break;
        }
    }
    change.outcome = CapturedChange::Outcome::contents;
    return change;
}

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

namespace {

// The PNG bytes of the change's image and the thumbnail made of them; none when no image decodes.
std::optional<std::pair<QByteArray, std::optional<QByteArray>>> imageOf(const CapturedChange& change)
{
    for (const auto& [type, bytes] : change.representations) {
        if (!type.startsWith(QLatin1String("image/")))
            continue;
        if (type == pngType) {
            // Kept as it came; the thumbnail's decoding is the proof that it is an image.
            if (auto thumbnail = makeThumbnail(bytes))
                return std::pair{bytes, std::move(thumbnail)};
            if (decodeImage(bytes, "png"))
                return std::pair{bytes, std::optional<QByteArray>()};
            continue;
        }
        const auto decoded = decodeImage(bytes, formatOf(type));
        if (!decoded)
            continue;
        const auto png = pngData(*decoded, type == tiffType ? std::nullopt : std::optional<int>(maxGenericImageSide));
        if (png)
            return std::pair{*png, makeThumbnail(*png)};
    }
    return std::nullopt;
}

}  // namespace

std::optional<ClipItem> makeItem(const CapturedChange& change)
{
    if (change.outcome != CapturedChange::Outcome::contents)
        return std::nullopt;
    const std::optional<QString> source = change.source ? change.source->applicationId : std::nullopt;
    const std::optional<QString> name = change.source ? change.source->localizedName : std::nullopt;
    const QDateTime& at = change.capturedAt;

    if (auto image = imageOf(change))
        return ClipItem::make(ClipKind::image, std::nullopt, image->first, image->second, source, name, at);

    std::optional<QList<QUrl>> urls;
    if (const auto list = change.data(uriListType))
        urls = parseUriList(*list, false);
    else if (const auto files = change.data(copiedFilesType))
        urls = parseUriList(*files, true);
    if (urls && !urls->isEmpty()) {
        const QUrl& first = urls->first();
        if (first.isLocalFile())
            return std::nullopt;  // copied files are not recorded, and their names are not read as text
        if (first.isValid() && !first.isRelative()) {
            const QString address = QString::fromUtf8(first.toEncoded());
            return ClipItem::make(ClipKind::link, address, std::nullopt, std::nullopt, source, name, at);
        }
    }

    QList<std::pair<QString, QByteArray>> formats;
    for (const auto& entry : change.representations)
        if (entry.first == htmlType || rtfTypes.contains(entry.first))
            formats.append(entry);
    std::optional<QString> text = textOf(change);
    if (!text || text->isEmpty()) {
        text.reset();
        for (const auto& [type, bytes] : formats) {
            if (rtfTypes.contains(type) && (text = plainTextFromRtf(bytes)))
                break;
        }
    }
    if (!text || text->isEmpty())
        return std::nullopt;
    return ClipItem::make(classify(*text), *text, std::nullopt, std::nullopt, source, name, at, std::move(formats));
}

}  // namespace nimbrel
