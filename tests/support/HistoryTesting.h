#pragma once

#include "history/HistoryStore.h"
#include "history/SearchIndexBuilder.h"
#include "support/RawSql.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <QFile>

namespace nimbrel::test {

inline QDateTime at(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

inline ClipItem textItem(const QString& text, qint64 msecs, bool pinned = false,
                         QList<std::pair<QString, QByteArray>> formats = {})
{
    ClipItem item = ClipItem::make(classify(text), text, {}, {}, {}, {}, at(msecs), std::move(formats));
    item.pinned = pinned;
    return item;
}

inline ClipItem imageItem(const QByteArray& image, std::optional<QByteArray> thumbnail, qint64 msecs)
{
    return ClipItem::make(ClipKind::image, {}, image, std::move(thumbnail), QStringLiteral("org.example.Viewer"),
                          QStringLiteral("Viewer"), at(msecs));
}

template <typename T>
T valueOf(Result<T> result)
{
    EXPECT_TRUE(result.ok()) << (result ? "" : result.error().description.toStdString());
    return result ? std::move(result).value() : T{};
}

inline void expectOk(const Result<void>& result)
{
    EXPECT_TRUE(result.ok()) << (result ? "" : result.error().description.toStdString());
}

inline QString storePath()
{
    return freshDirectory() + QStringLiteral("/Nimbrel.store");
}

// A store in memory (no path) or in a file, holding `items`, saved.
inline std::unique_ptr<HistoryStore> makeStore(const QList<ClipItem>& items, const QString& path = {})
{
    auto store = valueOf(path.isEmpty() ? HistoryStore::openInMemory() : HistoryStore::openFile(path));
    for (const ClipItem& item : items)
        expectOk(store->insert(item));
    expectOk(store->save());
    return store;
}

inline QList<ClipItem> fetchAll(const HistoryStore& store, FetchDescriptor descriptor = {SortOrder::ascending})
{
    return valueOf(store.fetch(descriptor));
}

inline QStringList texts(const QList<ClipItem>& items, bool pinnedOnly = false)
{
    QStringList result;
    for (const ClipItem& item : items)
        if (item.pinned || !pinnedOnly)
            result.append(item.contentText.value_or(QStringLiteral("<none>")));
    return result;
}

inline void rawFile(const QString& path, const QString& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    rawExecute(db, sql);
    ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

// Turns a store file into one of an earlier layout version, as that version made it, in a single file.
inline void makeStoreVersion(const QString& path, int version)
{
    QString sql = QStringLiteral("PRAGMA journal_mode = DELETE; PRAGMA user_version = %1;").arg(version);
    if (version < 4)
        sql += "DROP TRIGGER clip_pin_deleted; DROP TABLE clip_pin;";
    if (version < 3)
        sql += "DROP TRIGGER clip_format_deleted; DROP TABLE clip_format;";
    if (version < 2)
        sql +=
            "DROP TRIGGER clip_search_inserted; DROP TRIGGER clip_search_deleted; DROP TRIGGER clip_order_inserted;"
            "DROP TRIGGER clip_order_deleted; DROP TABLE clip_search; DROP TABLE search_state; DROP TABLE clip_order;"
            "DROP TABLE search_pending;";
    rawFile(path, sql);
}

// Runs the background index build to its end, `batch` records at a time.
inline Result<void> buildIndex(const QString& storeName, int batch = 2)
{
    Result<std::unique_ptr<SearchIndexBuilder>> builder = SearchIndexBuilder::open(storeName);
    Result<SearchIndexBuilder::Step> step = builder ? (*builder)->step(batch) : builder.error();
    while (step && !step->complete)
        step = (*builder)->step(batch);
    return step ? Result<void>() : step.error();
}

// Takes every deleted record's entries out of the index, as the background maintenance does.
inline void purgeIndex(const QString& storeName)
{
    auto builder = valueOf(SearchIndexBuilder::open(storeName));
    ASSERT_TRUE(builder);
    for (Result<SearchIndexBuilder::Step> step = builder->purge(100); !step || !step->complete;
         step = builder->purge(100))
        ASSERT_TRUE(step.ok()) << step.error().description.toStdString();
}

}  // namespace nimbrel::test
