#include "history/Thumbnail.h"
#include "support/fake/FakePlatform.h"

#include <QBuffer>
#include <QColor>
#include <QIconEngine>
#include <QImageWriter>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

using namespace nimbrel;

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(95);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes;
}

QImage filled(QSize size, QColor color, QImage::Format format = QImage::Format_RGB32)
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

// An APP1 segment holding a big-endian TIFF block with one IFD entry: Orientation (0x0112), SHORT, 1 value.
QByteArray exifOrientationSegment(quint8 orientation)
{
    QByteArray payload("Exif\0\0", 6);
    payload += QByteArray("MM\x00\x2A\x00\x00\x00\x08", 8);
    payload += QByteArray("\x00\x01", 2);
    payload += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    payload += char(0);
    payload += char(orientation);
    payload += QByteArray(2, '\0');
    payload += QByteArray(4, '\0');  // no next IFD
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return segment + payload;
}

QByteArray jpegWithOrientation(const QImage& stored, quint8 orientation)
{
    QByteArray jpeg = encoded(stored, "jpeg");
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8"));
    jpeg.insert(2, exifOrientationSegment(orientation));
    return jpeg;
}

bool isHeic(const QByteArray& bytes)
{
    const QByteArray brand = bytes.mid(8, 4);
    return bytes.mid(4, 4) == "ftyp" && (brand == "heic" || brand == "heix" || brand == "mif1");
}

bool isPng(const QByteArray& bytes)
{
    return bytes.startsWith("\x89PNG\r\n\x1A\n");
}

// HEIC is lossy: colours come back close, not equal.
bool near(QColor actual, QColor expected)
{
    const int tolerance = 40;
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
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

QString sizeText(QSize size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

}  // namespace

TEST(Thumbnail, ScalesTheLongestSideDownTo512AndKeepsSmallerImages)
{
    struct Case {
        QSize source;
        const char* format;
        QSize expected;
    };
    // PNG and JPEG decoders scale while reading; BMP is read whole and scaled afterwards.
    const Case cases[] = {
        {{4000, 3000}, "png", {512, 384}}, {{4000, 3000}, "jpeg", {512, 384}},
        {{4000, 3000}, "bmp", {512, 384}}, {{300, 200}, "png", {300, 200}},
        {{600, 2000}, "png", {154, 512}},  // 153.6 rounds up
        {{600, 2000}, "bmp", {154, 512}},  {{512, 512}, "png", {512, 512}},
        {{513, 100}, "png", {512, 100}},  // 99.8
        {{5000, 2}, "png", {512, 1}},     // 0.2048 would be no pixel at all
        {{5000, 2}, "bmp", {512, 1}},      {{1, 1}, "png", {1, 1}},
        {{3, 5}, "png", {3, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sizeText(c.source).toStdString() + " " + c.format);
        const std::optional<QByteArray> thumbnail = makeThumbnail(encoded(filled(c.source, Qt::darkCyan), c.format));
        ASSERT_TRUE(thumbnail.has_value());
        EXPECT_TRUE(isHeic(*thumbnail));
        const std::optional<QImage> decoded = decodeThumbnail(*thumbnail);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->size(), c.expected);
        EXPECT_TRUE(near(decoded->pixelColor(decoded->width() / 2, decoded->height() / 2), QColor(Qt::darkCyan)));
    }
}

TEST(Thumbnail, AppliesTheExifOrientation)
{
    struct Case {
        quint8 orientation;
        QSize stored;
        QSize expected;
        // Where the stored image's left (red) half ends up.
        QPoint redAt;
        QPoint blueAt;
    };
    // 6: turn 90° clockwise to display, so the left edge becomes the top; 8: 90° anticlockwise; 3: half a turn.
    const Case cases[] = {
        {6, {40, 20}, {20, 40}, {10, 5}, {10, 35}},          {6, {1000, 600}, {307, 512}, {150, 50}, {150, 460}},
        {8, {1000, 600}, {307, 512}, {150, 460}, {150, 50}}, {3, {1000, 600}, {512, 307}, {460, 150}, {50, 150}},
        {1, {1000, 600}, {512, 307}, {50, 150}, {460, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("orientation %1, %2").arg(c.orientation).arg(sizeText(c.stored)).toStdString());
        const QByteArray jpeg = jpegWithOrientation(halves(c.stored, Qt::red, Qt::blue), c.orientation);
        const std::optional<QByteArray> thumbnail = makeThumbnail(jpeg);
        ASSERT_TRUE(thumbnail.has_value());
        const std::optional<QImage> decoded = decodeThumbnail(*thumbnail);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->size(), c.expected);
        EXPECT_TRUE(near(decoded->pixelColor(c.redAt), Qt::red)) << decoded->pixelColor(c.redAt).name().toStdString();
        EXPECT_TRUE(near(decoded->pixelColor(c.blueAt), Qt::blue))
            << decoded->pixelColor(c.blueAt).name().toStdString();
    }
}

TEST(Thumbnail, UndecodableBytesGiveNone)
{
    const QByteArray png = encoded(filled({64, 64}, Qt::gray), "png");
    const QByteArray heic = *encodeImage(filled({64, 64}, Qt::gray), ImageType::heic);
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty", QByteArray()},
        {"text", QByteArrayLiteral("not an image at all")},
        {"PNG header only", png.left(33)},
        {"JPEG marker only", QByteArray("\xFF\xD8\xFF", 3)},
        // Qt has no HEIC decoder; a HEIC capture gets no thumbnail rather than a wrong one.
        {"HEIC", heic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(makeThumbnail(c.bytes).has_value());
    }
}

TEST(Thumbnail, KeepsTranslucencyAndLeavesOpaqueImagesWithoutAlpha)
{
    QImage translucent = filled({200, 100}, Qt::green, QImage::Format_ARGB32);
    {
        QPainter painter(&translucent);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(0, 0, 100, 100, Qt::transparent);
    }
    struct Case {
        const char* name;
        QImage source;
        bool alpha;
    };
    const Case cases[] = {
        {"half transparent", translucent, true},
        {"opaque in an alpha format", filled({200, 100}, Qt::green, QImage::Format_ARGB32), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QByteArray> thumbnail = makeThumbnail(encoded(c.source, "png"));
        ASSERT_TRUE(thumbnail.has_value());
        EXPECT_TRUE(isHeic(*thumbnail));
        const std::optional<QImage> decoded = decodeThumbnail(*thumbnail);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->hasAlphaChannel(), c.alpha);
        EXPECT_EQ(decoded->pixelColor(150, 50).alpha(), 255);
        EXPECT_TRUE(near(decoded->pixelColor(150, 50), Qt::green));
        if (c.alpha) {
            EXPECT_LT(decoded->pixelColor(50, 50).alpha(), 16);
        }
    }
}

TEST(Thumbnail, FallsBackToPngWhenHeicCannotBeEncoded)
{
    struct Case {
        const char* name;
        bool heicWorks;
        bool pngWorks;
        std::vector<ImageType> expectedCalls;
        bool expectHeic;
        bool expectPng;
    };
    const Case cases[] = {
        {"HEIC available", true, true, {ImageType::heic}, true, false},
        {"no HEIC encoder", false, true, {ImageType::heic, ImageType::png}, false, true},
        {"nothing encodes", false, false, {ImageType::heic, ImageType::png}, false, false},
    };
    const QImage thumbnail = *thumbnailImage(encoded(filled({1000, 500}, Qt::yellow), "png"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ImageType> calls;
        const ImageEncoder encoder = [&](const QImage& image, ImageType type) -> std::optional<QByteArray> {
            calls.push_back(type);
            if ((type == ImageType::heic && !c.heicWorks) || (type == ImageType::png && !c.pngWorks))
                return std::nullopt;
            return encodeImage(image, type);
        };
        const std::optional<QByteArray> bytes = encodePreferringHeic(thumbnail, encoder);
        EXPECT_EQ(calls, c.expectedCalls);
        EXPECT_EQ(bytes.has_value(), c.expectHeic || c.expectPng);
        if (!bytes)
            continue;
        EXPECT_EQ(isHeic(*bytes), c.expectHeic);
        EXPECT_EQ(isPng(*bytes), c.expectPng);
        const std::optional<QImage> decoded = decodeThumbnail(*bytes);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->size(), QSize(512, 256));
        EXPECT_TRUE(near(decoded->pixelColor(256, 128), Qt::yellow));
    }
}

TEST(Thumbnail, EncodeImageRefusesANullImage)
{
    for (ImageType type : {ImageType::heic, ImageType::png}) {
        SCOPED_TRACE(int(type));
        EXPECT_FALSE(encodeImage(QImage(), type).has_value());
    }
}

TEST(Thumbnail, DecodeThumbnailReadsHeicAndPngAndRefusesDamagedData)
{
    const QImage source = halves({64, 32}, Qt::red, Qt::blue);
    const QByteArray heic = *encodeImage(source, ImageType::heic);
    const QByteArray png = *encodeImage(source, ImageType::png);
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

TEST(ThumbnailCache, ACachedImageIsReturnedWhateverDataComesWithTheRequest)
{
    ThumbnailCache cache;
    const QUuid id = QUuid::createUuid();
    const QByteArray red = *encodeImage(filled({30, 20}, Qt::red), ImageType::png);
    ASSERT_TRUE(cache.image(id, red).has_value());
    const QByteArray blue = *encodeImage(filled({40, 40}, Qt::blue), ImageType::png);
    const std::optional<QByteArray> requests[] = {std::nullopt, QByteArrayLiteral("garbage"), blue};
    for (const std::optional<QByteArray>& data : requests) {
        const std::optional<QImage> image = cache.image(id, data);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->size(), QSize(30, 20));
        EXPECT_EQ(image->pixelColor(0, 0), QColor(Qt::red));
    }
    EXPECT_EQ(cache.cachedCount(), 1);
}

TEST(ThumbnailCache, AbsentOrUndecodableDataCachesNothing)
{
    const QByteArray valid = *encodeImage(filled({30, 20}, Qt::red), ImageType::png);
    struct Case {
        const char* name;
        std::optional<QByteArray> data;
    };
    const Case cases[] = {
        {"absent", std::nullopt},
        {"garbage", QByteArrayLiteral("garbage")},
        {"empty", QByteArray()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThumbnailCache cache;
        const QUuid id = QUuid::createUuid();
        EXPECT_FALSE(cache.image(id, c.data).has_value());
        EXPECT_EQ(cache.cachedCount(), 0);
        EXPECT_EQ(cache.totalCost(), 0);
        // Nothing was remembered for the id: good data given later is decoded.
        EXPECT_TRUE(cache.image(id, valid).has_value());
        EXPECT_EQ(cache.cachedCount(), 1);
    }
}

TEST(ThumbnailCache, CostIsFourBytesPerPixel)
{
    ThumbnailCache cache;
    ASSERT_TRUE(cache.image(QUuid::createUuid(), *encodeImage(filled({300, 200}, Qt::red), ImageType::png)));
    EXPECT_EQ(cache.totalCost(), 300 * 200 * 4);
    ASSERT_TRUE(cache.image(QUuid::createUuid(), *encodeImage(filled({512, 384}, Qt::red), ImageType::heic)));
    EXPECT_EQ(cache.totalCost(), 300 * 200 * 4 + 512 * 384 * 4);
    EXPECT_EQ(cache.cachedCount(), 2);
}

TEST(ThumbnailCache, EvictsBeyondThirtyTwoMebibytes)
{
    // 512 × 512 × 4 = 1 MiB per entry: 32 fit, the 33rd pushes the oldest out.
    const QByteArray data = *encodeImage(filled({512, 512}, Qt::red), ImageType::png);
    ThumbnailCache cache;
    std::vector<QUuid> ids;
    for (int i = 0; i < 33; ++i) {
        ids.push_back(QUuid::createUuid());
        ASSERT_TRUE(cache.image(ids.back(), data).has_value());
    }
    EXPECT_EQ(cache.cachedCount(), 32);
    EXPECT_EQ(cache.totalCost(), 32 * 1024 * 1024);
    EXPECT_FALSE(cache.image(ids.front(), std::nullopt).has_value());
    EXPECT_TRUE(cache.image(ids[1], std::nullopt).has_value());
    EXPECT_TRUE(cache.image(ids.back(), std::nullopt).has_value());
}

TEST(AppIconCache, LooksEachIdentifierUpOnceAndRemembersMisses)
{
    fake::FakeWorkspace workspace;
    workspace.installedApplications.insert(QStringLiteral("org.example.Editor"),
                                           QIcon(new NamedIconEngine(QStringLiteral("text-editor"))));
    AppIconCache cache(workspace);

    struct Step {
        const char* name;
        std::optional<QString> appId;
        bool hasIcon;
        int lookupsAfter;
    };
    const Step steps[] = {
        {"absent id", std::nullopt, false, 0},
        {"not installed", QStringLiteral("org.example.Missing"), false, 1},
        {"not installed again", QStringLiteral("org.example.Missing"), false, 1},
        {"installed", QStringLiteral("org.example.Editor"), true, 2},
        {"installed again", QStringLiteral("org.example.Editor"), true, 2},
        {"absent id again", std::nullopt, false, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const std::optional<QIcon> icon = cache.appIcon(s.appId);
        EXPECT_EQ(icon.has_value(), s.hasIcon);
        if (icon) {
            EXPECT_EQ(icon->name(), QStringLiteral("text-editor"));
        }
        EXPECT_EQ(workspace.iconLookups, s.lookupsAfter);
    }
}
