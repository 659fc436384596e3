#include "platform/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace nimbrel::native {

namespace {
const QString entryName = QStringLiteral("org.nimbrel.Nimbrel.desktop");

bool isFalse(const QString& value) { return value.trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0; }
bool isTrue(const QString& value) { return value.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0; }
}  // namespace

XdgAutostart::XdgAutostart(QString autostartDirectory, QString executable)
    : m_directory(std::move(autostartDirectory)), m_executable(std::move(executable))
{
}

QString XdgAutostart::entryPath() const { return m_directory + QLatin1Char('/') + entryName; }

LoginItemStatus XdgAutostart::status() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return LoginItemStatus::notRegistered;
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        if ((key == QLatin1String("Hidden") && isTrue(value)) ||
            (key == QLatin1String("X-GNOME-Autostart-enabled") && isFalse(value)))
            return LoginItemStatus::notRegistered;
    }
    return LoginItemStatus::enabled;
}

QString XdgAutostart::execValue(const QString& executable)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : executable)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString escaped = executable;
    escaped.replace(QLatin1String("%"), QLatin1String("%%"));
    if (!needsQuotes)
        return escaped;
    QString quoted;
    for (const QChar c : escaped) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    // The desktop entry format then unescapes backslashes once more when reading a string value.
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

Result<void> XdgAutostart::registerItem()
{
    if (!QDir().mkpath(m_directory))
        return Error{QStringLiteral("cannot create the folder %1").arg(m_directory)};
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return Error{file.errorString()};
    QTextStream out(&file);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Nimbrel\n"
        << "Comment=Clipboard history\n"
        << "Exec=" << execValue(m_executable) << "\n"
        << "Icon=org.nimbrel.Nimbrel\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    if (!file.commit())
        return Error{file.errorString()};
    return {};
}

Result<void> XdgAutostart::unregisterItem()
{
    QFile file(entryPath());
    if (file.exists() && !file.remove())
        return Error{file.errorString()};
    return {};
}

}  // namespace nimbrel::native
