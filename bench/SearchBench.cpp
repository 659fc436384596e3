// Search figures over histories of 10 000, 100 000 and 1 000 000 records: indexed queries against the
// plain newest-first scan (whose answers must be the same), the budgeted scans of one- and two-character
// queries, ingest and pruning with the index kept up, and what the index costs on disk.
// Usage: search_bench [sizes, e.g. 10000,100000]; the stores are kept in NIMBREL_BENCH_DIR.

#include "BenchStore.h"
#include "history/HistorySearch.h"
#include "history/SearchIndexBuilder.h"
#include "history/SearchFolding.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <sqlite3.h>

#include <chrono>

using namespace nimbrel;
using namespace nimbrel::bench;
using Clock = std::chrono::steady_clock;

namespace {

int mismatches = 0;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// p50 and p95, nearest rank, as "p50 / p95".
QString percentiles(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double fraction) {
        const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
        return QString::number(values[std::max<size_t>(rank, 1) - 1], 'f', 2).rightJustified(9);
    };
    return at(0.5) + QStringLiteral(" / ") + at(0.95);
}

// One number from SQL; none when it fails (dbstat may be missing).
std::optional<qint64> scalar(sqlite3* db, const char* sql, const QString& parameter = QString())
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return std::nullopt;
    const QByteArray utf8 = parameter.toUtf8();
    sqlite3_bind_text(statement, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    std::optional<qint64> value;
    if (sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
}

void diskTable(const QString& path)
{
    std::unique_ptr<HistoryStore> store = must(HistoryStore::openFile(path));
    sqlite3* db = store->handle();
    (void)scalar(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    const auto mb = [](std::optional<qint64> bytes) { return bytes ? *bytes / 1048576.0 : -1.0; };
    const double file = mb(QFileInfo(path).size());
    const double all = mb(scalar(db, "SELECT sum(byteSize) FROM clip"));
    const double index = mb(scalar(db, "SELECT sum(pgsize) FROM dbstat WHERE name LIKE 'clip_search%'"));
    const double folded = mb(scalar(db, "SELECT sum(length(CAST(searchText AS BLOB))) FROM clip"));
    std::printf(
        "Disk (MB, -1: not available): file %.1f | records %.1f, texts %.1f | file/records %.2f | "
        "clip table %.1f | trigram index %.1f, folded text %.1f, index/folded %.2f\n",
        file, all, mb(scalar(db, "SELECT sum(byteSize) FROM clip WHERE kindRaw = 'text'")), file / all,
        mb(scalar(db, "SELECT sum(pgsize) FROM dbstat WHERE name = 'clip'")), index, folded, index / folded);
}

const char* kindName(std::optional<ClipKind> kind)
{
    return !kind ? "any" : kind == ClipKind::text ? "text" : "link";
}

struct Series {
    std::vector<double> ms;       // until run() returned
    std::vector<double> firstMs;  // until the first partial answer, or the whole one
    std::vector<QList<QUuid>> ids;
    bool alwaysIndexed = true;
    int complete = 0;
};

// A warm-up run, then 30 timed ones (5 when the warm-up took over a second), cycling through `variants`.
Series measure(HistorySearch& search, const QStringList& variants, std::optional<ClipKind> kind, SearchLimits limits)
{
    Series series;
    for (int repetition = -1, repetitions = 30; repetition < repetitions; ++repetition) {
        std::optional<double> first;
        const Clock::time_point start = Clock::now();
        limits.partial = [&](const QList<ClipItem>&) { first = first.value_or(msSince(start)); };
        const SearchOutcome outcome =
            must(search.run({variants[std::max(repetition, 0) % variants.size()], kind, 200}, limits));
        const double ms = msSince(start);
        if (repetition < 0) {
            repetitions = ms > 1000 ? 5 : 30;
            continue;
        }
        series.ms.push_back(ms);
        series.firstMs.push_back(first.value_or(ms));
        series.ids.emplace_back();
        for (const ClipItem& item : outcome.items)
            series.ids.back().append(item.id);
        series.alwaysIndexed = series.alwaysIndexed && outcome.indexed;
        series.complete += outcome.complete ? 1 : 0;
    }
    return series;
}

void searchTable(const QString& path, HistorySearch& search)
{
    std::unique_ptr<HistoryStore> store = must(HistoryStore::openReadOnly(path));
    const std::vector<std::pair<const char*, QStringList>> rows{
        {"hit", hitWords + QStringLiteral("epor tatu Report").split(u' ')},
        {"rare", markers + QStringList{QStringLiteral("okkafe")}},
        {"miss, rare trigrams", QStringLiteral("qzxj xqzv jqxz zxqj vqzx").split(u' ')},
        {"miss, common trigrams", absentPairs},
        // Trigrams of a kind's name are also in the index, as the records' kind marks.
        {"miss, kind-name trigrams", QStringLiteral("text ext tex").split(u' ')},
    };
    std::printf("\n%-24s %-5s %10s %4s | %-29s | %-29s | %s\n", "query (3+ chars)", "kind", "candidates", "n",
                "indexed ms p50 / p95 (reps)", "scan ms p50 / p95 (reps)", "same ids");
    for (const auto& [label, variants] : rows) {
        for (const auto kind :
             {std::optional<ClipKind>(), std::optional(ClipKind::text), std::optional(ClipKind::link)}) {
            const auto candidates =
                scalar(store->handle(), "SELECT count(*) FROM clip_search WHERE clip_search MATCH ?",
                       indexQuery(foldForSearch(variants[0]), kind));
            const Series indexed = measure(search, variants, kind, {});
            const Series scan = measure(search, variants, kind, {.useIndex = false});
            // Both ran the same variants in the same order; compare every pair.
            size_t same = 0;
            for (size_t i = 0; i < std::min(indexed.ids.size(), scan.ids.size()); ++i) {
                const QList<QUuid>& a = indexed.ids[i];
                const QList<QUuid>& b = scan.ids[i];
                if (a == b) {
                    ++same;
                    continue;
                }
                const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
                std::printf("*** MISMATCH: \"%s\" kind %s: indexed %lld ids, scan %lld, first difference at %lld\n",
                            qPrintable(variants[static_cast<qsizetype>(i) % variants.size()]), kindName(kind),
                            static_cast<long long>(a.size()), static_cast<long long>(b.size()),
                            static_cast<long long>(at));
                ++mismatches;
            }
            if (!indexed.alwaysIndexed)
                std::printf("*** the index did not answer \"%s\" (kind %s)\n", qPrintable(variants[0]), kindName(kind));
            if (label[0] == 'm' && !scan.ids[0].isEmpty())
                std::printf("*** \"%s\" was meant to match nothing\n", qPrintable(variants[0]));
            std::printf("%-24s %-5s %10lld %4lld | %s (%2zu) | %s (%2zu) | %zu/%zu\n", label, kindName(kind),
                        static_cast<long long>(candidates.value_or(-1)), static_cast<long long>(scan.ids[0].size()),
                        qPrintable(percentiles(indexed.ms)), indexed.ms.size(), qPrintable(percentiles(scan.ms)),
                        scan.ms.size(), same, std::min(indexed.ids.size(), scan.ids.size()));
        }
    }
}

// Queries the index cannot serve: a scan with the panel's budget, reporting partial answers.
void shortTable(HistorySearch& search)
{
    const std::vector<std::pair<const char*, QString>> rows{
        {"1 char, hit", QStringLiteral("e a o i t")},
        {"2 chars, hit", QStringLiteral("th er an re on")},
        {"1 char, none", QStringLiteral("ж ы щ ю э")},
        {"2 chars, none", QStringLiteral("zq qz xq qj jq")},
    };
    std::printf("\n%-22s %4s | %-21s | %-21s | %s\n", "query (100 ms budget)", "n", "first results p50/p95",
                "run() returns p50/p95", "complete");
    for (const auto& [label, variants] : rows) {
        const Series series =
            measure(search, variants.split(u' '), std::nullopt,
                    {.workBudget = std::chrono::milliseconds(100), .partialInterval = std::chrono::milliseconds(30)});
        std::printf("%-22s %4lld | %s | %s | %d/%zu\n", label, static_cast<long long>(series.ids.back().size()),
                    qPrintable(percentiles(series.firstMs)), qPrintable(percentiles(series.ms)), series.complete,
                    series.ms.size());
    }
}

// On a copy, so the kept store stays as generated: 200 text records inserted and saved one by one, then
// the oldest pruned the storage budget's way (the 32 oldest fetched by size, removed, saved, again).
void writeTable(const QString& path, int records)
{
    const QString copy = benchDir() + QStringLiteral("/scratch.store");
    removeStoreFiles(copy);
    if (!QFile::copy(path, copy))
        die(QStringLiteral("Could not copy %1").arg(path));
    {
        std::unique_ptr<HistoryStore> store = must(HistoryStore::openFile(copy));
        Rng rng(777);
        std::vector<double> ingest;
        for (int i = records; ingest.size() < 200; ++i) {
            const ClipItem item = benchRecord(i, records, rng);
            if (item.kind() != ClipKind::text)
                continue;
            const Clock::time_point start = Clock::now();
            must(store->insert(item));
            must(store->save());
            ingest.push_back(msSince(start));
        }
        std::printf("\nIngest of one text record (insert + save, 200 times) ms p50 / p95: %s, max %.2f\n",
                    qPrintable(percentiles(ingest)), *std::max_element(ingest.begin(), ingest.end()));

        const int toRemove = std::min(10'000, records / 2);
        const FetchDescriptor oldest{.sortByCreatedAt = SortOrder::ascending, .limit = 32, .byteSizeOnly = true};
        int removed = 0;
        int saves = 0;
        const Clock::time_point start = Clock::now();
        for (; removed < toRemove; ++saves) {
            for (const ClipItem& item : must(store->fetch(oldest))) {
                if (removed == toRemove)
                    break;
                must(store->remove(item.id));
                ++removed;
            }
            must(store->save());
        }
        const double ms = msSince(start);
        std::printf("Pruning the %d oldest (%d saves of up to 32): %.0f ms in all, %.2f ms per save\n", toRemove, saves,
                    ms, ms / saves);
    }
    {
        // What the background maintenance then does: take the pruned records' entries out of the index.
        std::unique_ptr<SearchIndexBuilder> builder = must(SearchIndexBuilder::open(copy));
        const Clock::time_point start = Clock::now();
        int batches = 0;
        while (!must(builder->purge(256)).complete)
            ++batches;
        std::printf("Taking them out of the index afterwards (background, %d batches of 256): %.0f ms\n", batches + 1,
                    msSince(start));
    }
    removeStoreFiles(copy);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // tables show row by row when piped
    const std::vector<int> sizes = benchSizes(argc, argv, "10000,100000,1000000");
    std::printf("Stores kept in %s (NIMBREL_BENCH_DIR)\n", qPrintable(benchDir()));
    for (const int records : sizes) {
        const QString path = ensureStore(records);
        std::printf("\n==== %d records: %s\n", records, qPrintable(path));
        diskTable(path);
        std::unique_ptr<HistorySearch> search = must(HistorySearch::open(path));
        searchTable(path, *search);
        shortTable(*search);
        writeTable(path, records);
    }
    if (mismatches > 0)
        std::printf("\n*** %d indexed answers differed from the scan's\n", mismatches);
    return mismatches > 0 ? 2 : 0;
}
