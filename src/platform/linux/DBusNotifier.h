#pragma once

#include "platform/Notifier.h"

namespace nimbrel::native {

// Notifications through the freedesktop notification service on the session bus.
class DBusNotifier final : public Notifier {
public:
    void notify(const QString& title, const QString& body) override;
};

}  // namespace nimbrel::native
