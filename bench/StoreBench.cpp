// Figures for the history store: the cost of one stored record in a large history, of reading the
// running total, and of pruning the oldest records the way the storage budget does.

#include "history/HistoryStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace nimbrel;

namespace {

constexpr qint64 startMsecs = 1'600'000'000'000;

// Deterministic lower-case words, so every run stores the same bytes.
QString words(int length, quint32& seed)
{
    QString text;
    text.reserve(length);
    while (text.size() < length) {
        seed = seed * 1664525u + 1013904223u;
        const int word = 2 + static_cast<int>((seed >> 24) % 9);
        for (int i = 0; i < word && text.size() < length; ++i) {
            seed = seed * 1664525u + 1013904223u;
            text.append(QLatin1Char(static_cast<char>('a' + (seed >> 27) % 26)));
        }
        if (text.size() < length)
            text.append(QLatin1Char(' '));
    }
    return text;
}

ClipItem record(const QString& text, qint64 msecs)
{
    return ClipItem::make(ClipKind::text, text, std::nullopt, std::nullopt, QStringLiteral("org.example.Editor"),
                          QStringLiteral("Editor"), QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
}

std::unique_ptr<HistoryStore> open(const QString& path)
{
    Result<std::unique_ptr<HistoryStore>> store = HistoryStore::openFile(path);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(store.error().description));
        std::abort();
    }
    return std::move(store).value();
}

void check(const Result<void>& result)
{
    if (!result) {
        std::fprintf(stderr, "%s\n", qPrintable(result.error().description));
        std::abort();
    }
}

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// A closed store file of `records` text records of `textBytes` bytes each, built once per process.
QString templateStore(int records, int textBytes)
{
    const QString path = folder().filePath(QStringLiteral("template-%1-%2.store").arg(records).arg(textBytes));
    if (QFile::exists(path))
        return path;
    auto store = open(path);
    quint32 seed = 7;
    for (int i = 0; i < records; ++i)
        check(store->insert(record(words(textBytes, seed), startMsecs + i * 1000LL)));
    check(store->save());
    return path;
}

// A private copy of a template, so each measurement starts from the same history.
QString copyOf(const QString& templatePath)
{
    static int copies = 0;
    const QString path = folder().filePath(QStringLiteral("copy-%1.store").arg(++copies));
    if (!QFile::copy(templatePath, path))
        std::abort();
    return path;
}

void setPercentiles(benchmark::State& state, std::vector<double>& microseconds)
{
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double fraction) {
        return microseconds[std::min(microseconds.size() - 1, static_cast<size_t>(fraction * microseconds.size()))];
    };
    state.counters["median_us"] = at(0.5);
    state.counters["p90_us"] = at(0.9);
    state.counters["p99_us"] = at(0.99);
}

// One 1 KB text record inserted and saved into a history of 100 000 such records (what every copy costs).
void insertAndSaveInto100k(benchmark::State& state)
{
    const QString path = copyOf(templateStore(100'000, 1024));
    auto store = open(path);
    quint32 seed = 99;
    qint64 msecs = startMsecs + 200'000'000LL;
    std::vector<double> microseconds;
    for (auto _ : state) {
        state.PauseTiming();
        const ClipItem item = record(words(1024, seed), ++msecs);
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        check(store->insert(item));
        check(store->save());
        const auto end = std::chrono::steady_clock::now();
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
    }
    setPercentiles(state, microseconds);
    store.reset();
    QFile::remove(path);
}
BENCHMARK(insertAndSaveInto100k)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// The running total of a history of 1 000 000 records, which the budget reads after every copy.
void totalByteSizeOf1M(benchmark::State& state)
{
    auto store = open(templateStore(1'000'000, 40));
    for (auto _ : state) {
        Result<qint64> total = store->totalByteSize();
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(totalByteSizeOf1M)->Unit(benchmark::kMicrosecond);

// For comparison: adding up byteSize over the same history by a size-only fetch.
void recountByFetchOf1M(benchmark::State& state)
{
    auto store = open(templateStore(1'000'000, 40));
    FetchDescriptor sizes;
    sizes.byteSizeOnly = true;
    for (auto _ : state) {
        qint64 total = 0;
        Result<QList<ClipItem>> items = store->fetch(sizes);
        for (const ClipItem& item : *items)
            total += item.byteSize;
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(recountByFetchOf1M)->Unit(benchmark::kMillisecond)->Iterations(5);

// The 10 000 oldest of 100 000 records pruned the budget's way: fetch the oldest 32 (sizes only),
// remove each, save, again.
void prune10kOf100k(benchmark::State& state)
{
    constexpr int toRemove = 10'000;
    FetchDescriptor oldest;
    oldest.sortByCreatedAt = SortOrder::ascending;
    oldest.limit = 32;
    oldest.byteSizeOnly = true;
    int batches = 0;
    double milliseconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = copyOf(templateStore(100'000, 1024));
        auto store = open(path);
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        int removed = 0;
        while (removed < toRemove) {
            Result<QList<ClipItem>> batch = store->fetch(oldest);
            for (const ClipItem& item : *batch) {
                if (removed == toRemove)
                    break;
                check(store->remove(item.id));
                ++removed;
            }
            check(store->save());
            ++batches;
        }
        milliseconds += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        state.PauseTiming();
        store.reset();
        QFile::remove(path);
        state.ResumeTiming();
    }
    state.counters["batches"] = static_cast<double>(batches) / state.iterations();
    state.counters["per_batch_ms"] = milliseconds / batches;
}
BENCHMARK(prune10kOf100k)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
