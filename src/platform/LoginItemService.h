#pragma once

#include "platform/Result.h"

namespace nimbrel {

// The states a login item can be in. Linux never reports the last two, but the logic keeps them.
enum class LoginItemStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

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
