// How long the panel's event loop stalls while a query is typed into a large history: through the
// results model (debounced, searched on a worker, through the index) and, for comparison, the way search
// ran before, a plain scan on the UI thread for every keystroke.
// Usage: QT_QPA_PLATFORM=offscreen ui_stall_probe [records, default 1000000]

#include "BenchStore.h"
#include "history/HistorySearch.h"
#include "history/Thumbnail.h"
#include "panel/ResultsModel.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <chrono>
#include <functional>
#include <utility>

using namespace nimbrel;
using namespace nimbrel::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int keystrokeMs = 100;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// One query typed a character every 100 ms while a 1 ms timer notes every turn of the event loop: the
// gaps between its ticks are the stalls. The path under test calls answered() with the rows it shows
// whenever an answer arrives; only the answer to the whole text counts.
class Typing {
public:
    explicit Typing(QString text) : m_text(std::move(text)) {}

    void answered(qsizetype rows)
    {
        if (m_answer || m_typed < m_text.size())
            return;
        m_answer = Clock::now();
        m_rows = rows;
        // A little longer, to see what showing the answer costs.
        QTimer::singleShot(200, &m_loop, &QEventLoop::quit);
    }

    // Prints the longest gap, the 99th percentile, the number of turns, the time from the last keystroke
    // to the answer, and the rows of the answer.
    void run(const char* path, const std::function<void(const QString&)>& type)
    {
        std::vector<double> gaps;
        Clock::time_point last = Clock::now();
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            gaps.push_back(msBetween(std::exchange(last, now), now));
        });
        QTimer keys;
        QObject::connect(&keys, &QTimer::timeout, [&] {
            if (++m_typed == m_text.size()) {
                keys.stop();
                m_lastKey = Clock::now();
            }
            type(m_text.left(m_typed));
        });
        QTimer::singleShot(std::chrono::minutes(5), &m_loop, &QEventLoop::quit);
        ticks.start(1);
        keys.start(keystrokeMs);
        m_loop.exec();
        if (!m_answer)
            die(QStringLiteral("No answer to \"%1\" within five minutes").arg(m_text));
        std::sort(gaps.begin(), gaps.end());
        std::printf("%-10s %-30s %10.1f %8.2f %6zu %11.1f %5lld\n", qPrintable(u'"' + m_text + u'"'), path, gaps.back(),
                    gaps[gaps.size() * 99 / 100], gaps.size(), msBetween(m_lastKey, *m_answer),
                    static_cast<long long>(m_rows));
    }

private:
    QString m_text;
    qsizetype m_typed = 0;
    Clock::time_point m_lastKey;
    std::optional<Clock::time_point> m_answer;
    qsizetype m_rows = 0;
    QEventLoop m_loop;
};

void waitForAnswer(ResultsModel& model)
{
    QEventLoop loop;
    QObject::connect(&model, &ResultsModel::queryFinished, &loop, [&] {
        if (!model.isQuerying())
            loop.quit();
    });
    if (model.isQuerying())
        loop.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // rows show as they are measured when piped
    const int records = benchSizes(argc, argv, "1000000").front();
    const QString path = ensureStore(records);
    std::printf(
        "Store of %d records: %s\nA key every %d ms; a stall is a gap between turns of the event loop.\n\n"
        "%-10s %-30s %10s %8s %6s %11s %5s\n",
        records, qPrintable(path), keystrokeMs, "typed", "path", "longest ms", "p99 ms", "turns", "key->answer",
        "rows");

    std::unique_ptr<HistoryStore> store = must(HistoryStore::openReadOnly(path));
    ThumbnailCache thumbnails;
    ResultsModel model(*store, thumbnails);
    model.setActive(true);
    waitForAnswer(model);
    std::unique_ptr<HistorySearch> search = must(HistorySearch::open(path));

    for (const QString& text : {QStringLiteral("abcdef"), QStringLiteral("e"), QStringLiteral("rep"), absentPairs[0]}) {
        model.setSearchText(QString());
        waitForAnswer(model);
        Typing now(text);
        const QMetaObject::Connection finished = QObject::connect(&model, &ResultsModel::queryFinished, [&] {
            if (!model.isQuerying())
                now.answered(model.rowCount());
        });
        now.run("worker + index (now)", [&](const QString& typed) { model.setSearchText(typed); });
        QObject::disconnect(finished);

        Typing before(text);
        SearchLimits scan;
        scan.useIndex = false;
        // As the model did then: the trimmed text, searched at once on the UI thread.
        before.run("scan on the UI thread (before)", [&](const QString& typed) {
            const SearchQuery query{trimmedWhitespaceAndNewlines(typed), std::nullopt, ResultsModel::maximumResults};
            before.answered(must(search->run(query, scan)).items.size());
        });
    }
    return 0;
}
