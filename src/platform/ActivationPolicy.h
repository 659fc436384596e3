#pragma once

namespace nimbrel {

// Whether Nimbrel is a tray-only utility or, while its settings window is open, an ordinary
// application with a taskbar entry. Values as the original platform numbers them.
enum class Policy { regular = 0, accessory = 1 };

class ActivationPolicy {
public:
    ActivationPolicy() = default;
    virtual ~ActivationPolicy() = default;
    ActivationPolicy(const ActivationPolicy&) = delete;
    ActivationPolicy& operator=(const ActivationPolicy&) = delete;

    virtual void setPolicy(Policy policy) = 0;
    virtual Policy policy() const = 0;
};

}  // namespace nimbrel
