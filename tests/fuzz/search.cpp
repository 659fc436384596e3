// What the user types into the search field meets whatever other applications copied. The index may
// only narrow: for any text and any query, it must answer exactly as reading every record does.
#include "history/HistorySearch.h"
#include "history/HistoryStore.h"

#include "FuzzInput.h"

#include <memory>

namespace {

struct Store {
    std::unique_ptr<nimbrel::HistoryStore> store = std::move(nimbrel::HistoryStore::openInMemory()).value();
    std::unique_ptr<nimbrel::HistorySearch> search =
        std::move(nimbrel::HistorySearch::open(store->connectionName())).value();
};

QList<QUuid> ids(const nimbrel::Result<nimbrel::SearchOutcome>& outcome)
{
    QList<QUuid> result;
    for (const nimbrel::ClipItem& item : outcome->items)
        result.append(item.id);
    return result;
}

}  // namespace

// Input: the copied text, a 0x1f byte, the source name, a 0x1f byte, the query; the first byte picks the kind
// filter.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace nimbrel;
    static Store store;
    if (size < 1)
        return 0;
    const QList<QByteArray> parts = fuzz::bytes(data + 1, size - 1).split('\x1f');
    if (parts.size() != 3)
        return 0;
    const ClipKind kinds[] = {ClipKind::text, ClipKind::link, ClipKind::color, ClipKind::image};
    const std::optional<ClipKind> kind = data[0] % 5 == 4 ? std::nullopt : std::optional(kinds[data[0] % 5]);
    const ClipItem item =
        ClipItem::make(kinds[(data[0] >> 4) % 4], QString::fromUtf8(parts[0]), std::nullopt, std::nullopt, std::nullopt,
                       QString::fromUtf8(parts[1]), QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC));
    fuzz::require(store.store->insert(item).ok() && store.store->save().ok(), "a record is stored");

    const SearchQuery query{trimmedWhitespaceAndNewlines(QString::fromUtf8(parts[2])), kind, 5};
    SearchLimits indexed, scan;
    scan.useIndex = false;
    const Result<SearchOutcome> byIndex = store.search->run(query, indexed);
    const Result<SearchOutcome> byScan = store.search->run(query, scan);
    fuzz::require(byIndex.ok() && byScan.ok(), "any query is a valid search");
    fuzz::require(ids(byIndex) == ids(byScan), "the index answers as the scan does");

    fuzz::require(store.store->remove(item.id).ok() && store.store->save().ok(), "a record is removed");
    return 0;
}
