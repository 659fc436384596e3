#pragma once

#include <QDateTime>

namespace nimbrel {

// The one seam through which logic reads the time, so tests never sleep.
class Clock {
public:
    Clock() = default;
    virtual ~Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    virtual QDateTime now() const = 0;
};

}  // namespace nimbrel
