#pragma once

#include "platform/Result.h"

namespace nimbrel {

// Whether the autostart entry that starts Nimbrel at login is in place.
enum class LoginItemStatus { notRegistered, enabled };

// Whether Nimbrel starts when the user logs in.
class LoginItemService {
public:
    LoginItemService() = default;
    virtual ~LoginItemService() = default;
    LoginItemService(const LoginItemService&) = delete;
    LoginItemService& operator=(const LoginItemService&) = delete;

    virtual LoginItemStatus status() const = 0;
    // Makes Nimbrel a login item.
    virtual Result<void> registerItem() = 0;
    // Stops Nimbrel from starting at login.
    virtual Result<void> unregisterItem() = 0;
};

}  // namespace nimbrel
