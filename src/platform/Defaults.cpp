#include "platform/Defaults.h"

namespace nimbrel {

namespace {
bool isInteger(const QVariant& v)
{
    const auto type = v.typeId();
    return type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::UInt ||
           type == QMetaType::ULongLong || type == QMetaType::Long;
}
}  // namespace

std::optional<QString> Defaults::string(const QString& key) const
{
    const QVariant v = object(key);
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

std::optional<qint64> Defaults::integer(const QString& key) const
{
    const QVariant v = object(key);
    if (!isInteger(v))
        return std::nullopt;
    return v.toLongLong();
}

bool Defaults::boolean(const QString& key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isInteger(v))
        return v.toLongLong() != 0;
    return false;
}

std::optional<QStringList> Defaults::stringList(const QString& key) const
{
    const QVariant v = object(key);
    if (v.typeId() != QMetaType::QStringList)
        return std::nullopt;
    return v.toStringList();
}

}  // namespace nimbrel
