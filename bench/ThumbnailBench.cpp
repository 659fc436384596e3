// What a 4000 × 3000 image costs at capture, step by step, and what its thumbnail costs at display.
// Each figure is reported with the median of several repetitions (the "_median" rows).

#include "history/Thumbnail.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace nimbrel;

namespace {

constexpr int repetitions = 7;

// Smooth gradients with sensor-like noise, so that PNG compresses about as badly as it does for a photo.
QImage photoLikeImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(20260101);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const auto channel = [&](double value) {
                const int noisy = static_cast<int>(value) + random.bounded(-12, 13);
                return std::clamp(noisy, 0, 255);
            };
            line[x] = qRgb(channel(255.0 * x / width), channel(255.0 * y / height),
                           channel(128.0 + 90.0 * std::sin((x + 2.0 * y) / 400.0)));
        }
    }
    return image;
}

const QByteArray& sourcePng()
{
    static const QByteArray bytes = [] {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!QImageWriter(&buffer, "png").write(photoLikeImage(4000, 3000))) {
            std::fprintf(stderr, "could not encode the source image\n");
            std::exit(1);
        }
        return png;
    }();
    return bytes;
}

QImage readFully(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).read();
}

const QImage& sourceImage()
{
    static const QImage image = readFully(sourcePng());
    return image;
}

const QImage& thumbnail()
{
    static const QImage image = *thumbnailImage(sourcePng());
    return image;
}

void decodeFullImage(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readFully(sourcePng()));
    state.counters["source_MB"] = static_cast<double>(sourcePng().size()) / 1e6;
}

void scaleToThumbnail(benchmark::State& state)
{
    const QSize target = thumbnailSize(sourceImage().size());
    for (auto _ : state)
        benchmark::DoNotOptimize(sourceImage().scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

// Decode and scale as makeThumbnail does them (the reader scales while reading where it can).
void decodeAndScale(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(thumbnailImage(sourcePng()));
}

void encodeHeic(benchmark::State& state)
{
    qint64 size = 0;
    for (auto _ : state)
        size = encodeImage(thumbnail(), ImageType::heic).value_or(QByteArray()).size();
    state.counters["output_kB"] = static_cast<double>(size) / 1e3;
}

void encodePngFallback(benchmark::State& state)
{
    qint64 size = 0;
    for (auto _ : state)
        size = encodeImage(thumbnail(), ImageType::png).value_or(QByteArray()).size();
    state.counters["output_kB"] = static_cast<double>(size) / 1e3;
}

void makeThumbnailWhole(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(makeThumbnail(sourcePng()));
}

// What a card pays the first time it shows the thumbnail.
void decodeHeicThumbnail(benchmark::State& state)
{
    const QByteArray heic = *encodeImage(thumbnail(), ImageType::heic);
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeThumbnail(heic));
}

}  // namespace

// Wall-clock time: the HEIC encoder works on threads of its own, which the main thread's CPU time would not show.
#define NIMBREL_STEP(function, name)    \
    BENCHMARK(function)                 \
        ->Name(name)                    \
        ->Unit(benchmark::kMillisecond) \
        ->UseRealTime()                 \
        ->Repetitions(repetitions)      \
        ->ReportAggregatesOnly(true)

NIMBREL_STEP(decodeFullImage, "decode 4000x3000 PNG");
NIMBREL_STEP(scaleToThumbnail, "scale to 512x384");
NIMBREL_STEP(decodeAndScale, "decode+scale (thumbnailImage)");
NIMBREL_STEP(encodeHeic, "HEIC encode");
NIMBREL_STEP(encodePngFallback, "PNG encode (fallback)");
NIMBREL_STEP(makeThumbnailWhole, "makeThumbnail");
NIMBREL_STEP(decodeHeicThumbnail, "decode HEIC thumbnail");

BENCHMARK_MAIN();
