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
    // A mouse selection that could not be had is not worth a line: the user did not ask to copy.
    const bool clipboard = change.selection == Selection::clipboard;
    switch (clipboard ? change.outcome : CapturedChange::Outcome::ignored) {
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
    if (clipboard)
        m_clipboardRecord.reset();
    std::optional<ClipItem> item = makeItem(change);
    if (item && item->byteSize > m_budget.largestRecord() && !item->formats.isEmpty()) {
        // The text matters more than its formatting.
        for (const auto& [type, bytes] : std::exchange(item->formats, {}))
            item->byteSize -= bytes.size();
    }
    if (item && item->byteSize > m_budget.largestRecord()) {
        Q_EMIT diagnostic(QStringLiteral("[Nimbrel] A copy of %1 is larger than a quarter of the storage budget (%2) "
                                         "and is not recorded")
                              .arg(sizeText(item->byteSize), sizeText(m_budget.largestRecord())));
        item.reset();
    }
    if (item) {
        if (const std::optional<QUuid> repeated = repeatedRecord(*item)) {
            if (clipboard)
                m_clipboardRecord = repeated;
        } else {
            if (!clipboard) {
                if (growsLastSelection(*item, change.capturedAt)) {
                    if (m_clipboardRecord == m_lastSelection->id)
                        m_clipboardRecord.reset();
                    m_pending.append({std::nullopt, m_lastSelection->id});
                }
                m_lastSelection = SelectionRecord{item->id, item->contentText.value_or(QString()), change.capturedAt};
            } else {
                m_clipboardRecord = item->id;
            }
            m_pending.append({std::move(item), QUuid()});
            flush();
        }
    }
    Q_EMIT changeHandled();
}

bool HistoryWriter::growsLastSelection(const ClipItem& item, const QDateTime& at) const
{
    if (!m_lastSelection || !item.contentText || item.kind() == ClipKind::image)
        return false;
    const qint64 after = m_lastSelection->at.msecsTo(at);
    return after >= 0 && after <= selectionGrowthMs && item.contentText->size() > m_lastSelection->text.size() &&
           item.contentText->contains(m_lastSelection->text);
}

void HistoryWriter::clipboardOwnerGone()
{
    if (m_clipboardRecord && !m_stopping)
        Q_EMIT offerAgain(*m_clipboardRecord);
}

void HistoryWriter::remove(const QUuid& id)
{
    if (m_stopping)
        return;
    if (m_clipboardRecord == id)
        m_clipboardRecord.reset();
    if (m_lastSelection && m_lastSelection->id == id)
        m_lastSelection.reset();
    m_pending.append({std::nullopt, id});
    flush();
}

std::optional<QUuid> HistoryWriter::repeatedRecord(const ClipItem& item)
{
    const auto repeat = [&item](const ClipItem& last) {
        return sameRecord(last, item) ? std::optional<QUuid>(last.id) : std::nullopt;
    };
    // What waits for a busy store is newer than anything stored.
    for (auto it = m_pending.crbegin(); it != m_pending.crend(); ++it)
        if (it->item)
            return repeat(*it->item);
    FetchDescriptor newest;
    newest.sortByCreatedAt = SortOrder::descending;
    newest.limit = 1;
    auto latest = m_store->fetch(newest);
    if (!latest || latest->isEmpty())
        return std::nullopt;
    ClipItem& last = latest->first();
    // A photo's bytes are read back only when the sizes leave a repeat possible.
    if (last.kind() == ClipKind::image && item.kind() == ClipKind::image && last.byteSize == item.byteSize &&
        !m_store->loadContents(last))
        return std::nullopt;
    return repeat(last);
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
