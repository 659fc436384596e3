#pragma once

#include <QString>

namespace nimbrel {

// Diagnostic lines on standard output (store, save, login-item and hot-key lines).
class Console {
public:
    Console() = default;
    virtual ~Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Writes one whole line; the newline is added.
    virtual void line(const QString& text) = 0;
};

}  // namespace nimbrel
