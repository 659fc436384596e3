#include "history/HistoryWriter.h"

#include "history/HistoryStore.h"
#include "history/SqliteStatement.h"

#include <QLocale>

namespace nimbrel {

namespace {

// Two texts are the same text when they are canonically equivalent.
bool sameRecord(const ClipItem& last, const ClipItem& item)
{
    if (last.kindRaw != item.kindRaw)
        return false;
    if (last.kind() == ClipKind::image)
        return last.byteSize == item.byteSize && last.contentImage == item.contentImage;
    if (last.contentText.has_value() != item.contentText.has_value())
        return false;
    return !last.contentText || last.contentText->normalized(QString::NormalizationForm_C) ==
                                    item.contentText->normalized(QString::NormalizationForm_C);
}

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

}  // namespace

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, const std::atomic<qint64>& limitBytes)
    : m_store(std::move(store)),
      m_budget(*m_store, [&limitBytes] { return limitBytes.load(); }),
      // Children, so they move to the writer's thread with it.
      m_retry(this)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(retryIntervalMs);
    connect(&m_retry, &QTimer::timeout, this, &HistoryWriter::flush);
}

HistoryWriter::~HistoryWriter() = default;

void HistoryWriter::ingest(const CapturedChange& change)
{
    if (m_stopping)
        return;
    switch (change.outcome) {
        case CapturedChange::Outcome::ignored:
        case CapturedChange::Outcome::contents:
            break;
        case CapturedChange::Outcome::unanswered:
            Q_EMIT diagnostic(
                QStringLiteral("[Nimbrel] The application that copied did not hand over its data in time; "
                               "that copy is not recorded"));
            break;
        case CapturedChange::Outcome::tooLarge:
            Q_EMIT diagnostic(QStringLiteral("[Nimbrel] A copy larger than %1 (a quarter of the storage budget) is not "
                                             "recorded")
                                  .arg(sizeText(m_budget.largestRecord())));
            break;
    }
    std::optional<ClipItem> item = makeItem(change);
    if (item && item->byteSize > m_budget.largestRecord()) {
        Q_EMIT diagnostic(QStringLiteral("[Nimbrel] A copy of %1 is larger than a quarter of the storage budget (%2) "
                                         "and is not recorded")
                              .arg(sizeText(item->byteSize), sizeText(m_budget.largestRecord())));
        item.reset();
    }
    if (item && !isDuplicateOfNewest(*item)) {
        m_pending.append({std::move(item), QUuid()});
        flush();
    }
    Q_EMIT changeHandled();
}

void HistoryWriter::remove(const QUuid& id)
{
    if (m_stopping)
        return;
    m_pending.append({std::nullopt, id});
    flush();
}

bool HistoryWriter::isDuplicateOfNewest(const ClipItem& item)
{
    // What waits for a busy store is newer than anything stored.
    for (auto it = m_pending.crbegin(); it != m_pending.crend(); ++it)
        if (it->item)
            return sameRecord(*it->item, item);
    FetchDescriptor newest;
    newest.sortByCreatedAt = SortOrder::descending;
    newest.limit = 1;
    auto latest = m_store->fetch(newest);
    if (!latest || latest->isEmpty())
        return false;
    ClipItem& last = latest->first();
    // A photo's bytes are read back only when the sizes leave a repeat possible.
    if (last.kind() == ClipKind::image && item.kind() == ClipKind::image && last.byteSize == item.byteSize &&
        !m_store->loadImages(last))
        return false;
    return sameRecord(last, item);
}

void HistoryWriter::flush()
{
    while (!m_pending.isEmpty() && !m_stopping) {
        if (!write(m_pending.first())) {
            if (!m_toldBusy)
                Q_EMIT diagnostic(
                    QStringLiteral("[Nimbrel] The history store is busy (another program holds it); "
                                   "what was copied is kept and saved when it is free"));
            m_toldBusy = true;
            m_retry.start();
            break;
        }
        m_pending.removeFirst();
        m_toldBusy = false;
        m_budget.enforce();
        Q_EMIT storeChanged();
    }
}

bool HistoryWriter::write(const Pending& pending)
{
    // A busy store is tried again later; any other failure is said and the write given up, as a failed
    // save always was (SQLite may keep the change pending for the next save).
    const auto failed = [this, &pending](const Error& error) {
        if (isBusy(error))
            return false;
        m_applied = false;
        if (!pending.item)
            Q_EMIT removeFailed(pending.removal);
        Q_EMIT diagnostic(QStringLiteral("[Nimbrel] save error: ") + error.description);
        return true;
    };
    if (!m_applied) {
        const Result<void> applied = pending.item ? m_store->insert(*pending.item) : m_store->remove(pending.removal);
        if (!applied)
            return failed(applied.error());
        m_applied = true;
    }
    if (const Result<void> saved = m_store->save(); !saved) {
        // Rolled back by SQLite: the next try applies the change again.
        if (!m_store->hasChanges())
            m_applied = false;
        return failed(saved.error());
    }
    m_applied = false;
    return true;
}

}  // namespace nimbrel
