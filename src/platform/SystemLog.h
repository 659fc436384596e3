#pragma once

#include <QString>

namespace nimbrel {

// The system log (the journal on Linux), for the update and launch-report lines.
class SystemLog {
public:
    SystemLog() = default;
    virtual ~SystemLog() = default;
    SystemLog(const SystemLog&) = delete;
    SystemLog& operator=(const SystemLog&) = delete;

    virtual void write(const QString& line) = 0;
};

}  // namespace nimbrel
