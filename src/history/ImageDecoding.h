#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>

#include <optional>

// Image bytes come from any application on the clipboard, or back from the store, and may be anything.
// Everything that decodes them goes through here, so that no decoder sees bytes that were not checked first.
//
// Only the formats applications put on the clipboard, and whose header tells the size Qt decodes them at, are
// read: PNG, JPEG, TIFF, BMP and WebP. The other formats Qt knows (TGA, WBMP, PPM, …) take so much for their own
// that random bytes would pass for an image.
// `format`, where a function takes it, is what the bytes are labelled as ("png", "tiff", "jpeg", as in a MIME
// type); when given, bytes of another format are refused.
namespace nimbrel {

// The most pixels an image may have: 10000 × 10000, 400 MB at four bytes a pixel.
inline constexpr qint64 maxImagePixels = 100'000'000;

// Qt's allocation limit while decoding, in MiB: room for maxImagePixels at four bytes a pixel. Images of more
// bytes a pixel (16 bits a channel) are refused by Qt's decoders above it.
inline constexpr int decodeAllocationLimitMiB = 400;

// Whether bytes said to be of this format ("png", "jpeg", … as in a MIME type) are read at all.
bool isDecodedFormat(QByteArrayView format);

// The size an image's header claims, found without decoding any pixels. None when the bytes are not an image of
// an accepted format, or claim an empty size or more than maxImagePixels. A PNG is checked here chunk by chunk
// rather than by Qt: IHDR first, at least one IDAT, every chunk within the bytes, and an IEND (bytes after it
// are ignored).
std::optional<QSize> checkImageHeader(const QByteArray& bytes, QByteArrayView format = {});

struct DecodeOptions {
    // Turn or mirror the pixels as the image's orientation tag says.
    bool applyOrientation = false;
    // Scale down (never up) to fittedSize(…, maxSide): while decoding where the decoder can (PNG, JPEG), which
    // spares the full-size pixels, else afterwards.
    std::optional<int> maxSide;
};

// The pixels of an image that passes checkImageHeader; none when it does not or when decoding fails.
// Of a PNG the decoder gets only the chunks that draw it (IHDR, PLTE, tRNS, gAMA, cHRM, sRGB, IDAT, IEND, and
// unknown critical chunks, which make it fail): text, ICC profiles and every other ancillary chunk are dropped
// unread, so that no size they claim or inflate to is ever allocated. The image therefore carries no texts and
// no ICC colour space.
// The first call sets Qt's allocation limit, which in Qt 6.4 is one for the whole process, to
// decodeAllocationLimitMiB (Qt's own default of 128 MiB would refuse images well within maxImagePixels).
std::optional<QImage> decodeImage(const QByteArray& bytes, QByteArrayView format = {}, DecodeOptions options = {});

// The size `source` is scaled to for a longest side of at most `maxSide`: aspect ratio kept, each side rounded
// to the nearest pixel and at least 1. `source` itself when it fits.
QSize fittedSize(const QSize& source, int maxSide);

}  // namespace nimbrel
