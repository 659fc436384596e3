#include "update/UpdateLog.h"

#include "platform/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimeZone>

#include <cmath>

namespace nimbrel {

namespace {

// Larger than any record this program writes by far; a bigger file is not read into memory.
constexpr qint64 maxRecordBytes = 1024 * 1024;

QByteArray jsonValue(const QJsonValue& value)
{
    // Qt writes single values only inside a container; take the value back out of a one-element array.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QString recordPath(const QString& updateDirectory)
{
    return updateDirectory + QLatin1Char('/') + QLatin1String(updateLogFileName);
}

}  // namespace

double secondsSinceEpoch(const QDateTime& moment)
{
    return static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0;
}

QByteArray encodeUpdateLog(const UpdateLog& record)
{
    QByteArray json = "{\"result\":" + jsonValue(record.result);
    if (record.note)
        json += ",\"note\":" + jsonValue(*record.note);
    json += ",\"timestamp\":" + jsonValue(record.timestamp) + '}';
    return json;
}

std::optional<UpdateLog> decodeUpdateLog(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue result = object.value(QStringLiteral("result"));
    const QJsonValue note = object.value(QStringLiteral("note"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    if (!result.isString() || !timestamp.isDouble())
        return std::nullopt;
    if (!note.isUndefined() && !note.isNull() && !note.isString())
        return std::nullopt;

    UpdateLog record;
    record.result = result.toString();
    if (note.isString())
        record.note = note.toString();
    record.timestamp = timestamp.toDouble();
    return record;
}

bool writeUpdateLog(const QString& updateDirectory, const UpdateLog& record)
{
    // A timestamp that is not a number cannot be written as JSON; write nothing rather than a broken record.
    if (!std::isfinite(record.timestamp))
        return false;
    const QByteArray bytes = encodeUpdateLog(record);
    QDir().mkpath(updateDirectory);
    QSaveFile file(recordPath(updateDirectory));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void reportLastApplyResult(const QString& updateDirectory, SystemLog& log)
{
    QFile file(recordPath(updateDirectory));
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxRecordBytes)
        return;
    const QByteArray bytes = file.read(maxRecordBytes + 1);
    if (bytes.size() > maxRecordBytes || file.error() != QFileDevice::NoError)
        return;
    file.close();

    const std::optional<UpdateLog> record = decodeUpdateLog(bytes);
    if (!record)
        return;
    file.remove();
    if (record->result != QLatin1String("success"))
        log.write(QStringLiteral("[Nimbrel] 上次自动更新未生效（") + record->result + QStringLiteral("）：") +
                  record->note.value_or(QString()));
}

}  // namespace nimbrel
