#pragma once

#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/FileLocations.h"
#include "platform/SystemLog.h"

namespace nimbrel::native {

// Lines on standard output, flushed at once so they interleave correctly with other processes.
class StdoutConsole final : public Console {
public:
    void line(const QString& text) override;
};

// syslog(3) with the ident "Nimbrel"; the lines land in the journal.
class SyslogSystemLog final : public SystemLog {
public:
    SyslogSystemLog();
    ~SyslogSystemLog() override;
    void write(const QString& line) override;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

// The XDG base directories (~/.local/share, ~/.config, $XDG_RUNTIME_DIR).
class StandardLocations final : public FileLocations {
public:
    QString dataHome() const override;
    QString configDirectory() const override;
    QString runtimeDirectory() const override;
};

}  // namespace nimbrel::native
