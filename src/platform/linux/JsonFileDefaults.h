#pragma once

#include "platform/Defaults.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <optional>

namespace nimbrel {
class Console;
}

namespace nimbrel::native {

// The values of a defaults file's bytes; an error naming the reason when they are not JSON or not a JSON object.
Result<QJsonObject> parseDefaultsFile(const QByteArray& bytes);
// A stored JSON value as the defaults hand it out: a whole number within 2^53 as qint64, an array of strings
// as QStringList; null reads as absent (an invalid QVariant).
QVariant defaultsValue(const QJsonValue& value);

// The user defaults as one JSON document (~/.config/Nimbrel/defaults.json), written atomically and
// readable by the owner only. A set is persisted on the next turn of the event loop, so several sets
// in one handler cost one write; synchronize() writes at once. A file that cannot be parsed is kept
// aside as "defaults.json.bad" and the defaults apply. An edit of the file by hand while Nimbrel runs is
// taken in at the next read or change; one that cannot be parsed is reported and left alone, the values
// in use staying, until it parses.
class JsonFileDefaults final : public QObject, public Defaults {
    Q_OBJECT
public:
    JsonFileDefaults(QString path, Console& console);
    ~JsonFileDefaults() override;

    QVariant object(const QString& key) const override;
    void setObject(const QString& key, const QVariant& value) override;
    void removeObject(const QString& key) override;
    bool synchronize() override;

    QString path() const { return m_path; }

private:
    // Tells one version of the file from another without reading it.
    struct FileStamp {
        quint64 inode;
        qint64 size;
        qint64 modifiedNs;
        qint64 changedNs;
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    static std::optional<FileStamp> stampOf(const QString& path);

    void load();
    // Takes in an edit made to the file since it was last read or written; what was set or removed
    // here since the last write stays so.
    void takeOutsideEdits() const;
    void scheduleWrite();

    QString m_path;
    Console& m_console;
    // Mutable: a read takes in the file's outside edits first.
    mutable QJsonObject m_values;
    mutable std::optional<FileStamp> m_stamp;
    QSet<QString> m_changed;  // the keys set or removed since the last write
    QTimer m_writeTimer;
    bool m_dirty = false;
    bool m_reportedWriteFailure = false;
    // Set when an existing file could not be read: it is never overwritten with defaults.
    mutable bool m_keepFile = false;
};

}  // namespace nimbrel::native
