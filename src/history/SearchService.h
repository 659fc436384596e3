#pragma once

#include "history/HistorySearch.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>

class QThread;

namespace nimbrel {

// Runs searches on a worker thread with a read-only connection of its own, one at a time: a new request
// supersedes the one before, which is interrupted and whose results are never delivered. Results come
// back on the thread that made the service, tagged with the request's ticket.
class SearchService final : public QObject {
    Q_OBJECT
public:
    explicit SearchService(QString storeName, QObject* parent = nullptr);
    ~SearchService() override;

    // Starts `query`, answered through the index where it can be and stopped after `workBudget` of work
    // (zero: no limit). Returns the ticket its answers carry.
    quint64 request(const SearchQuery& query, std::chrono::milliseconds workBudget);
    // The ticket of the newest request; answers to others are stale.
    quint64 latestTicket() const { return m_latest; }

Q_SIGNALS:
    // The matches a scan has found so far, newest first; the final answer follows.
    void partial(quint64 ticket, const QList<nimbrel::ClipItem>& items);
    // The answer to the request; complete is false when the scan budget ran out first.
    void finished(quint64 ticket, const QList<nimbrel::ClipItem>& items, bool complete);
    void failed(quint64 ticket, const QString& error);

private:
    class Worker;

    QString m_storeName;
    QThread* m_thread;
    Worker* m_worker;
    std::atomic<quint64> m_latest = 0;
};

}  // namespace nimbrel
