#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace varko::examplegen {

/// A growing byte buffer with endian-explicit appends and patches, for writing fixtures.
class ByteBuffer final {
public:
    [[nodiscard]] std::size_t size() const { return data.size(); }
    [[nodiscard]] const std::vector<std::byte>& bytes() const& { return data; }
    [[nodiscard]] std::vector<std::byte> take() && { return std::move(data); }

    void be32(std::uint32_t v) { appendBE(v, 4); }
    void be64(std::uint64_t v) { appendBE(v, 8); }
    void le32(std::uint32_t v) { appendLE(v, 4); }
    void le64(std::uint64_t v) { appendLE(v, 8); }
    void u8(std::uint8_t v) { data.push_back(std::byte{v}); }
    void append(std::span<const std::byte> b) { data.insert(data.end(), b.begin(), b.end()); }
    void append(std::string_view s) { append(std::as_bytes(std::span(s.data(), s.size()))); }
    /// A name field of `width` bytes, NUL-padded (segment and section names).
    void fixedName(std::string_view s, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i)
            u8(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
    }
    void zeros(std::size_t n) { data.resize(data.size() + n); }
    void padTo(std::size_t alignment) {
        while (data.size() % alignment != 0) data.push_back(std::byte{0});
    }

    void patchBE32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) data[at + i] = std::byte(v >> (24 - 8 * i));
    }

private:
    void appendBE(std::uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) data.push_back(std::byte(v >> (8 * i)));
    }
    void appendLE(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) data.push_back(std::byte(v >> (8 * i)));
    }

    std::vector<std::byte> data;
};

}  // namespace varko::examplegen
