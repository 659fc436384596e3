#include "history/ImageDecoding.h"
#include "history/Thumbnail.h"
#include "support/fake/FakePlatform.h"

#include <QBuffer>
#include <QColor>
#include <QIconEngine>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

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

QImage filled(QSize size, QColor color = Qt::darkCyan, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(color);
    return image;
}

// Left half `left`, right half `right`.
QImage halves(QSize size, QColor left, QColor right)
{
    QImage image = filled(size, right);
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 2, size.height(), left);
    return image;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A JPEG whose APP1 segment holds a big-endian TIFF block with one entry: Orientation (0x0112), SHORT, 1 value.
QByteArray jpegWithOrientation(const QImage& stored, quint8 orientation)
{
    const QByteArray payload =
        QByteArray("Exif\0\0MM\x00\x2A\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00", 25) +
        char(orientation) + QByteArray(6, '\0');
    QByteArray jpeg = encoded(stored, "jpeg");
    return jpeg.insert(2, QByteArray("\xFF\xE1", 2) + bigEndian(quint32(payload.size() + 2)).mid(2) + payload);
}

bool isHeic(const QByteArray& bytes)
{
    const QByteArray brand = bytes.mid(8, 4);
    return bytes.mid(4, 4) == "ftyp" && (brand == "heic" || brand == "heix" || brand == "mif1");
}

// HEIC and JPEG are lossy: colours come back close, not equal.
bool near(QColor actual, QColor expected, int tolerance = 40)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
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

QByteArray withoutChunk(QByteArray png, const QByteArray& type)
{
    const qsizetype at = png.indexOf(type) - 4;
    return png.remove(at, 12 + qFromBigEndian<quint32>(png.constData() + at));
}

QByteArray randomBytes(qsizetype size)
{
    std::mt19937 generator(20240611);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = char(generator());
    return bytes;
}

// An icon that needs no pixmap, so the test runs without a GUI application.
class NamedIconEngine final : public QIconEngine {
public:
    explicit NamedIconEngine(QString name) : m_name(std::move(name)) {}
    void paint(QPainter*, const QRect&, QIcon::Mode, QIcon::State) override {}
    QIconEngine* clone() const override { return new NamedIconEngine(m_name); }
    QString iconName() override { return m_name; }

private:
    QString m_name;
};

}  // namespace

TEST(ImageDecoding, ChecksTheHeaderBeforeAnyDecoderSeesTheBytes)
{
    const QSize size(60, 40);
    const QByteArray png = encoded(filled(size), "png");
    ASSERT_TRUE(png.endsWith(chunk("IEND", {})));
    const DecodeOptions plain;
    const DecodeOptions turned{.applyOrientation = true};
    const auto fitting = [](int side) { return DecodeOptions{.maxSide = side}; };
    const QByteArray turnedTiff = encoded(filled(size), "tiff", QImageIOHandler::TransformationRotate90);
    // A zTXt chunk whose text inflates to 4 MB: under the decoder's own cap, so it would come out on the image.
    const QByteArray zText =
        chunk("zTXt", QByteArray("Comment\0\0", 9) + qCompress(QByteArray(4'000'000, 'a'), 9).mid(4));
    // One pixel on a screen 14337 pixels wide, which Qt decodes at the screen's size.
    const QByteArray gif(
        "GIF89a\x01\x38\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\xFF,"
        "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
        35);
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
        {"JPEG labelled jpg", encoded(filled(size), "jpeg"), "jpg", plain, size, size},
        {"TIFF labelled TIFF", encoded(filled(size), "tiff"), "tiff", plain, size, size},
        {"BMP", encoded(filled(size), "bmp"), {}, plain, size, size},
        {"WebP", encoded(filled(size), "webp"), {}, plain, size, size},
        // Metadata chunks never reach the decoder: their text would otherwise be on the image.
        {"PNG with a text", inserted(png, chunk("tEXt", QByteArray("Comment\0hello", 13))), {}, plain, size, size},
        {"PNG with a zTXt inflating to 4 MB", inserted(png, zText), {}, plain, size, size},
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
        {"JPEG labelled PNG", encoded(filled(size), "jpeg"), "png", plain, {}, {}},
        {"PNG labelled TIFF", png, "tiff", plain, {}, {}},
        {"a format applications do not copy (PPM)", encoded(filled(size), "ppm"), {}, plain, {}, {}},
        {"GIF", gif, {}, plain, {}, {}},
        {"TIFF turned a quarter, turned back", turnedTiff, {}, turned, size, QSize(40, 60)},
        {"TIFF turned a quarter, as stored", turnedTiff, {}, plain, size, size},
        // PNG and JPEG are scaled while decoding, BMP afterwards.
        {"PNG scaled down", encoded(filled({2000, 1000}), "png"), {}, fitting(500), QSize(2000, 1000), QSize(500, 250)},
        {"JPEG scaled down",
         encoded(filled({2000, 1000}), "jpeg"),
         {},
         fitting(500),
         QSize(2000, 1000),
         QSize(500, 250)},
        {"BMP scaled down", encoded(filled({600, 2000}), "bmp"), {}, fitting(512), QSize(600, 2000), QSize(154, 512)},
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
        EXPECT_TRUE(near(image->pixelColor(image->width() / 2, image->height() / 2), Qt::darkCyan, 12));
    }
}

// The longest side comes down to 512 (rounded, at least a pixel), smaller images keep their size, and the EXIF
// orientation is applied: 6 turns 90° clockwise to display (the left edge becomes the top), 8 anticlockwise, 3
// half a turn.
TEST(Thumbnail, ScalesDownAndTurnsAsTheImageSays)
{
    const auto jpeg = [](QSize stored, quint8 orientation) {
        return jpegWithOrientation(halves(stored, Qt::red, Qt::blue), orientation);
    };
    const auto image = [](QSize size, const char* format) { return encoded(halves(size, Qt::red, Qt::blue), format); };
    struct Case {
        QByteArray source;
        QSize expected;
        QPoint redAt;  // where the source's left (red) half ends up
        QPoint blueAt;
    };
    const Case cases[] = {
        {image({4000, 3000}, "png"), {512, 384}, {100, 192}, {412, 192}},
        {image({4000, 3000}, "bmp"), {512, 384}, {100, 192}, {412, 192}},
        {image({300, 200}, "png"), {300, 200}, {50, 100}, {250, 100}},
        {image({600, 2000}, "png"), {154, 512}, {30, 256}, {124, 256}},  // 153.6 rounds up
        {image({513, 100}, "png"), {512, 100}, {100, 50}, {412, 50}},
        {image({5000, 2}, "png"), {512, 1}, {100, 0}, {412, 0}},  // 0.2048 would be no pixel at all
        {image({5000, 2}, "bmp"), {512, 1}, {100, 0}, {412, 0}},
        {jpeg({40, 20}, 6), {20, 40}, {10, 5}, {10, 35}},
        {jpeg({1000, 600}, 6), {307, 512}, {150, 50}, {150, 460}},
        {jpeg({1000, 600}, 8), {307, 512}, {150, 460}, {150, 50}},
        {jpeg({1000, 600}, 3), {512, 307}, {460, 150}, {50, 150}},
        {jpeg({1000, 600}, 1), {512, 307}, {50, 150}, {460, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sizeText(c.expected));
        const std::optional<QByteArray> thumbnail = makeThumbnail(c.source);
        ASSERT_TRUE(thumbnail.has_value());
        EXPECT_TRUE(isHeic(*thumbnail));
        const std::optional<QImage> decoded = decodeThumbnail(*thumbnail);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->size(), c.expected);
        EXPECT_TRUE(near(decoded->pixelColor(c.redAt), Qt::red));
        EXPECT_TRUE(near(decoded->pixelColor(c.blueAt), Qt::blue));
    }
}

TEST(Thumbnail, KeepsTranslucencyAndLeavesOpaqueImagesWithoutAlpha)
{
    QImage translucent = filled({200, 100}, Qt::green, QImage::Format_ARGB32);
    QPainter painter(&translucent);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(0, 0, 100, 100, Qt::transparent);
    painter.end();
    const std::pair<QImage, bool> cases[] = {{translucent, true},
                                             {filled({200, 100}, Qt::green, QImage::Format_ARGB32), false}};
    for (const auto& [source, alpha] : cases) {
        SCOPED_TRACE(alpha);
        const std::optional<QByteArray> thumbnail = makeThumbnail(encoded(source, "png"));
        ASSERT_TRUE(thumbnail.has_value());
        EXPECT_TRUE(isHeic(*thumbnail));
        const std::optional<QImage> decoded = decodeThumbnail(*thumbnail);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->hasAlphaChannel(), alpha);
        EXPECT_EQ(decoded->pixelColor(150, 50).alpha(), 255);
        EXPECT_TRUE(near(decoded->pixelColor(150, 50), Qt::green));
        if (alpha) {
            EXPECT_LT(decoded->pixelColor(50, 50).alpha(), 16);
        }
    }
}

TEST(Thumbnail, FallsBackToPngWhenHeicCannotBeEncoded)
{
    struct Case {
        bool heicWorks;
        bool pngWorks;
        std::vector<ImageType> expectedCalls;
        std::optional<ImageType> made;
    };
    const Case cases[] = {
        {true, true, {ImageType::heic}, ImageType::heic},
        {false, true, {ImageType::heic, ImageType::png}, ImageType::png},
        {false, false, {ImageType::heic, ImageType::png}, std::nullopt},
    };
    const QImage thumbnail = *thumbnailImage(encoded(filled({1000, 500}, Qt::yellow), "png"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.heicWorks ? "HEIC" : "no HEIC") + (c.pngWorks ? ", PNG" : ", no PNG"));
        std::vector<ImageType> calls;
        const ImageEncoder encoder = [&](const QImage& image, ImageType type) -> std::optional<QByteArray> {
            calls.push_back(type);
            if ((type == ImageType::heic && !c.heicWorks) || (type == ImageType::png && !c.pngWorks))
                return std::nullopt;
            return encodeImage(image, type);
        };
        const std::optional<QByteArray> bytes = encodePreferringHeic(thumbnail, encoder);
        EXPECT_EQ(calls, c.expectedCalls);
        ASSERT_EQ(bytes.has_value(), c.made.has_value());
        if (!bytes)
            continue;
        EXPECT_EQ(isHeic(*bytes), c.made == ImageType::heic);
        EXPECT_EQ(bytes->startsWith("\x89PNG\r\n\x1A\n"), c.made == ImageType::png);
        const std::optional<QImage> decoded = decodeThumbnail(*bytes);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->size(), QSize(512, 256));
        EXPECT_TRUE(near(decoded->pixelColor(256, 128), Qt::yellow));
    }
    for (const ImageType type : {ImageType::heic, ImageType::png})
        EXPECT_FALSE(encodeImage(QImage(), type).has_value());
}

// Only what decodes as an image within a thumbnail's size gives or reads a thumbnail.
TEST(Thumbnail, UndecodableOrHostileBytesGiveNone)
{
    const QImage source = halves({64, 32}, Qt::red, Qt::blue);
    const QByteArray heic = *encodeImage(source, ImageType::heic);
    const QByteArray png = *encodeImage(source, ImageType::png);
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("not an image at all"), png.left(33), QByteArray("\xFF\xD8\xFF", 3),
          heic}) {  // Qt has no HEIC decoder: no thumbnail rather than a wrong one
        EXPECT_FALSE(makeThumbnail(bytes).has_value()) << bytes.left(16).toHex().toStdString();
    }
    struct Case {
        const char* name;
        QByteArray data;
        bool decodes;
    };
    const Case cases[] = {
        {"HEIC", heic, true},
        {"PNG", png, true},
        {"HEIC cut after its header", heic.left(40), false},
        {"HEIC cut in half", heic.left(heic.size() / 2), false},
        {"PNG cut after its header", png.left(33), false},
        {"garbage", QByteArrayLiteral("0123456789abcdef"), false},
        {"empty", QByteArray(), false},
        // Not one of Nimbrel's thumbnails; a hostile one claiming a giant size once took gigabytes.
        {"HEIC larger than any thumbnail", *encodeImage(QImage(600, 8, QImage::Format_RGB32), ImageType::heic), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QImage> decoded = decodeThumbnail(c.data);
        ASSERT_EQ(decoded.has_value(), c.decodes);
        if (!decoded)
            continue;
        EXPECT_EQ(decoded->size(), QSize(64, 32));
        EXPECT_TRUE(near(decoded->pixelColor(8, 16), Qt::red));
        EXPECT_TRUE(near(decoded->pixelColor(56, 16), Qt::blue));
    }
}

// A cached image is returned whatever data comes with a later request; absent or undecodable data caches
// nothing; the cache costs four bytes a pixel and gives its oldest images up beyond its limit.
TEST(ThumbnailCache, CachesDecodedImagesWithinItsLimit)
{
    ThumbnailCache cache;
    const QUuid red = QUuid::createUuid();
    ASSERT_TRUE(cache.image(red, *encodeImage(filled({30, 20}, Qt::red), ImageType::png)).has_value());
    for (const std::optional<QByteArray>& data : {std::optional<QByteArray>(), std::optional(QByteArray("garbage")),
                                                  encodeImage(filled({40, 40}, Qt::blue), ImageType::png)}) {
        const std::optional<QImage> image = cache.image(red, data);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->size(), QSize(30, 20));
        EXPECT_EQ(image->pixelColor(0, 0), QColor(Qt::red));
    }
    const QUuid other = QUuid::createUuid();
    for (const std::optional<QByteArray>& data :
         {std::optional<QByteArray>(), std::optional(QByteArray("garbage")), std::optional(QByteArray())}) {
        EXPECT_FALSE(cache.image(other, data).has_value());
        EXPECT_EQ(cache.cachedCount(), 1);
        EXPECT_EQ(cache.totalCost(), 30 * 20 * 4);
    }
    // 512 × 512 × 4 bytes each: the oldest go once the limit is reached.
    const QByteArray big = *encodeImage(filled({512, 512}, Qt::red), ImageType::png);
    std::vector<QUuid> ids = {red};
    for (qint64 cost = 30 * 20 * 4; cost <= ThumbnailCache::maxCost; cost += 512 * 512 * 4) {
        ids.push_back(QUuid::createUuid());
        ASSERT_TRUE(cache.image(ids.back(), big).has_value());
    }
    EXPECT_LE(cache.totalCost(), ThumbnailCache::maxCost);
    EXPECT_EQ(cache.totalCost(), cache.cachedCount() * 512 * 512 * 4);
    EXPECT_FALSE(cache.image(red, std::nullopt).has_value());
    EXPECT_TRUE(cache.image(ids[2], std::nullopt).has_value());
    EXPECT_TRUE(cache.image(ids.back(), std::nullopt).has_value());
}

TEST(AppIconCache, LooksEachIdentifierUpOnceAndRemembersMisses)
{
    fake::FakeWorkspace workspace;
    workspace.installedApplications.insert(QStringLiteral("org.example.Editor"),
                                           QIcon(new NamedIconEngine(QStringLiteral("text-editor"))));
    AppIconCache cache(workspace);
    const std::tuple<std::optional<QString>, bool, int> steps[] = {
        {std::nullopt, false, 0},
        {QStringLiteral("org.example.Missing"), false, 1},
        {QStringLiteral("org.example.Missing"), false, 1},
        {QStringLiteral("org.example.Editor"), true, 2},
        {QStringLiteral("org.example.Editor"), true, 2},
        {std::nullopt, false, 2},
    };
    for (const auto& [appId, hasIcon, lookupsAfter] : steps) {
        SCOPED_TRACE(appId.value_or(QStringLiteral("<none>")).toStdString());
        const std::optional<QIcon> icon = cache.appIcon(appId);
        EXPECT_EQ(icon.has_value(), hasIcon);
        EXPECT_EQ(icon ? icon->name() : QString(), hasIcon ? QStringLiteral("text-editor") : QString());
        EXPECT_EQ(workspace.iconLookups, lookupsAfter);
    }
}
