#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace nimbrel {

// A failure that can be described as text; the description is what diagnostic lines print.
struct Error {
    QString description;
    // Why, where the cause tells the caller what to do (SQLite's primary result code); 0 otherwise.
    int code = 0;
};

// The value of an operation that may fail, or its error. Failures are absorbed by the caller,
// so this is a plain value type rather than an exception.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Error error) : m_state(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<T>(m_state); }
    T& value() & { return std::get<T>(m_state); }
    // By value, so `for (x : f().value())` does not iterate a destroyed temporary.
    T value() && { return std::get<T>(std::move(m_state)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    const Error& error() const { return std::get<Error>(m_state); }

private:
    std::variant<T, Error> m_state;
};

// Success, or the error of an operation that yields nothing.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

}  // namespace nimbrel
