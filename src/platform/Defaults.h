#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace nimbrel {

// The user's typed key→value defaults. A value is one of: QString, qint64, bool, QStringList, and it
// reads back with the type it was stored with ("300" stays a string, false stays a Boolean).
class Defaults {
public:
    Defaults() = default;
    virtual ~Defaults() = default;
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // The stored value, or an invalid QVariant when the key is absent.
    virtual QVariant object(const QString& key) const = 0;
    // Stores a value (QString, qint64/int, bool or QStringList) and persists it soon.
    virtual void setObject(const QString& key, const QVariant& value) = 0;
    // Removes the key and persists soon.
    virtual void removeObject(const QString& key) = 0;
    // Persists pending changes now; false when they could not be written.
    virtual bool synchronize() = 0;

    // Typed reads in the manner of the platform defaults: a string only for a stored string, an integer
    // only for a stored integer, a Boolean from a Boolean or a non-zero integer (absent reads false).
    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    bool boolean(const QString& key) const;
    std::optional<QStringList> stringList(const QString& key) const;

    void setString(const QString& key, const QString& value) { setObject(key, value); }
    void setInteger(const QString& key, qint64 value) { setObject(key, QVariant::fromValue(value)); }
    void setBool(const QString& key, bool value) { setObject(key, value); }
    void setStringList(const QString& key, const QStringList& value) { setObject(key, value); }
};

}  // namespace nimbrel
