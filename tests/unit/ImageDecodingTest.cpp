#include "history/ImageDecoding.h"

#include <QBuffer>
#include <QColor>
#include <QImageWriter>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace nimbrel;

namespace {

QByteArray encoded(QSize size, const char* format,
                   QImageIOHandler::Transformations transformation = QImageIOHandler::TransformationNone)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(transformation);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

quint32 crc32(QByteArrayView bytes)
{
    quint32 crc = 0xFFFF'FFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB8'8320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A well-formed chunk, CRC included: the decoder would read it rather than skip it as damaged.
QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    return bigEndian(quint32(data.size())) + type + data + bigEndian(crc32(QByteArray(type + data)));
}

constexpr qsizetype afterHeader = 8 + 12 + 13;

QByteArray inserted(QByteArray png, const QByteArray& bytes)
{
    return png.insert(afterHeader, bytes);
}

QByteArray claimingSize(QByteArray png, quint32 width, quint32 height)
{
    const QByteArray header = bigEndian(width) + bigEndian(height) + png.mid(16 + 8, 5);
    return png.replace(8, 12 + 13, chunk("IHDR", header));
}

QByteArray withoutChunk(QByteArray png, const QByteArray& type)
{
    const qsizetype at = png.indexOf(type) - 4;
    return png.remove(at, 12 + qFromBigEndian<quint32>(png.constData() + at));
}

// A zTXt chunk whose text inflates to `size` bytes: well under the decoder's own 8 MB cap on a chunk, so that
// the text would come out on the image if the chunk reached the decoder.
QByteArray compressedText(int size)
{
    const QByteArray stream = qCompress(QByteArray(size, 'a'), 9).mid(4);  // without Qt's length prefix
    return chunk("zTXt", QByteArray("Comment\0\0", 9) + stream);
}

QByteArray randomBytes(qsizetype size)
{
    std::mt19937 generator(20240611);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = char(generator());
    return bytes;
}

// JPEG is lossy: colours come back close, not equal.
bool near(QColor actual, QColor expected)
{
    const int tolerance = 12;
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

std::string sizeText(std::optional<QSize> size)
{
    return size ? std::to_string(size->width()) + "x" + std::to_string(size->height()) : "none";
}

}  // namespace

TEST(ImageDecoding, ChecksTheHeaderBeforeAnyDecoderSeesTheBytes)
{
    const QSize size(60, 40);
    const QByteArray png = encoded(size, "png");
    ASSERT_TRUE(png.endsWith(chunk("IEND", {})));
    const DecodeOptions plain;
    const DecodeOptions turned{.applyOrientation = true};
    const auto fitting = [](int side) { return DecodeOptions{.maxSide = side}; };
    struct Case {
        const char* name;
        QByteArray bytes;
        QByteArrayView format;
        DecodeOptions options;
        std::optional<QSize> header;
        std::optional<QSize> decoded;
    };
    const Case cases[] = {
        {"PNG", png, {}, plain, size, size},
        {"PNG labelled PNG", png, "png", plain, size, size},
        {"JPEG", encoded(size, "jpeg"), {}, plain, size, size},
        {"TIFF labelled TIFF", encoded(size, "tiff"), "tiff", plain, size, size},
        {"BMP", encoded(size, "bmp"), {}, plain, size, size},
        {"WebP", encoded(size, "webp"), {}, plain, size, size},
        {"JPEG labelled jpg", encoded(size, "jpeg"), "jpg", plain, size, size},

        // Metadata chunks never reach the decoder: their text would otherwise be on the image.
        {"PNG with a text", inserted(png, chunk("tEXt", QByteArray("Comment\0hello", 13))), {}, plain, size, size},
        {"PNG with a zTXt inflating to 4 MB", inserted(png, compressedText(4'000'000)), {}, plain, size, size},
        {"PNG with bytes after its IEND", png + "trailing", {}, plain, size, size},

        {"tEXt claiming 2 GB", inserted(png, bigEndian(0x7FFF'FFF0) + "tEXtComment"), {}, plain, {}, {}},
        {"chunk length beyond 2^31 - 1", inserted(png, bigEndian(0xFFFF'FFFF) + "tEXtComment"), {}, plain, {}, {}},
        {"chunk type that is no letters", inserted(png, chunk(QByteArray("t\0Xt", 4), "x")), {}, plain, {}, {}},
        {"PNG claiming 20000 × 20000", claimingSize(png, 20000, 20000), {}, plain, {}, {}},
        {"PNG a row above the pixel limit", claimingSize(png, 10000, 10001), {}, plain, {}, {}},
        {"PNG claiming no width", claimingSize(png, 0, 40), {}, plain, {}, {}},
        {"PNG claiming 2^32 - 1 × 2^32 - 1", claimingSize(png, 0xFFFF'FFFF, 0xFFFF'FFFF), {}, plain, {}, {}},
        {"PNG cut in half", png.left(png.size() / 2), {}, plain, {}, {}},
        {"PNG without its IEND", png.chopped(12), {}, plain, {}, {}},
        {"PNG header only", png.left(afterHeader), {}, plain, {}, {}},
        {"PNG without pixel data", withoutChunk(png, "IDAT"), {}, plain, {}, {}},
        {"random bytes", randomBytes(4096), {}, plain, {}, {}},
        {"random bytes labelled PNG", randomBytes(4096), "png", plain, {}, {}},
        {"random bytes after a PNG signature", png.left(8) + randomBytes(4096), {}, plain, {}, {}},
        {"empty", QByteArray(), {}, plain, {}, {}},
        {"JPEG labelled PNG", encoded(size, "jpeg"), "png", plain, {}, {}},
        {"PNG labelled TIFF", png, "tiff", plain, {}, {}},
        {"a format applications do not copy (PPM)", encoded(size, "ppm"), {}, plain, {}, {}},
        // One pixel on a screen 14337 pixels wide, which Qt decodes at the screen's size.
        {"GIF",
         QByteArray("GIF89a\x01\x38\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\xFF,\x00\x00\x00\x00"
                    "\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                    35),
         {},
         plain,
         {},
         {}},

        {"TIFF turned a quarter, turned back",
         encoded(size, "tiff", QImageIOHandler::TransformationRotate90),
         {},
         turned,
         size,
         QSize(40, 60)},
        {"TIFF turned a quarter, as stored",
         encoded(size, "tiff", QImageIOHandler::TransformationRotate90),
         {},
         plain,
         size,
         size},
        // PNG and JPEG are scaled while decoding, BMP afterwards.
        {"PNG scaled down", encoded({2000, 1000}, "png"), {}, fitting(500), QSize(2000, 1000), QSize(500, 250)},
        {"JPEG scaled down", encoded({2000, 1000}, "jpeg"), {}, fitting(500), QSize(2000, 1000), QSize(500, 250)},
        {"BMP scaled down", encoded({600, 2000}, "bmp"), {}, fitting(512), QSize(600, 2000), QSize(154, 512)},
        {"never scaled up", png, {}, fitting(500), size, size},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sizeText(checkImageHeader(c.bytes, c.format)), sizeText(c.header));
        const std::optional<QImage> image = decodeImage(c.bytes, c.format, c.options);
        EXPECT_EQ(sizeText(image ? std::optional(image->size()) : std::nullopt), sizeText(c.decoded));
        if (!image)
            continue;
        EXPECT_TRUE(image->textKeys().isEmpty());
        const QColor centre = image->pixelColor(image->width() / 2, image->height() / 2);
        EXPECT_TRUE(near(centre, Qt::darkCyan)) << centre.name().toStdString();
    }
}
