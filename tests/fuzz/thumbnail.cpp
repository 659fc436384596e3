// Images other applications put on the clipboard become thumbnails, and stored thumbnails are decoded for the
// cards; either may be anything.
//
// makeThumbnail is thumbnailImage (everything that reads the outside bytes) followed by the encoding of the
// pixels it produced. The HEIC encoder takes a fifth of a second even for a tiny image, which would leave a
// handful of inputs per second, so the second half is fuzzed through the PNG encoder only.
#include "history/Thumbnail.h"

#include "FuzzInput.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return nimbrel::fuzz::quietImagePlugins();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    const QByteArray input = fuzz::bytes(data, size);
    if (const std::optional<QImage> pixels = thumbnailImage(input)) {
        fuzz::require(!pixels->isNull(), "a read image has pixels");
        fuzz::require(std::max(pixels->width(), pixels->height()) <= thumbnailMaxPixelSize,
                      "a thumbnail is at most 512 pixels on its longest side");
        const std::optional<QByteArray> png = encodeImage(*pixels, ImageType::png);
        fuzz::require(png.has_value(), "a thumbnail can always be encoded as PNG");
        const std::optional<QImage> shown = decodeThumbnail(*png);
        fuzz::require(shown && shown->size() == pixels->size(), "a thumbnail shows at the size it was made");
    }
    if (const std::optional<QImage> image = decodeThumbnail(input))
        fuzz::require(!image->isNull(), "a decoded thumbnail has pixels");
    return 0;
}
