#include "history/Thumbnail.h"

#include "history/ImageDecoding.h"

#include <QBuffer>
#include <QImageWriter>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace nimbrel {

namespace {

// Lossy compression quality 0.6 on libheif's 0–100 scale.
constexpr int heicQuality = 60;

struct HeifDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
    void operator()(heif_image* image) const { heif_image_release(image); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
using HeifContext = std::unique_ptr<heif_context, HeifDeleter>;
using HeifEncoder = std::unique_ptr<heif_encoder, HeifDeleter>;
using HeifImage = std::unique_ptr<heif_image, HeifDeleter>;
using HeifImageHandle = std::unique_ptr<heif_image_handle, HeifDeleter>;

bool failed(const heif_error& error)
{
    return error.code != heif_error_Ok;
}

// libheif counts its users; the first call registers its codecs. Nimbrel uses it for the life of the process, so
// the matching heif_deinit is left to process exit.
HeifContext newHeifContext()
{
    static const bool initialized = !failed(heif_init(nullptr));
    if (!initialized)
        return nullptr;
    return HeifContext(heif_context_alloc());
}

heif_error appendToByteArray(heif_context*, const void* data, size_t size, void* userData)
{
    static_cast<QByteArray*>(userData)->append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

bool hasTranslucentPixels(const QImage& rgba8888)
{
    for (int y = 0; y < rgba8888.height(); ++y) {
        const uchar* line = rgba8888.constScanLine(y);
        for (int x = 0; x < rgba8888.width(); ++x) {
            if (line[x * 4 + 3] != 255)
                return true;
        }
    }
    return false;
}

std::optional<QByteArray> encodeHeic(const QImage& image)
{
    // An opaque image is encoded without an alpha plane: a screenshot in an alpha format would otherwise carry a
    // second, constant HEVC image.
    QImage pixels = image.convertToFormat(QImage::Format_RGBA8888);
    const bool alpha = image.hasAlphaChannel() && hasTranslucentPixels(pixels);
    if (!alpha)
        pixels = pixels.convertToFormat(QImage::Format_RGB888);
    if (pixels.isNull())
        return std::nullopt;

    HeifContext context = newHeifContext();
    if (!context)
        return std::nullopt;
    heif_encoder* rawEncoder = nullptr;
    if (failed(heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder)))
        return std::nullopt;
    const HeifEncoder encoder(rawEncoder);
    if (failed(heif_encoder_set_lossy_quality(encoder.get(), heicQuality)))
        return std::nullopt;
    heif_encoder_set_logging_level(encoder.get(), 0);
    // Thumbnails are made while the user waits on the capture; the "fast" preset encodes a 512-pixel
    // image several times quicker than the default, at a size difference that does not matter here.
    heif_encoder_set_parameter_string(encoder.get(), "preset", "fast");

    heif_image* rawImage = nullptr;
    if (failed(heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                                 alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &rawImage)))
        return std::nullopt;
    const HeifImage heifImage(rawImage);
    if (failed(heif_image_add_plane(heifImage.get(), heif_channel_interleaved, pixels.width(), pixels.height(), 8)))
        return std::nullopt;
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(heifImage.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return std::nullopt;
    const size_t rowBytes = static_cast<size_t>(pixels.width()) * (alpha ? 4 : 3);
    for (int y = 0; y < pixels.height(); ++y)
        std::memcpy(plane + static_cast<size_t>(y) * stride, pixels.constScanLine(y), rowBytes);

    if (failed(heif_context_encode_image(context.get(), heifImage.get(), encoder.get(), nullptr, nullptr)))
        return std::nullopt;
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = &appendToByteArray;
    if (failed(heif_context_write(context.get(), &writer, &bytes)) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> encodePng(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    // No quality: Qt's PNG writer would read it as a zlib level, and the pixels are lossless either way.
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

std::optional<QImage> decodeHeic(const QByteArray& data)
{
    HeifContext context = newHeifContext();
    if (!context)
        return std::nullopt;
    // Only Nimbrel's own thumbnails are HEIC here; a file claiming more is not one, and decoding what it
    // claims could take minutes and gigabytes. The coded picture may be padded beyond the thumbnail's
    // size, so libheif's own limit (on pixels, as the square of this side) leaves room for that.
    heif_context_set_maximum_image_size_limit(context.get(), 4 * thumbnailMaxPixelSize);
    // `data` outlives the context, so libheif may read it in place.
    if (failed(heif_context_read_from_memory_without_copy(context.get(), data.constData(),
                                                          static_cast<size_t>(data.size()), nullptr)))
        return std::nullopt;
    heif_image_handle* rawHandle = nullptr;
    if (failed(heif_context_get_primary_image_handle(context.get(), &rawHandle)))
        return std::nullopt;
    const HeifImageHandle handle(rawHandle);
    if (heif_image_handle_get_width(handle.get()) > thumbnailMaxPixelSize ||
        heif_image_handle_get_height(handle.get()) > thumbnailMaxPixelSize)
        return std::nullopt;
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;

    heif_image* rawImage = nullptr;
    if (failed(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr)))
        return std::nullopt;
    const HeifImage decoded(rawImage);
    const int width = heif_image_get_width(decoded.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(decoded.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0)
        return std::nullopt;
    QImage image(width, height, QImage::Format_RGBA8888);
    if (image.isNull())
        return std::nullopt;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), plane + static_cast<size_t>(y) * stride, rowBytes);
    // The cards paint it; these are the formats the raster painter draws fastest.
    return image.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

}  // namespace

QSize thumbnailSize(const QSize& source)
{
    return fittedSize(source, thumbnailMaxPixelSize);
}

std::optional<QImage> thumbnailImage(const QByteArray& imageBytes)
{
    return decodeImage(imageBytes, {}, {.applyOrientation = true, .maxSide = thumbnailMaxPixelSize});
}

std::optional<QByteArray> encodePreferringHeic(const QImage& thumbnail, const ImageEncoder& encode)
{
    if (std::optional<QByteArray> heic = encode(thumbnail, ImageType::heic))
        return heic;
    return encode(thumbnail, ImageType::png);
}

std::optional<QByteArray> makeThumbnail(const QByteArray& imageBytes)
{
    const std::optional<QImage> thumbnail = thumbnailImage(imageBytes);
    if (!thumbnail)
        return std::nullopt;
    return encodePreferringHeic(*thumbnail, encodeImage);
}

std::optional<QByteArray> encodeImage(const QImage& image, ImageType type)
{
    if (image.isNull())
        return std::nullopt;
    switch (type) {
        case ImageType::heic:
            return encodeHeic(image);
        case ImageType::png:
            return encodePng(image);
    }
    return std::nullopt;
}

std::optional<QImage> decodeThumbnail(const QByteArray& data)
{
    if (data.isEmpty())
        return std::nullopt;
    const int headerLength = static_cast<int>(std::min<qsizetype>(data.size(), 1024));
    if (heif_check_filetype(reinterpret_cast<const uint8_t*>(data.constData()), headerLength) ==
        heif_filetype_yes_supported)
        return decodeHeic(data);
    return decodeImage(data);
}

ThumbnailCache::ThumbnailCache() : m_images(maxCost)
{
}

std::optional<QImage> ThumbnailCache::image(const QUuid& id, const std::optional<QByteArray>& data)
{
    if (const QImage* cached = m_images.object(id))
        return *cached;
    if (!data)
        return std::nullopt;
    std::optional<QImage> decoded = decodeThumbnail(*data);
    if (!decoded)
        return std::nullopt;
    const qint64 cost = static_cast<qint64>(decoded->width()) * decoded->height() * 4;
    // QCache refuses (and frees) an entry dearer than the whole cache; the caller still gets its image.
    m_images.insert(id, new QImage(*decoded), cost);
    return decoded;
}

int ThumbnailCache::cachedCount() const
{
    return static_cast<int>(m_images.count());
}

qint64 ThumbnailCache::totalCost() const
{
    return m_images.totalCost();
}

AppIconCache::AppIconCache(const Workspace& workspace) : m_workspace(workspace)
{
}

std::optional<QIcon> AppIconCache::appIcon(const std::optional<QString>& appId)
{
    if (!appId)
        return std::nullopt;
    const auto found = m_icons.constFind(*appId);
    if (found != m_icons.cend())
        return *found;
    std::optional<QIcon> icon = m_workspace.applicationIcon(*appId);
    m_icons.insert(*appId, icon);
    return icon;
}

}  // namespace nimbrel
