#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace varko::plist::testing {

/// Assembles bplist00 files object by object, so tests can state exactly the
/// bytes a reader meets, including the broken ones.
class BplistBuilder {
public:
    using Bytes = std::vector<std::uint8_t>;

    unsigned refSize = 1;
    unsigned offsetSize = 1;
    std::uint64_t top = 0;

    /// An object whose bytes are `head` followed by `refs` in refSize bytes each.
    std::uint64_t add(Bytes head, std::vector<std::uint64_t> refs = {}) {
        objects.push_back({std::move(head), std::move(refs)});
        return objects.size() - 1;
    }

    /// A marker with its count, the count in an integer object when it is 15 or more.
    static Bytes marker(std::uint8_t kind, std::uint64_t count) {
        if (count < 15) return {static_cast<std::uint8_t>(kind << 4 | count)};
        Bytes out{static_cast<std::uint8_t>(kind << 4 | 0xF)};
        unsigned log = count <= 0xFF ? 0 : count <= 0xFFFF ? 1 : count <= 0xFFFFFFFF ? 2 : 3;
        out.push_back(static_cast<std::uint8_t>(0x10 | log));
        appendBE(out, count, 1u << log);
        return out;
    }

    static void appendBE(Bytes& out, std::uint64_t v, unsigned width) {
        for (unsigned i = width; i-- > 0;)
            out.push_back(static_cast<std::uint8_t>(i >= 8 ? 0 : v >> (8 * i)));
    }

    std::uint64_t integer(std::uint64_t v, unsigned width = 8) {
        unsigned log = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : width == 8 ? 3 : 4;
        Bytes b{static_cast<std::uint8_t>(0x10 | log)};
        appendBE(b, v, width);
        return add(b);
    }
    std::uint64_t ascii(std::string_view s) {
        Bytes b = marker(0x5, s.size());
        b.insert(b.end(), s.begin(), s.end());
        return add(b);
    }
    std::uint64_t utf16(std::u16string_view s) {
        Bytes b = marker(0x6, s.size());
        for (char16_t c : s) appendBE(b, c, 2);
        return add(b);
    }
    std::uint64_t data(const Bytes& d) {
        Bytes b = marker(0x4, d.size());
        b.insert(b.end(), d.begin(), d.end());
        return add(b);
    }
    std::uint64_t array(std::vector<std::uint64_t> refs) {
        Bytes head = marker(0xA, refs.size());
        return add(std::move(head), std::move(refs));
    }
    std::uint64_t dict(std::vector<std::uint64_t> keys, const std::vector<std::uint64_t>& values) {
        const std::uint64_t n = keys.size();
        keys.insert(keys.end(), values.begin(), values.end());
        Bytes head = marker(0xD, n);
        return add(std::move(head), std::move(keys));
    }

    /// The file, and where each object and the offset table landed.
    Bytes build() {
        Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        offsets.clear();
        for (const auto& o : objects) {
            offsets.push_back(out.size());
            out.insert(out.end(), o.head.begin(), o.head.end());
            for (auto r : o.refs) appendBE(out, r, refSize);
        }
        tableOffset = out.size();
        if (offsetSize < 8 && tableOffset >> (8 * offsetSize) != 0)
            throw std::logic_error("offsetSize too small for this file");
        for (auto off : offsets) appendBE(out, off, offsetSize);
        out.insert(out.end(), 6, 0);
        out.push_back(static_cast<std::uint8_t>(offsetSize));
        out.push_back(static_cast<std::uint8_t>(refSize));
        appendBE(out, objects.size(), 8);
        appendBE(out, top, 8);
        appendBE(out, tableOffset, 8);
        return out;
    }

    std::vector<std::uint64_t> offsets;
    std::uint64_t tableOffset = 0;

private:
    struct Object {
        Bytes head;
        std::vector<std::uint64_t> refs;
    };
    std::vector<Object> objects;
};

inline std::span<const std::byte> asBytes(const std::vector<std::uint8_t>& v) {
    return std::as_bytes(std::span(v));
}

}  // namespace varko::plist::testing
