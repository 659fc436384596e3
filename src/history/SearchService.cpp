#include "history/SearchService.h"

#include <QThread>

namespace nimbrel {

// Lives on the worker thread and owns the search connection there.
class SearchService::Worker final : public QObject {
public:
    explicit Worker(SearchService& service) : m_service(service) {}

    void run(quint64 ticket, const SearchQuery& query, std::chrono::milliseconds budget)
    {
        const auto stale = [&] { return ticket != m_service.m_latest.load(); };
        // Requests queued behind a newer one are skipped unrun.
        if (stale())
            return;
        if (!m_search) {
            Result<std::unique_ptr<HistorySearch>> opened = HistorySearch::open(m_service.m_storeName);
            if (!opened) {
                Q_EMIT m_service.failed(ticket, opened.error().description);
                return;
            }
            m_search = std::move(opened).value();
            m_interruptible = m_search.get();
        }
        SearchLimits limits;
        limits.workBudget = budget;
        // An interrupt() that came while no statement ran is seen here.
        limits.cancelled = stale;
        limits.partial = [&](const QList<ClipItem>& items) {
            if (!stale())
                Q_EMIT m_service.partial(ticket, items);
        };
        while (true) {
            Result<SearchOutcome> outcome = m_search->run(query, limits);
            if (stale())
                return;
            // An interruption meant for the request before can land on this one: run it again.
            if (!outcome && m_search->interrupted())
                continue;
            if (!outcome)
                Q_EMIT m_service.failed(ticket, outcome.error().description);
            else
                Q_EMIT m_service.finished(ticket, outcome->items, outcome->complete);
            return;
        }
    }

    // From the service's thread.
    void interrupt()
    {
        if (HistorySearch* search = m_interruptible.load())
            search->interrupt();
    }

private:
    SearchService& m_service;
    std::unique_ptr<HistorySearch> m_search;
    // The same search, for interrupt(); it lives until the worker is deleted after its thread ended.
    std::atomic<HistorySearch*> m_interruptible = nullptr;
};

SearchService::SearchService(QString storeName, QObject* parent)
    : QObject(parent), m_storeName(std::move(storeName)), m_thread(new QThread), m_worker(new Worker(*this))
{
    m_thread->setObjectName(QStringLiteral("search"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
}

SearchService::~SearchService()
{
    ++m_latest;
    m_worker->interrupt();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

quint64 SearchService::request(const SearchQuery& query, std::chrono::milliseconds workBudget)
{
    const quint64 ticket = ++m_latest;
    m_worker->interrupt();
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, ticket, query, workBudget] { worker->run(ticket, query, workBudget); },
        Qt::QueuedConnection);
    return ticket;
}

}  // namespace nimbrel
