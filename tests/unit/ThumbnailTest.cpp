#include "history/ImageDecoding.h"
#include "history/Thumbnail.h"

#include <gtest/gtest.h>
#include <QBuffer>
#include <QByteArrayList>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>
#include <random>

using namespace nimbrel;

namespace {

QByteArray encoded(const QImage& image, const char* format,
                   QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(95);
    writer.setTransformation(transformation);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes;
}

QImage halves(QSize size, QColor left, QColor right)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(right);
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 2, size.height(), left);
    return image;
}

QImage filled(QSize size, QColor color = Qt::darkCyan)
{
    return halves(size, color, color);
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A JPEG whose APP1 segment holds a big-endian TIFF block with one entry: Orientation (0x0112), SHORT, 1 value.
QByteArray jpegWithOrientation(QSize stored, quint8 orientation)
{
    const QByteArray payload =
        QByteArray("Exif\0\0MM\x00\x2A\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00", 25) +
        char(orientation) + QByteArray(6, '\0');
    QByteArray jpeg = encoded(halves(stored, Qt::red, Qt::blue), "jpeg");
    return jpeg.insert(2, QByteArray("\xFF\xE1", 2) + bigEndian(quint32(payload.size() + 2)).mid(2) + payload);
}

// HEIC and JPEG are lossy: colours come back close, not equal.
bool near(QColor actual, QColor expected, int tolerance = 40)
{
    return qMax(qMax(qAbs(actual.red() - expected.red()), qAbs(actual.green() - expected.green())),
                qAbs(actual.blue() - expected.blue())) <= tolerance;
}

std::string sizeText(std::optional<QSize> size)
{
    return size ? std::to_string(size->width()) + "x" + std::to_string(size->height()) : "none";
}

// A well-formed PNG chunk, CRC included: the decoder would read it rather than skip it as damaged.
QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    quint32 crc = 0xFFFF'FFFFu;
    for (const char byte : QByteArray(type + data)) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB8'8320u & (0u - (crc & 1u)));
    }
    return bigEndian(quint32(data.size())) + type + data + bigEndian(~crc);
}

constexpr qsizetype afterHeader = 8 + 12 + 13;

QByteArray inserted(QByteArray png, const QByteArray& bytes)
{
    return png.insert(afterHeader, bytes);
}

QByteArray claimingSize(QByteArray png, quint32 width, quint32 height)
{
    return png.replace(8, 12 + 13, chunk("IHDR", bigEndian(width) + bigEndian(height) + png.mid(16 + 8, 5)));
}

}  // namespace

TEST(ImageDecoding, ChecksTheHeaderBeforeAnyDecoderSeesTheBytes)
{
    const QSize size(60, 40);
    const QByteArray png = encoded(filled(size), "png");
    ASSERT_TRUE(png.endsWith(chunk("IEND", {})));
    const QByteArray turnedTiff = encoded(filled(size), "tiff", QImageIOHandler::TransformationRotate90);
    // A zTXt chunk whose text inflates to 4 MB: under the decoder's own cap, so it would come out on the image.
    const QByteArray zText =
        chunk("zTXt", QByteArray("Comment\0\0", 9) + qCompress(QByteArray(4'000'000, 'a'), 9).mid(4));
    // One pixel on a screen 14337 pixels wide, which Qt decodes at the screen's size.
    const QByteArray gif(
        "GIF89a\x01\x38\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\xFF,"
        "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
        35);
    const auto sized = [](QSize size, const char* format) { return encoded(filled(size), format); };
    std::mt19937 generator(20240611);
    QByteArray noise(4096, '\0');
    for (char& byte : noise)
        byte = char(generator());
    const std::tuple<const char*, QByteArray, QByteArrayView, DecodeOptions, QSize, QSize> decoded[] = {
        {"PNG", png, {}, {}, size, size},
        {"JPEG labelled jpg", sized(size, "jpeg"), "jpg", {}, size, size},
        {"BMP", sized(size, "bmp"), {}, {}, size, size},
        {"WebP", sized(size, "webp"), {}, {}, size, size},
        // Metadata chunks never reach the decoder: their text would otherwise be on the image.
        {"PNG with a text", inserted(png, chunk("tEXt", QByteArray("Comment\0hello", 13))), {}, {}, size, size},
        {"PNG with a zTXt inflating to 4 MB", inserted(png, zText), {}, {}, size, size},
        {"PNG with bytes after its IEND", png + "trailing", {}, {}, size, size},
        {"TIFF turned a quarter, turned back", turnedTiff, {}, {.applyOrientation = true}, size, QSize(40, 60)},
        {"TIFF turned a quarter, as stored", turnedTiff, "tiff", {}, size, size},
        // PNG and JPEG are scaled while decoding, BMP afterwards; never up.
        {"PNG scaled", sized({2000, 1000}, "png"), {}, {.maxSide = 500}, QSize(2000, 1000), QSize(500, 250)},
        {"JPEG scaled", sized({2000, 1000}, "jpeg"), {}, {.maxSide = 500}, QSize(2000, 1000), QSize(500, 250)},
        {"BMP scaled", sized({600, 2000}, "bmp"), {}, {.maxSide = 512}, QSize(600, 2000), QSize(154, 512)},
        {"never scaled up", png, {}, {.maxSide = 500}, size, size},
    };
    for (const auto& [name, bytes, format, options, header, expected] : decoded) {
        SCOPED_TRACE(name);
        EXPECT_EQ(sizeText(checkImageHeader(bytes, format)), sizeText(header));
        const std::optional<QImage> image = decodeImage(bytes, format, options);
        ASSERT_EQ(sizeText(image ? std::optional(image->size()) : std::nullopt), sizeText(expected));
        EXPECT_TRUE(image->textKeys().isEmpty());
        EXPECT_TRUE(near(image->pixelColor(image->width() / 2, image->height() / 2), Qt::darkCyan, 12));
    }
    // Refused by the header check, never decoded.
    const std::tuple<const char*, QByteArray, QByteArrayView> refused[] = {
        {"tEXt claiming 2 GB", inserted(png, bigEndian(0x7FFF'FFF0) + "tEXtComment"), {}},
        {"chunk length beyond 2^31 - 1", inserted(png, bigEndian(0xFFFF'FFFF) + "tEXtComment"), {}},
        {"chunk type that is no letters", inserted(png, chunk(QByteArray("t\0Xt", 4), "x")), {}},
        {"PNG a row above the pixel limit", claimingSize(png, 10000, 10001), {}},
        {"PNG claiming no width", claimingSize(png, 0, 40), {}},
        {"PNG claiming 2^32 - 1 × 2^32 - 1", claimingSize(png, 0xFFFF'FFFF, 0xFFFF'FFFF), {}},
        {"PNG cut in half", png.left(png.size() / 2), {}},
        {"PNG without its IEND", png.chopped(12), {}},
        {"PNG without pixel data", png.left(afterHeader) + chunk("IEND", {}), {}},
        {"random bytes labelled PNG", noise, "png"},
        {"random bytes after a PNG signature", png.left(8) + noise, {}},
        {"empty", QByteArray(), {}},
        {"JPEG labelled PNG", sized(size, "jpeg"), "png"},
        {"PNG labelled TIFF", png, "tiff"},
        {"a format applications do not copy (PPM)", sized(size, "ppm"), {}},
        {"GIF", gif, {}},
    };
    for (const auto& [name, bytes, format] : refused) {
        EXPECT_FALSE(checkImageHeader(bytes, format).has_value()) << name;
        EXPECT_FALSE(decodeImage(bytes, format, {}).has_value()) << name;
    }
}

// The longest side comes down to 512 (rounded, at least a pixel), smaller images keep their size, and the EXIF
// orientation is applied: 6 turns 90° clockwise to display (the left edge becomes the top), 8 anticlockwise.
TEST(Thumbnail, ScalesDownAndTurnsAsTheImageSays)
{
    const auto image = [](QSize size, const char* format) { return encoded(halves(size, Qt::red, Qt::blue), format); };
    const std::tuple<QByteArray, QSize, QPoint, QPoint> cases[] = {
        // where the left (red) and right half end up
        {image({4000, 3000}, "png"), {512, 384}, {100, 192}, {412, 192}},
        {image({600, 2000}, "png"), {154, 512}, {30, 256}, {124, 256}},  // 153.6 rounds up
        {image({5000, 2}, "bmp"), {512, 1}, {100, 0}, {412, 0}},         // 0.2048 would be no pixel at all
        {jpegWithOrientation({1000, 600}, 6), {307, 512}, {150, 50}, {150, 460}},
        {jpegWithOrientation({1000, 600}, 8), {307, 512}, {150, 460}, {150, 50}},
    };
    for (const auto& [source, expected, redAt, blueAt] : cases) {
        SCOPED_TRACE(sizeText(expected));
        const QByteArray thumbnail = makeThumbnail(source).value_or(QByteArray());
        EXPECT_TRUE(QByteArrayList({"ftypheic", "ftypheix", "ftypmif1"}).contains(thumbnail.mid(4, 8)));
        const QImage decoded = decodeThumbnail(thumbnail).value_or(QImage());
        EXPECT_EQ(decoded.size(), expected);
        EXPECT_TRUE(near(decoded.pixelColor(redAt), Qt::red) && near(decoded.pixelColor(blueAt), Qt::blue));
        EXPECT_FALSE(decoded.hasAlphaChannel());
    }
}

// Only what decodes as an image within a thumbnail's size gives or reads a thumbnail.
TEST(Thumbnail, UndecodableOrHostileBytesGiveNone)
{
    const QImage source = halves({64, 32}, Qt::red, Qt::blue);
    const QByteArray heic = *encodeImage(source, ImageType::heic);
    const QByteArray png = *encodeImage(source, ImageType::png);
    // Qt has no HEIC decoder: no thumbnail rather than a wrong one.
    for (const QByteArray& bytes : {QByteArray("not an image at all"), QByteArray("\xFF\xD8\xFF", 3), heic})
        EXPECT_FALSE(makeThumbnail(bytes).has_value()) << bytes.left(16).toHex().toStdString();
    for (const QByteArray& bytes : {heic, png}) {
        const std::optional<QImage> decoded = decodeThumbnail(bytes);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->size(), QSize(64, 32));
        EXPECT_TRUE(near(decoded->pixelColor(8, 16), Qt::red) && near(decoded->pixelColor(56, 16), Qt::blue));
    }
    // Not one of Nimbrel's thumbnails; a hostile one claiming a giant size once took gigabytes.
    const QByteArray large = *encodeImage(QImage(600, 8, QImage::Format_RGB32), ImageType::heic);
    for (const QByteArray& bytes : {heic.left(40), heic.left(heic.size() / 2), png.left(33),
                                    QByteArrayLiteral("0123456789abcdef"), QByteArray(), large})
        EXPECT_FALSE(decodeThumbnail(bytes).has_value()) << bytes.size();
}
