#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace varko {

/// Bounds-checked reads from untrusted bytes. Every access checks
/// `off <= size && len <= size - off`, which cannot overflow; a read that
/// does not fit answers nothing instead of touching memory outside the span.
class ByteReader final {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::byte> bytes) : bytes(bytes) {}

    [[nodiscard]] std::uint64_t size() const { return bytes.size(); }
    [[nodiscard]] std::span<const std::byte> all() const { return bytes; }

    [[nodiscard]] bool has(std::uint64_t off, std::uint64_t len) const {
        return off <= bytes.size() && len <= bytes.size() - off;
    }

    [[nodiscard]] std::optional<std::span<const std::byte>> slice(std::uint64_t off,
                                                                  std::uint64_t len) const {
        if (!has(off, len)) return std::nullopt;
        return bytes.subspan(static_cast<std::size_t>(off), static_cast<std::size_t>(len));
    }

    [[nodiscard]] std::optional<std::string_view> text(std::uint64_t off, std::uint64_t len) const {
        if (!has(off, len)) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(bytes.data()) + off,
                                static_cast<std::size_t>(len));
    }

    [[nodiscard]] std::optional<std::uint8_t> u8(std::uint64_t off) const {
        if (!has(off, 1)) return std::nullopt;
        return static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(off)]);
    }

    /// Unsigned big-endian integer of `len` bytes (1 to 8).
    [[nodiscard]] std::optional<std::uint64_t> uintBE(std::uint64_t off, unsigned len) const {
        if (len == 0 || len > 8 || !has(off, len)) return std::nullopt;
        std::uint64_t v = 0;
        for (unsigned i = 0; i < len; ++i)
            v = (v << 8) | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(off) + i]);
        return v;
    }

    /// Unsigned little-endian integer of `len` bytes (1 to 8).
    [[nodiscard]] std::optional<std::uint64_t> uintLE(std::uint64_t off, unsigned len) const {
        if (len == 0 || len > 8 || !has(off, len)) return std::nullopt;
        std::uint64_t v = 0;
        for (unsigned i = len; i-- > 0;)
            v = (v << 8) | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(off) + i]);
        return v;
    }

    [[nodiscard]] std::optional<std::uint16_t> u16be(std::uint64_t off) const {
        return narrow<std::uint16_t>(uintBE(off, 2));
    }
    [[nodiscard]] std::optional<std::uint32_t> u32be(std::uint64_t off) const {
        return narrow<std::uint32_t>(uintBE(off, 4));
    }
    [[nodiscard]] std::optional<std::uint64_t> u64be(std::uint64_t off) const {
        return uintBE(off, 8);
    }
    [[nodiscard]] std::optional<std::uint16_t> u16le(std::uint64_t off) const {
        return narrow<std::uint16_t>(uintLE(off, 2));
    }
    [[nodiscard]] std::optional<std::uint32_t> u32le(std::uint64_t off) const {
        return narrow<std::uint32_t>(uintLE(off, 4));
    }
    [[nodiscard]] std::optional<std::uint64_t> u64le(std::uint64_t off) const {
        return uintLE(off, 8);
    }

private:
    template <class T>
    static std::optional<T> narrow(std::optional<std::uint64_t> v) {
        if (!v) return std::nullopt;
        return static_cast<T>(*v);
    }

    std::span<const std::byte> bytes;
};

}  // namespace varko
