#include "history/HistoryWriter.h"

#include "history/HistoryStore.h"
#include "history/SqliteStatement.h"

#include <QLocale>
#include <QLoggingCategory>

#include <algorithm>
#include <utility>

namespace nimbrel {

// Off unless asked for (QT_LOGGING_RULES="nimbrel.capture.debug=true"): a line for each change, saying what
// became of it and never what it held, for finding out why a copy was not recorded.
Q_LOGGING_CATEGORY(captureLog, "nimbrel.capture", QtInfoMsg)

namespace {

const char* fate(const CapturedChange& change)
{
    if (change.heldBack)
        return "held back unread: recording is paused or an excluded application is in front";
    if (change.secret)
        return "marked secret by a password manager: not read";
    switch (change.outcome) {
        case CapturedChange::Outcome::contents:
            return "read";
        case CapturedChange::Outcome::unanswered:
            return "not handed over in time";
        case CapturedChange::Outcome::tooLarge:
            return "over the size cap";
        case CapturedChange::Outcome::ignored:
            break;
    }
    return "not read: Nimbrel's own, made in Nimbrel, or replaced meanwhile";
}

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

EditOutcome stoppedOutcome()
{
    EditOutcome outcome;
    outcome.status = EditOutcome::Status::failed;
    outcome.error = QStringLiteral("recording stopped before the change was made");
    return outcome;
}

}  // namespace

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, const std::atomic<qint64>& limitBytes)
    : m_store(std::move(store)),
      m_budget(*m_store, [&limitBytes] { return limitBytes.load(); }),
      // Children, so they move to the writer's thread with it.
      m_retry(this),
      m_reclaim(this)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(retryIntervalMs);
    connect(&m_retry, &QTimer::timeout, this, &HistoryWriter::flush);
    m_reclaim.setSingleShot(true);
    m_reclaim.setInterval(reclaimRetryMs);
    connect(&m_reclaim, &QTimer::timeout, this, &HistoryWriter::reclaimSpace);
}

HistoryWriter::~HistoryWriter()
{
    // Whoever waits for an answer gets one.
    for (const Operation& operation : std::as_const(m_pending)) {
        if (operation.reply)
            operation.reply(stoppedOutcome());
    }
}

void HistoryWriter::ingest(const CapturedChange& change)
{
    if (m_stopping)
        return;
    // A mouse selection that could not be had is not worth a line: the user did not ask to copy.
    const bool clipboard = change.selection == Selection::clipboard;
    qCDebug(captureLog, "%s change %s", clipboard ? "clipboard" : "mouse selection", fate(change));
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
                    m_pending.append({Operation::Kind::remove, std::nullopt, m_lastSelection->id});
                }
                m_lastSelection = SelectionRecord{item->id, item->contentText.value_or(QString()), change.capturedAt};
            } else {
                m_clipboardRecord = item->id;
            }
            m_pending.append({Operation::Kind::insert, std::move(item)});
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

void HistoryWriter::enqueue(Operation operation)
{
    if (m_stopping) {
        if (operation.reply)
            operation.reply(stoppedOutcome());
        return;
    }
    m_pending.append(std::move(operation));
    flush();
}

void HistoryWriter::remove(const QUuid& id, bool keepForUndo, EditReply reply)
{
    if (m_clipboardRecord == id)
        m_clipboardRecord.reset();
    if (m_lastSelection && m_lastSelection->id == id)
        m_lastSelection.reset();
    enqueue({Operation::Kind::remove, std::nullopt, id, keepForUndo, std::move(reply)});
}

void HistoryWriter::setPinned(const QUuid& id, bool pinned, EditReply reply)
{
    // A pinned record is the user's: a mouse selection growing on does not replace it.
    if (m_lastSelection && m_lastSelection->id == id && pinned)
        m_lastSelection.reset();
    enqueue({Operation::Kind::setPinned, std::nullopt, id, pinned, std::move(reply)});
}

void HistoryWriter::clear(bool includePinned, EditReply reply)
{
    enqueue({Operation::Kind::clear, std::nullopt, QUuid(), includePinned, std::move(reply)});
}

void HistoryWriter::undoRemove()
{
    enqueue({Operation::Kind::undoRemove});
}

void HistoryWriter::forgetRemoved()
{
    // An undo still waiting needs the record; otherwise it goes now, whatever waits for a busy store,
    // and a waiting deletion keeps nothing.
    const bool undoWaits = std::any_of(m_pending.cbegin(), m_pending.cend(), [](const Operation& operation) {
        return operation.kind == Operation::Kind::undoRemove;
    });
    if (undoWaits) {
        enqueue({Operation::Kind::forgetRemoved});
        return;
    }
    m_removed.reset();
    for (Operation& operation : m_pending) {
        if (operation.kind == Operation::Kind::remove) {
            operation.flag = false;
            operation.item.reset();
        }
    }
}

std::optional<QUuid> HistoryWriter::repeatedRecord(const ClipItem& item)
{
    const auto repeat = [&item](const ClipItem& last) {
        return sameRecord(last, item) ? std::optional<QUuid>(last.id) : std::nullopt;
    };
    // What waits for a busy store is newer than anything stored. Behind a waiting deletion the newest
    // record is not known: the copy is then kept rather than risk losing it.
    for (auto it = m_pending.crbegin(); it != m_pending.crend(); ++it) {
        switch (it->kind) {
            case Operation::Kind::insert:
                return repeat(*it->item);
            case Operation::Kind::remove:
            case Operation::Kind::clear:
            case Operation::Kind::undoRemove:
                return std::nullopt;
            case Operation::Kind::setPinned:
            case Operation::Kind::forgetRemoved:
                break;
        }
    }
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
    // While the store is busy, what comes meanwhile waits for the next try rather than each waiting for
    // the lock in turn.
    if (m_retry.isActive())
        return;
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
        Operation operation = m_pending.takeFirst();
        m_toldBusy = false;
        finish(operation);
    }
}

Result<bool> HistoryWriter::apply(Operation& operation)
{
    using Kind = Operation::Kind;
    using Status = EditOutcome::Status;
    switch (operation.kind) {
        case Kind::insert:
            if (Result<void> inserted = m_store->insert(*operation.item); !inserted)
                return inserted.error();
            return true;
        case Kind::remove: {
            Result<std::optional<ClipItem>> found = m_store->record(operation.id);
            if (!found)
                return found.error();
            if (!*found) {
                operation.outcome.status = Status::unknownRecord;
                return false;
            }
            if (operation.flag) {
                // All of it, as it is now: undoing stores it again exactly so.
                ClipItem whole = std::move(**found);
                if (Result<void> loaded = m_store->loadContents(whole); !loaded)
                    return loaded.error();
                Result<std::optional<QByteArray>> thumbnail = m_store->thumbnail(whole.id);
                if (!thumbnail)
                    return thumbnail.error();
                whole.thumbnailData = *thumbnail;
                operation.item = std::move(whole);
            }
            if (Result<void> removed = m_store->remove(operation.id); !removed)
                return removed.error();
            return true;
        }
        case Kind::setPinned: {
            Result<bool> found = m_store->setPinned(operation.id, operation.flag);
            if (!found)
                return found.error();
            if (!*found)
                operation.outcome.status = Status::unknownRecord;
            return *found;
        }
        case Kind::clear: {
            Result<EditOutcome> cleared = m_store->clear(operation.flag);
            if (!cleared)
                return cleared.error();
            operation.outcome.records = cleared->records;
            operation.outcome.bytes = cleared->bytes;
            return true;
        }
        case Kind::undoRemove:
            if (!m_removed)
                return false;
            if (Result<void> inserted = m_store->insert(*m_removed); !inserted)
                return inserted.error();
            return true;
        case Kind::forgetRemoved:
            m_removed.reset();
            return false;
    }
    return false;
}

bool HistoryWriter::write(Operation& operation)
{
    // A busy store is tried again later; any other failure is said and the write given up, as a failed
    // save always was (SQLite may keep the change pending for the next save).
    const auto failed = [this, &operation](const Error& error) {
        if (isBusy(error))
            return false;
        m_applied = false;
        operation.outcome.status = EditOutcome::Status::failed;
        operation.outcome.error = error.description;
        if (operation.kind == Operation::Kind::remove)
            Q_EMIT removeFailed(operation.id);
        Q_EMIT diagnostic(QStringLiteral("[Nimbrel] save error: ") + error.description);
        return true;
    };
    if (!m_applied) {
        const Result<bool> applied = apply(operation);
        if (!applied)
            return failed(applied.error());
        if (!*applied)
            return true;
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

void HistoryWriter::finish(Operation& operation)
{
    using Kind = Operation::Kind;
    const bool done = operation.outcome.status == EditOutcome::Status::done;
    switch (operation.kind) {
        case Kind::insert:
            m_budget.enforce();
            break;
        case Kind::remove:
            if (done && operation.flag && operation.item)
                m_removed = std::move(operation.item);
            break;
        case Kind::setPinned:
            break;
        case Kind::clear:
            if (done) {
                m_removed.reset();
                // What the clipboard and the last selection became may have gone with the rest.
                const auto gone = [this](const QUuid& id) {
                    const Result<std::optional<ClipItem>> record = m_store->record(id);
                    return record && !record->has_value();
                };
                if (m_clipboardRecord && gone(*m_clipboardRecord))
                    m_clipboardRecord.reset();
                if (m_lastSelection && gone(m_lastSelection->id))
                    m_lastSelection.reset();
                m_reclaimTries = 0;
                reclaimSpace();
            }
            break;
        case Kind::undoRemove:
            // Brought back over the budget, if it must be: the next record's pruning deals with that, so
            // that the record just brought back is not the one pruned.
            if (!m_removed)
                return;
            m_removed.reset();
            break;
        case Kind::forgetRemoved:
            return;
    }
    // The change is announced before it is answered, so whoever hears the answer finds the store changed.
    if (done || operation.kind == Kind::insert)
        Q_EMIT storeChanged();
    if (operation.reply)
        operation.reply(operation.outcome);
}

void HistoryWriter::reclaimSpace()
{
    const Result<bool> reclaimed = HistoryStore::reclaimSpace(m_store->handle());
    if (!reclaimed) {
        Q_EMIT diagnostic(QStringLiteral("[Nimbrel] The space of the cleared records could not be given back: ") +
                          reclaimed.error().description);
        return;
    }
    if (*reclaimed)
        return;
    // A reader in the middle of a read keeps the WAL, and the earlier copies of the cleared pages in it: tried
    // again until it lets go, soon at first, then every half minute.
    if (++m_reclaimTries == reclaimAttempts)
        Q_EMIT diagnostic(
            QStringLiteral("[Nimbrel] The space of the cleared records could not be given back yet: another program "
                           "keeps reading the history store"));
    m_reclaim.start(m_reclaimTries < reclaimAttempts ? reclaimRetryMs : reclaimLaterMs);
}

}  // namespace nimbrel
