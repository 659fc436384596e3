#include "platform/linux/LinuxPlatform.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <syslog.h>
#include <unistd.h>

namespace nimbrel::native {

void StdoutConsole::line(const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

SyslogSystemLog::SyslogSystemLog() { openlog("Nimbrel", LOG_PID, LOG_USER); }

SyslogSystemLog::~SyslogSystemLog() { closelog(); }

void SyslogSystemLog::write(const QString& line) { syslog(LOG_NOTICE, "%s", line.toUtf8().constData()); }

QString StandardLocations::dataHome() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString StandardLocations::configDirectory() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString StandardLocations::runtimeDirectory() const
{
    // Qt warns and falls back to a private folder in /tmp when XDG_RUNTIME_DIR is missing or unsafe.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    return QDir::tempPath() + QStringLiteral("/nimbrel-") + QString::number(getuid());
}

}  // namespace nimbrel::native
