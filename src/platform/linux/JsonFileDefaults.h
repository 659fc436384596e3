#pragma once

#include "platform/Defaults.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QTimer>

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
// aside as "defaults.json.bad" and the defaults apply.
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
    void load();
    void scheduleWrite();

    QString m_path;
    Console& m_console;
    QJsonObject m_values;
    QTimer m_writeTimer;
    bool m_dirty = false;
    bool m_reportedWriteFailure = false;
    // Set when an existing file could not be read: it is never overwritten with defaults.
    bool m_keepFile = false;
};

}  // namespace nimbrel::native
