#pragma once

#include <QString>

namespace nimbrel {

// Desktop notifications: a short message the desktop shows on its own, outside Nimbrel's windows.
class Notifier {
public:
    Notifier() = default;
    virtual ~Notifier() = default;
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Never waits for the desktop; a desktop without a notification service shows nothing.
    virtual void notify(const QString& title, const QString& body) = 0;
};

}  // namespace nimbrel
