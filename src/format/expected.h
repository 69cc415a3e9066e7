#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace varko {

/// Why a read or a check failed, for callers that act on the kind rather than the words.
enum class ErrorCode {
    malformed,         ///< the bytes are there but contradict the format
    truncated,         ///< the input ends before a structure it announces
    unsupported,       ///< a kind or version that is valid but not read (an unknown magic, another
                       ///< format)
    tooLarge,          ///< past a cap that no genuine file reaches: size, count, depth or expansion
    unreadable,        ///< the operating system would not open or read it
    refused,           ///< not followed on purpose (a link out, a FIFO), or turned away by a tool
    missing,           ///< a file, slice or blob that should be there is absent
    invalidSignature,  ///< a hash, seal or signature does not match what it covers
    untrusted,         ///< the signature matches, but its chain leads to no trusted root
    toolFailed,        ///< a system tool gave no usable answer
    unwritable,        ///< the operating system would not write it
};

/// What went wrong: its kind, where in the bytes, words a user can act on, and the file it
/// concerns when that is not the item itself.
struct Error {
    Error() = default;
    Error(std::uint64_t offset, std::string message, ErrorCode code, std::string path = {})
        : offset(offset), message(std::move(message)), code(code), path(std::move(path)) {}

    std::uint64_t offset = 0;
    std::string message;
    ErrorCode code = ErrorCode::malformed;
    std::string path;
};

/// The kind's name as scripts read it in JSON: the enumerator's own spelling.
[[nodiscard]] std::string_view errorCodeName(ErrorCode code);

/// A value or the error that prevented it. Readers and checks return this and never throw.
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

    /// A value equal to `other`; an error equals no value.
    friend bool operator==(const Expected& e, const T& other) {
        return e.ok() && e.value() == other;
    }

private:
    std::variant<T, Error> state;
};

/// Success that carries nothing, or the error: what a check returns.
template <>
class [[nodiscard]] Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : problem(std::move(error)) {}

    [[nodiscard]] bool ok() const { return !problem; }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] const Error& error() const { return *problem; }

private:
    std::optional<Error> problem;
};

}  // namespace varko
