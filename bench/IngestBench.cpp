// Ingest of clipboard changes into a file store of 100 000 records, and what it costs the UI thread.
// Each change is handed to the clipboard monitor on a thread of its own, as the X11 monitor does; the time
// runs until the writer has committed the record, and until the UI thread hears of it. Meanwhile a 1 ms
// timer on the UI thread notes every turn of the event loop: the gaps between its ticks are the stalls.
// For comparison the same work is done the way capture ran before the writer thread: read, make, repeat
// test, insert, save and budget, all on the UI thread.
// Usage: QT_QPA_PLATFORM=offscreen ingest_bench [records, default 100000]

#include "BenchStore.h"
#include "history/ClipboardCapture.h"
#include "history/ClipboardWatcher.h"
#include "history/HistoryStore.h"
#include "history/HistoryWriter.h"
#include "history/StorageBudget.h"
#include "support/fake/FakeClipboardMonitor.h"
#include "support/fake/FakePlatform.h"
#include "settings/SettingsStore.h"
#include "settings/Translations.h"

#include <QBuffer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

using namespace nimbrel;
using namespace nimbrel::bench;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr qint64 budgetMB = 1000;  // the largest budget: the 100 000 records fit, so nothing is pruned
constexpr int pauseMs = 20;        // between one change handled and the next handed over
constexpr int warmUps = 2;         // changes before the measured ones, not counted

double msBetween(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double percentile(std::vector<double> values, int p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * p / 100)];
}

// A photo-like image: a gradient with noise in every pixel, so that PNG compresses it poorly.
QByteArray photoPng(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor(30, 90, 160));
    gradient.setColorAt(1, QColor(220, 160, 60));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = static_cast<int>(random.bounded(48)) - 24;
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255), qBound(0, qBlue(c) + n, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(image))
        die(QStringLiteral("Could not encode the photo"));
    return bytes;
}

// The 100 000-record store of the search figures, copied so that the records added here stay out of it.
QString storeCopy(const QTemporaryDir& dir, const QString& source)
{
    const QString copy = dir.path() + QStringLiteral("/Nimbrel.store");
    for (const char* suffix : {"", "-wal"}) {
        const QString from = source + QLatin1String(suffix);
        if (QFile::exists(from) && !QFile::copy(from, copy + QLatin1String(suffix)))
            die(QStringLiteral("Could not copy %1").arg(from));
    }
    return copy;
}

struct Figures {
    std::vector<double> committed;  // ms from the hand-over to the record committed
    std::vector<double> told;       // ms from the hand-over to the UI thread told
    std::vector<double> gaps;       // ms between the UI thread's ticks
};

// Everything both ways share: one store file, the UI thread's connection to it, and the fakes.
struct Bench {
    explicit Bench(const QString& path)
        : translations(QString()),
          settings(defaults, loginItems, console, translations),
          store(must(HistoryStore::openFile(path))),
          budget(*store, [] { return budgetMB * StorageBudget::bytesPerMegabyte; })
    {
        settings.setMaxStorageMB(budgetMB);
        workspace.frontmost = RunningApplication{QStringLiteral("org.example.Editor"), QStringLiteral("Editor")};
    }

    fake::MemoryDefaults defaults;
    fake::LoginItems loginItems;
    fake::RecordingConsole console;
    fake::ManualClock clock;
    fake::FakeWorkspace workspace;
    Translations translations;
    SettingsStore settings;
    std::unique_ptr<HistoryStore> store;
    StorageBudget budget;
};

// Hands `count` changes over one after another (each `pauseMs` after the one before was dealt with) while
// the UI thread's ticks are noted. `handOver(i, done)` starts change i and calls done(committed) on the UI
// thread once the UI thread knows of it, with the time the record was committed.
Figures measure(int count, const std::function<void(int, std::function<void(SteadyClock::time_point)>)>& handOver)
{
    Figures figures;
    QEventLoop loop;
    SteadyClock::time_point last = SteadyClock::now();
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const SteadyClock::time_point now = SteadyClock::now();
        figures.gaps.push_back(msBetween(std::exchange(last, now), now));
    });
    int next = 0;
    std::function<void()> start;
    start = [&] {
        const int index = next++;
        const SteadyClock::time_point handedOver = SteadyClock::now();
        handOver(index, [&, index, handedOver](SteadyClock::time_point committed) {
            if (index >= warmUps) {
                figures.committed.push_back(msBetween(handedOver, committed));
                figures.told.push_back(msBetween(handedOver, SteadyClock::now()));
            }
            if (next < count + warmUps)
                QTimer::singleShot(pauseMs, start);
            else
                QTimer::singleShot(200, &loop, &QEventLoop::quit);  // to see what hearing of the last costs
        });
    };
    QTimer::singleShot(std::chrono::minutes(10), &loop, [&] { die(QStringLiteral("Not done within ten minutes")); });
    ticks.start(1);
    QTimer::singleShot(pauseMs, start);
    loop.exec();
    return figures;
}

// Now: the change goes to the monitor on its thread; the writer makes and stores the record on its own.
Figures throughTheWriter(Bench& bench, const std::function<fake::FakeOffer(int)>& offerFor, int count)
{
    fake::FakeClipboardMonitor monitor;
    ClipboardWatcher watcher(monitor, bench.workspace, *bench.store, bench.settings, bench.console, bench.clock);
    if (!watcher.start())
        die(bench.console.lines.join(QLatin1Char('\n')));
    QThread monitorThread;
    monitorThread.setObjectName(QStringLiteral("clipboard monitor"));
    QObject onMonitorThread;
    onMonitorThread.moveToThread(&monitorThread);
    monitorThread.start();

    // Written on the writer's thread before it signals the UI thread, read there after.
    SteadyClock::time_point committed;
    HistoryWriter* writer = watcher.writer();
    QObject::connect(
        writer, &HistoryWriter::storeChanged, writer, [&committed] { committed = SteadyClock::now(); },
        Qt::DirectConnection);
    std::function<void(SteadyClock::time_point)> pending;
    QObject::connect(&watcher, &ClipboardWatcher::changeHandled, [&] { std::exchange(pending, nullptr)(committed); });

    const qint64 before = must(bench.store->count());
    Figures figures = measure(count, [&](int index, std::function<void(SteadyClock::time_point)> done) {
        pending = std::move(done);
        bench.clock.advance(1000);
        // The owner's bytes arrive on the monitor's thread, so the offer is made there too.
        QMetaObject::invokeMethod(&onMonitorThread, [&monitor, &offerFor, index] {
            fake::FakeOffer offer = offerFor(index);
            if (!monitor.change(offer))
                die(QStringLiteral("The monitor was not started"));
        });
    });
    monitorThread.quit();
    monitorThread.wait();
    watcher.stop(-1);
    if (const qint64 stored = must(bench.store->count()) - before; stored != count + warmUps)
        die(QStringLiteral("%1 of %2 changes were stored: %3")
                .arg(stored)
                .arg(count + warmUps)
                .arg(bench.console.lines.join(u' ')));
    return figures;
}

bool sameAsNewest(HistoryStore& store, const ClipItem& item)
{
    FetchDescriptor newest;
    newest.sortByCreatedAt = SortOrder::descending;
    newest.limit = 1;
    newest.includeImages = item.kind() == ClipKind::image;
    const QList<ClipItem> latest = must(store.fetch(newest));
    if (latest.isEmpty() || latest.first().kindRaw != item.kindRaw)
        return false;
    const ClipItem& last = latest.first();
    return item.kind() == ClipKind::image ? last.contentImage == item.contentImage
                                          : last.contentText == item.contentText;
}

// Before: every step of the ingest in the UI thread's own turn of the event loop.
Figures onTheUiThread(Bench& bench, const std::function<fake::FakeOffer(int)>& offerFor, int count)
{
    const qint64 before = must(bench.store->count());
    Figures figures = measure(count, [&](int index, std::function<void(SteadyClock::time_point)> done) {
        bench.clock.advance(1000);
        // The bytes came through Qt's clipboard on the UI thread then, so the offer is made here.
        fake::FakeOffer offer = offerFor(index);
        const CapturedChange change = readChange(offer, bench.workspace, bench.clock, bench.budget.largestRecord());
        if (std::optional<ClipItem> item = makeItem(change);
            item && item->byteSize <= bench.budget.largestRecord() && !sameAsNewest(*bench.store, *item)) {
            must(bench.store->insert(*item));
            must(bench.store->save());
            bench.budget.enforce();
        }
        done(SteadyClock::now());
    });
    if (const qint64 stored = must(bench.store->count()) - before; stored != count + warmUps)
        die(QStringLiteral("%1 of %2 changes were stored").arg(stored).arg(count + warmUps));
    return figures;
}

void print(const char* change, const char* path, Figures f)
{
    std::sort(f.gaps.begin(), f.gaps.end());
    std::printf("%-22s %-28s %8.1f %8.1f %8.1f %8.1f %8.1f %9.1f %8.2f %7zu\n", change, path,
                percentile(f.committed, 50), percentile(f.committed, 95), percentile(f.committed, 100),
                percentile(f.told, 50), percentile(f.told, 100), f.gaps.back(), percentile(f.gaps, 99), f.gaps.size());
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // rows show as they are measured when piped
    const int records = benchSizes(argc, argv, "100000").front();
    QTemporaryDir dir;
    if (!dir.isValid())
        die(QStringLiteral("No temporary folder"));
    const QString source = ensureStore(records);
    Bench bench(storeCopy(dir, source));

    constexpr int texts = 200;
    constexpr int photos = 5;
    std::fprintf(stderr, "Encoding the 4000 x 3000 photo ...\n");
    const QByteArray photo = photoPng(4000, 3000);
    const QString text(1000, QLatin1Char('t'));
    // Every change differs from the one before, so the repeat test never cuts an ingest short. Bytes after
    // a PNG's end are ignored by its readers, so they make another image of the same cost.
    int serial = 0;
    const auto textOffer = [&](int) {
        return fake::FakeOffer::text(text + QString::number(++serial).rightJustified(24));
    };
    const auto photoOffer = [&](int) {
        return fake::FakeOffer({{QStringLiteral("image/png"), photo + QByteArray::number(++serial)}});
    };

    std::printf(
        "Store of %lld records (a copy of %s), budget %lld MB.\n"
        "%d texts of 1 KB and %d PNG photos of 4000 x 3000 (%.1f MB), each handed over %d ms after the one "
        "before was dealt with.\n"
        "Times in ms from the hand-over to the record committed and to the UI thread told; a stall is a gap "
        "between turns of the UI thread's event loop (1 ms timer).\n\n"
        "%-22s %-28s %8s %8s %8s %8s %8s %9s %8s %7s\n",
        static_cast<long long>(must(bench.store->count())), qPrintable(source), static_cast<long long>(budgetMB), texts,
        photos, photo.size() / 1e6, pauseMs, "change", "path", "comm p50", "comm p95", "comm max", "told p50",
        "told max", "stall max", "p99 gap", "turns");
    print("1 KB text", "writer thread (now)", throughTheWriter(bench, textOffer, texts));
    print("1 KB text", "UI thread (before)", onTheUiThread(bench, textOffer, texts));
    print("4000x3000 PNG photo", "writer thread (now)", throughTheWriter(bench, photoOffer, photos));
    print("4000x3000 PNG photo", "UI thread (before)", onTheUiThread(bench, photoOffer, photos));
    return 0;
}
