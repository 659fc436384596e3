#include "platform/linux/JsonFileDefaults.h"

#include "platform/Console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <sys/stat.h>

#include <cmath>

namespace nimbrel::native {

namespace {

QJsonValue toJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QJsonValue(value.toLongLong());
    default:
        return QJsonValue::fromVariant(value);
    }
}

}  // namespace

Result<QJsonObject> parseDefaultsFile(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return Error{error.errorString()};
    if (!document.isObject())
        return Error{QStringLiteral("not a JSON object")};
    return document.object();
}

QVariant defaultsValue(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Double: {
        const double d = value.toDouble();
        // JSON has one number type; a whole number is read back as the integer it was stored as.
        if (std::trunc(d) == d && std::abs(d) < 9.007199254740992e15)
            return QVariant::fromValue(static_cast<qint64>(d));
        return d;
    }
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        QStringList strings;
        for (const QJsonValue& element : array) {
            if (!element.isString())
                return array.toVariantList();
            strings.append(element.toString());
        }
        return strings;
    }
    case QJsonValue::Object:
        return value.toObject().toVariantMap();
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

JsonFileDefaults::JsonFileDefaults(QString path, Console& console) : m_path(std::move(path)), m_console(console)
{
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(0);
    connect(&m_writeTimer, &QTimer::timeout, this, &JsonFileDefaults::synchronize);
    load();
    m_stamp = stampOf(m_path);
}

JsonFileDefaults::~JsonFileDefaults()
{
    if (m_dirty)
        synchronize();
}

void JsonFileDefaults::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable is not corrupt: leave the file alone, and do not overwrite it with defaults later.
        m_console.line(QStringLiteral("[Nimbrel] Defaults file %1 cannot be read (%2); using the defaults.")
                           .arg(m_path, file.errorString()));
        m_keepFile = true;
        return;
    }
    const Result<QJsonObject> parsed = parseDefaultsFile(file.readAll());
    file.close();
    if (parsed) {
        m_values = *parsed;
        return;
    }
    const QString& reason = parsed.error().description;
    const QString aside = m_path + QStringLiteral(".bad");
    QFile::remove(aside);
    if (QFile::rename(m_path, aside))
        m_console.line(QStringLiteral("[Nimbrel] Defaults file %1 could not be parsed (%2); kept as %3, using the defaults.")
                           .arg(m_path, reason, aside));
    else {
        m_console.line(QStringLiteral("[Nimbrel] Defaults file %1 could not be parsed (%2) nor moved aside; using the defaults.")
                           .arg(m_path, reason));
        m_keepFile = true;
    }
}

std::optional<JsonFileDefaults::FileStamp> JsonFileDefaults::stampOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    const auto ns = [](const timespec& time) { return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec; };
    return FileStamp{status.st_ino, status.st_size, ns(status.st_mtim), ns(status.st_ctim)};
}

void JsonFileDefaults::takeOutsideEdits() const
{
    const std::optional<FileStamp> stamp = stampOf(m_path);
    if (stamp == m_stamp)
        return;
    m_stamp = stamp;
    if (!stamp)
        return;  // removed: the values in use stay, and the next write puts the file back
    QFile file(m_path);
    const Result<QJsonObject> parsed =
        file.open(QIODevice::ReadOnly) ? parseDefaultsFile(file.readAll()) : Error{file.errorString()};
    if (!parsed) {
        // Perhaps an edit in progress: nothing is written over it until it parses.
        m_console.line(QStringLiteral("[Nimbrel] Defaults file %1 was changed but cannot be read (%2); the settings "
                                      "in use stay, and the file is left as it is until it can be read.")
                           .arg(m_path, parsed.error().description));
        m_keepFile = true;
        return;
    }
    QJsonObject values = *parsed;
    for (const QString& key : m_changed) {
        if (const auto own = m_values.constFind(key); own != m_values.constEnd())
            values.insert(key, *own);
        else
            values.remove(key);
    }
    m_values = values;
    m_keepFile = false;
}

QVariant JsonFileDefaults::object(const QString& key) const
{
    takeOutsideEdits();
    const auto it = m_values.constFind(key);
    return it == m_values.constEnd() ? QVariant() : defaultsValue(*it);
}

void JsonFileDefaults::setObject(const QString& key, const QVariant& value)
{
    takeOutsideEdits();
    m_values.insert(key, toJson(value));
    m_changed.insert(key);
    scheduleWrite();
}

void JsonFileDefaults::removeObject(const QString& key)
{
    takeOutsideEdits();
    m_values.remove(key);
    m_changed.insert(key);
    scheduleWrite();
}

void JsonFileDefaults::scheduleWrite()
{
    m_dirty = true;
    m_writeTimer.start();
}

bool JsonFileDefaults::synchronize()
{
    m_writeTimer.stop();
    takeOutsideEdits();
    if (!m_dirty)
        return true;
    if (m_keepFile)
        return false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
        written = file.commit();
    }
    if (!written) {
        if (!m_reportedWriteFailure)
            m_console.line(QStringLiteral("[Nimbrel] Defaults could not be saved to %1: %2").arg(m_path, file.errorString()));
        m_reportedWriteFailure = true;
        return false;
    }
    m_dirty = false;
    m_changed.clear();
    m_stamp = stampOf(m_path);
    m_reportedWriteFailure = false;
    return true;
}

}  // namespace nimbrel::native
