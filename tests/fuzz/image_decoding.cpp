// Every image Nimbrel decodes, from the clipboard or from the store, is checked and decoded here: the check
// must hold what it promises about the image the decoders then make.
#include "history/ImageDecoding.h"

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
    const std::optional<QSize> header = checkImageHeader(input);
    if (header)
        fuzz::require(
            header->width() > 0 && header->height() > 0 && qint64(header->width()) * header->height() <= maxImagePixels,
            "a header that passes claims at least one and at most maxImagePixels pixels");
    if (const std::optional<QImage> image = decodeImage(input)) {
        fuzz::require(header.has_value(), "only what passed the check is decoded");
        fuzz::require(image->size() == *header, "an image decodes at the size its header claims");
    }
    // As thumbnails are made: turned, and scaled down while decoding where the decoder can.
    if (const std::optional<QImage> small = decodeImage(input, {}, {.applyOrientation = true, .maxSide = 64})) {
        fuzz::require(header.has_value(), "only what passed the check is decoded");
        fuzz::require(std::max(small->width(), small->height()) <= 64, "a scaled image fits the side asked for");
    }
    return 0;
}
