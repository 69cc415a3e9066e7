#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace varko {

/// What went wrong while reading untrusted bytes: where, and in words a user can act on.
struct Error {
    std::uint64_t offset = 0;
    std::string message;
};

/// A value or the error that prevented it. Readers return this and never throw.
template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state(std::move(value)) {}
    Expected(Error error) : state(std::move(error)) {}

    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(state); }
    explicit operator bool() const { return ok(); }

    [[nodiscard]] T& value() & { return std::get<T>(state); }
    [[nodiscard]] const T& value() const& { return std::get<T>(state); }
    [[nodiscard]] T&& value() && { return std::get<T>(std::move(state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    [[nodiscard]] const Error& error() const { return std::get<Error>(state); }

private:
    std::variant<T, Error> state;
};

}  // namespace varko
