#include "history/ImageDecoding.h"

#include <QBuffer>
#include <QImageIOHandler>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace nimbrel {

namespace {

constexpr QByteArrayView pngSignature("\x89PNG\r\n\x1A\n", 8);
// Besides PNG, which is checked here rather than by Qt. Not GIF: Qt gives the size of its first frame as its
// size, but decodes it at the size of its screen, which its header does not bound.
constexpr std::array otherFormats{QByteArrayView("jpeg"), QByteArrayView("tiff"), QByteArrayView("bmp"),
                                  QByteArrayView("webp")};
// The ancillary PNG chunks that change how the pixels look; each has a small fixed size.
constexpr std::array drawingChunks{QByteArrayView("tRNS"), QByteArrayView("gAMA"), QByteArrayView("cHRM"),
                                   QByteArrayView("sRGB")};

// Length and type before a chunk's data, its CRC after.
constexpr qsizetype pngChunkOverhead = 12;

struct PngChunk {
    QByteArrayView type;
    QByteArrayView data;
    QByteArrayView whole;
};

// The chunk at `offset`; none when it is cut short, its length is beyond PNG's 2^31 - 1, or its type is not four
// letters.
std::optional<PngChunk> pngChunkAt(QByteArrayView bytes, qsizetype offset)
{
    if (bytes.size() - offset < pngChunkOverhead)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(bytes.data() + offset);
    if (length > 0x7FFF'FFFFu || length > quint64(bytes.size() - offset - pngChunkOverhead))
        return std::nullopt;
    const QByteArrayView type = bytes.sliced(offset + 4, 4);
    if (!std::all_of(type.begin(), type.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }))
        return std::nullopt;
    return PngChunk{type, bytes.sliced(offset + 8, length), bytes.sliced(offset, pngChunkOverhead + length)};
}

std::optional<QSize> pngHeader(QByteArrayView bytes)
{
    const std::optional<PngChunk> header = pngChunkAt(bytes, pngSignature.size());
    if (!header || header->type != "IHDR" || header->data.size() != 13)
        return std::nullopt;
    const quint32 width = qFromBigEndian<quint32>(header->data.data());
    const quint32 height = qFromBigEndian<quint32>(header->data.data() + 4);
    if (width == 0 || height == 0 || quint64(width) * height > quint64(maxImagePixels))
        return std::nullopt;
    bool hasPixels = false;
    for (qsizetype offset = pngSignature.size() + header->whole.size();;) {
        const std::optional<PngChunk> chunk = pngChunkAt(bytes, offset);
        if (!chunk)
            return std::nullopt;
        if (chunk->type == "IEND")
            return hasPixels ? std::optional(QSize(int(width), int(height))) : std::nullopt;
        hasPixels = hasPixels || chunk->type == "IDAT";
        offset += chunk->whole.size();
    }
}

// A copy of a PNG up to its IEND without the ancillary chunks that do not draw. Critical chunks (an uppercase
// first letter) stay, known or not: the decoder must refuse what it cannot draw. A broken chunk ends the copy,
// though pngHeader has refused any PNG with one.
QByteArray drawingPart(QByteArrayView png)
{
    QByteArray copy = pngSignature.toByteArray();
    for (qsizetype offset = pngSignature.size();;) {
        const std::optional<PngChunk> chunk = pngChunkAt(png, offset);
        if (!chunk)
            return copy;
        const bool critical = chunk->type[0] >= 'A' && chunk->type[0] <= 'Z';
        if (critical || std::find(drawingChunks.begin(), drawingChunks.end(), chunk->type) != drawingChunks.end())
            copy += chunk->whole;
        if (chunk->type == "IEND")
            return copy;
        offset += chunk->whole.size();
    }
}

QByteArray canonicalFormat(QByteArrayView format)
{
    const QByteArray lower = format.toByteArray().toLower();
    if (lower == "jpg")
        return "jpeg";
    if (lower == "tif")
        return "tiff";
    return lower;
}

struct Header {
    QByteArray format;
    QSize size;
};

std::optional<Header> readHeader(const QByteArray& bytes, QByteArrayView format)
{
    const QByteArray expected = canonicalFormat(format);
    if (bytes.startsWith(pngSignature)) {
        if (!expected.isEmpty() && expected != "png")
            return std::nullopt;
        const std::optional<QSize> size = pngHeader(bytes);
        return size ? std::optional(Header{"png", *size}) : std::nullopt;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    // By content only: a label would make Qt try that decoder first, and then all the others.
    const QByteArray detected = canonicalFormat(QImageReader::imageFormat(&buffer));
    if ((!expected.isEmpty() && detected != expected) ||
        std::find(otherFormats.begin(), otherFormats.end(), detected) == otherFormats.end())
        return std::nullopt;
    QImageReader reader(&buffer, detected);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!reader.canRead() || size.width() <= 0 || size.height() <= 0 ||
        qint64(size.width()) * size.height() > maxImagePixels)
        return std::nullopt;
    return Header{detected, size};
}

}  // namespace

bool isDecodedFormat(QByteArrayView format)
{
    const QByteArray canonical = canonicalFormat(format);
    return canonical == "png" || std::find(otherFormats.begin(), otherFormats.end(), canonical) != otherFormats.end();
}

QSize fittedSize(const QSize& source, int maxSide)
{
    const int longest = std::max(source.width(), source.height());
    if (longest <= maxSide)
        return source;
    // A very thin image must not lose its short side: QImage::scaled gives a null image for a zero side.
    const auto scaled = [&](int side) { return std::max(1, qRound(static_cast<double>(side) * maxSide / longest)); };
    return QSize(scaled(source.width()), scaled(source.height()));
}

std::optional<QSize> checkImageHeader(const QByteArray& bytes, QByteArrayView format)
{
    const std::optional<Header> header = readHeader(bytes, format);
    return header ? std::optional(header->size) : std::nullopt;
}

std::optional<QImage> decodeImage(const QByteArray& bytes, QByteArrayView format, DecodeOptions options)
{
    static const bool limitSet = [] {
        QImageReader::setAllocationLimit(decodeAllocationLimitMiB);
        return true;
    }();
    Q_UNUSED(limitSet);

    const std::optional<Header> header = readHeader(bytes, format);
    if (!header)
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(header->format == "png" ? drawingPart(bytes) : bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer, header->format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(options.applyOrientation);
    // The reader scales before it turns the image, so the target is that of the size as stored.
    if (options.maxSide && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        const QSize target = fittedSize(header->size, *options.maxSide);
        if (target != header->size)
            reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    if (options.maxSide) {
        const QSize target = fittedSize(image.size(), *options.maxSide);
        if (target != image.size())
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (image.isNull())
            return std::nullopt;
    }
    return image;
}

}  // namespace nimbrel
