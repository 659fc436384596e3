// End-to-end ingest of one clipboard change through the watcher: read, classify, duplicate test,
// insert, save and budget, on a file store that already holds 100 000 records; and the same for a
// 4000 × 3000 PNG photo, whose thumbnail is made during the ingest.

#include "history/ClipboardWatcher.h"
#include "history/HistoryStore.h"
#include "history/Thumbnail.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace nimbrel;

namespace {

struct Bench {
    explicit Bench(int records)
        : translations(QString()),
          settings(defaults, loginItems, console, translations),
          store(std::move(HistoryStore::openFile(dir.path() + QStringLiteral("/Nimbrel.store"))).value()),
          watcher(pasteboard, workspace, *store, settings, console, clock)
    {
        settings.setMaxStorageMB(1000);
        const QString filler(1024, QLatin1Char('x'));
        for (int i = 0; i < records; ++i) {
            clock.advance(1);
            (void)store->insert(ClipItem::make(ClipKind::text, filler + QString::number(i), std::nullopt, std::nullopt,
                                               QStringLiteral("org.example.App"), QStringLiteral("App"), clock.now()));
            if (i % 10'000 == 9'999)
                (void)store->save();
        }
        (void)store->save();
        watcher.poll();  // the first budget run after launch recounts
    }

    QTemporaryDir dir;
    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    fake::ManualClock clock;
    fake::FakePasteboard pasteboard;
    fake::FakeWorkspace workspace;
    Translations translations;
    SettingsStore settings;
    std::unique_ptr<HistoryStore> store;
    ClipboardWatcher watcher;
};

QByteArray photoPng(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor(30, 90, 160));
    gradient.setColorAt(1, QColor(220, 160, 60));
    p.fillRect(image.rect(), gradient);
    p.end();
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = static_cast<int>(random->bounded(24)) - 12;
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255), qBound(0, qBlue(c) + n, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

void IngestText1KB(benchmark::State& state)
{
    Bench bench(100'000);
    const QString base = QString(1000, QLatin1Char('t'));
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench.pasteboard.setText(base + QString::number(++n));
        bench.clock.advance(1000);
        state.ResumeTiming();
        bench.watcher.poll();
    }
    state.counters["records"] = static_cast<double>(bench.store->count().value());
}
BENCHMARK(IngestText1KB)->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(5)->ReportAggregatesOnly();

void IdleTick(benchmark::State& state)
{
    Bench bench(0);
    for (auto _ : state)
        bench.watcher.poll();
    state.counters["pasteboard reads"] = bench.pasteboard.reads;
}
BENCHMARK(IdleTick);

void IngestPng4000x3000(benchmark::State& state)
{
    Bench bench(0);
    const QByteArray png = photoPng(4000, 3000);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A different image each time, so the duplicate test never short-cuts the ingest.
        QByteArray variant = png;
        variant.append(QByteArray::number(++n));
        bench.pasteboard.set({{{QStringLiteral("image/png"), variant}}, std::nullopt});
        state.ResumeTiming();
        bench.watcher.poll();
    }
}
BENCHMARK(IngestPng4000x3000)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly();

// The steps of the image ingest, to see which dominates.
void PngStepDecodeAndScale(benchmark::State& state)
{
    const QByteArray png = photoPng(4000, 3000);
    for (auto _ : state)
        benchmark::DoNotOptimize(thumbnailImage(png));
}
BENCHMARK(PngStepDecodeAndScale)->Unit(benchmark::kMillisecond)->Iterations(5);

void PngStepHeicEncode(benchmark::State& state)
{
    const QByteArray png = photoPng(4000, 3000);
    const auto thumbnail = thumbnailImage(png);
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeImage(*thumbnail, ImageType::heic));
}
BENCHMARK(PngStepHeicEncode)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
