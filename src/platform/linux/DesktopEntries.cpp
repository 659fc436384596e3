#include "platform/linux/DesktopEntries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace nimbrel::native {

std::optional<QString> DesktopEntry::localizedName(const QStringList& languages) const
{
    for (const QString& language : languages) {
        QString tag = language;
        tag.replace(QLatin1Char('-'), QLatin1Char('_'));
        tag = tag.section(QLatin1Char('.'), 0, 0);  // drop an encoding such as ".UTF-8"
        if (const auto it = names.constFind(tag); it != names.constEnd())
            return *it;
        if (const auto it = names.constFind(tag.section(QLatin1Char('_'), 0, 0)); it != names.constEnd())
            return *it;
    }
    if (const auto it = names.constFind(QString()); it != names.constEnd())
        return *it;
    return std::nullopt;
}

DesktopEntries::DesktopEntries(QStringList applicationFolders) : m_folders(std::move(applicationFolders)) { scan(); }

QStringList DesktopEntries::standardFolders()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

std::optional<DesktopEntry> DesktopEntries::parse(const QString& id, const QByteArray& contents)
{
    DesktopEntry entry;
    entry.id = id;
    bool inMain = false;
    bool isApplication = false;
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Type"))
            isApplication = value == QLatin1String("Application");
        else if (key == QLatin1String("Name"))
            entry.names.insert(QString(), value);
        else if (key.startsWith(QLatin1String("Name[")) && key.endsWith(QLatin1Char(']')))
            entry.names.insert(key.mid(5, key.size() - 6), value);
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("StartupWMClass"))
            entry.startupWMClass = value;
        else if (key == QLatin1String("Exec"))
            entry.executable = QFileInfo(value.section(QLatin1Char(' '), 0, 0).remove(QLatin1Char('"'))).fileName();
        else if (key == QLatin1String("Categories"))
            entry.categories = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        else if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return std::nullopt;
    }
    if (!isApplication)
        return std::nullopt;
    return entry;
}

void DesktopEntries::scan()
{
    for (const QString& folder : m_folders) {
        const QDir root(folder);
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = root.relativeFilePath(path);
            id.chop(8);  // ".desktop"
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (m_byId.contains(id))
                continue;  // an earlier folder overrides this one
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const auto entry = parse(id, file.read(256 * 1024));
            if (!entry)
                continue;
            m_byId.insert(id, *entry);
            const auto remember = [this, &id](const QString& key) {
                if (!key.isEmpty() && !m_idByKey.contains(key.toLower()))
                    m_idByKey.insert(key.toLower(), id);
            };
            remember(entry->startupWMClass);
            remember(id);
            remember(id.section(QLatin1Char('.'), -1));
            if (!entry->executable.isEmpty() && !m_idByExecutable.contains(entry->executable))
                m_idByExecutable.insert(entry->executable, id);
        }
    }
}

std::optional<DesktopEntry> DesktopEntries::byId(const QString& id) const
{
    const auto it = m_byId.constFind(id);
    if (it == m_byId.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<DesktopEntry> DesktopEntries::forWindow(const QString& windowClass, const QString& instance,
                                                      const QString& executable) const
{
    for (const QString& key : {windowClass, instance}) {
        if (key.isEmpty())
            continue;
        if (const auto it = m_idByKey.constFind(key.toLower()); it != m_idByKey.constEnd())
            return byId(*it);
    }
    if (!executable.isEmpty())
        if (const auto it = m_idByExecutable.constFind(executable); it != m_idByExecutable.constEnd())
            return byId(*it);
    return std::nullopt;
}

}  // namespace nimbrel::native
