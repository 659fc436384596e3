#pragma once

#include "platform/Workspace.h"

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace nimbrel {

enum class ImageType { heic, png };

// The longest side of a thumbnail, in pixels.
inline constexpr int thumbnailMaxPixelSize = 512;

// The encoded thumbnail of an image record: the image's orientation metadata applied, scaled down (never up) so
// that its longest side is at most 512 pixels, encoded as HEIC, or as PNG where HEIC encoding fails. None when
// decodeImage refuses the bytes.
std::optional<QByteArray> makeThumbnail(const QByteArray& imageBytes);

// The size a source of the given size is scaled to: fittedSize with a longest side of 512.
QSize thumbnailSize(const QSize& source);

// The thumbnail's pixels before encoding; the first half of makeThumbnail.
std::optional<QImage> thumbnailImage(const QByteArray& imageBytes);

using ImageEncoder = std::function<std::optional<QByteArray>(const QImage&, ImageType)>;
// The second half of makeThumbnail: HEIC through `encode`, else PNG through `encode`. makeThumbnail passes
// encodeImage; tests pass an encoder without HEIC to act out a system that has no HEIC encoder.
std::optional<QByteArray> encodePreferringHeic(const QImage& thumbnail, const ImageEncoder& encode);

// One image encoded as the given type with lossy quality 0.6 (PNG is lossless and ignores it). None for a null
// image, when the encoder is missing or fails, or when it produces no bytes.
std::optional<QByteArray> encodeImage(const QImage& image, ImageType type);

// A thumbnail made by makeThumbnail (HEIC or PNG) decoded for display; none when it cannot be decoded.
std::optional<QImage> decodeThumbnail(const QByteArray& data);

// Decoded thumbnails by record id, so that a card decodes its thumbnail at most once while the entry lives. Bounded
// at 32 MiB of estimated pixel memory; the least recently used entries go first. Entries are never removed
// explicitly: a deleted record's id is not asked for again. Main thread only.
class ThumbnailCache final {
public:
    static constexpr qint64 maxCost = 32 * 1024 * 1024;

    ThumbnailCache();
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    // The cached image of `id` if there is one (then `data` is not looked at); otherwise `data` decoded and
    // cached. None, with nothing cached, when `data` is absent or cannot be decoded.
    std::optional<QImage> image(const QUuid& id, const std::optional<QByteArray>& data);

    int cachedCount() const;
    qint64 totalCost() const;

private:
    QCache<QUuid, QImage> m_images;
};

// Application icons by desktop id, looked up once per id for the life of the process; an id without an installed
// application is remembered as having no icon. No limit and no eviction: a session sees few applications.
class AppIconCache final {
public:
    explicit AppIconCache(const Workspace& workspace);
    AppIconCache(const AppIconCache&) = delete;
    AppIconCache& operator=(const AppIconCache&) = delete;

    // None for an absent id, without asking the workspace and without caching anything.
    std::optional<QIcon> appIcon(const std::optional<QString>& appId);

private:
    const Workspace& m_workspace;
    QHash<QString, std::optional<QIcon>> m_icons;
};

}  // namespace nimbrel
