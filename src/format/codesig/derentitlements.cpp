#include "format/codesig/derentitlements.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "format/bytereader.h"
#include "format/hex.h"
#include "format/visibletext.h"

namespace varko::codesig {

namespace {

// Identifier octets: class and constructed bits included, as the bytes hold them.
constexpr std::uint8_t tagBoolean = 0x01;
constexpr std::uint8_t tagInteger = 0x02;
constexpr std::uint8_t tagUtf8String = 0x0c;
constexpr std::uint8_t tagSequence = 0x30;
constexpr std::uint8_t tagEntitlements = 0x70;  // [APPLICATION 16], constructed
constexpr std::uint8_t tagDictionary = 0xb0;    // [CONTEXT 16], constructed

/// One element's header, checked to fit inside the element that holds it.
struct Element {
    std::uint8_t tag = 0;
    std::uint64_t start = 0;     ///< of the identifier octet
    std::uint64_t contents = 0;  ///< of the first content byte
    std::uint64_t length = 0;
    [[nodiscard]] std::uint64_t end() const { return contents + length; }
};

class DerReader final {
public:
    explicit DerReader(std::span<const std::byte> der) : r(der) {}

    Expected<plist::Dictionary> read() {
        auto outer = element(0, r.size());
        if (!outer) return outer.error();
        if (outer->tag != tagEntitlements)
            return fail(0,
                        "the outer element has tag " + hex(outer->tag) + ", not [APPLICATION 16]",
                        ErrorCode::unsupported);
        if (outer->end() != r.size())
            return fail(outer->end(),
                        std::to_string(r.size() - outer->end()) + " bytes follow the entitlements",
                        ErrorCode::malformed);
        auto version = element(outer->contents, outer->end());
        if (!version) return version.error();
        if (version->tag != tagInteger)
            return fail(version->start, "the version is not an INTEGER", ErrorCode::malformed);
        const auto number = integer(*version);
        if (!number) return number.error();
        if (number->bits != 1)
            return fail(version->start,
                        "version " + std::to_string(number->asSigned()) + " is not version 1",
                        ErrorCode::unsupported);
        auto dict = element(version->end(), outer->end());
        if (!dict) return dict.error();
        if (dict->tag != tagDictionary)
            return fail(dict->start,
                        "tag " + hex(dict->tag) + " where the dictionary [CONTEXT 16] belongs",
                        ErrorCode::malformed);
        if (dict->end() != outer->end())
            return fail(dict->end(), "more follows the dictionary", ErrorCode::malformed);
        return dictionary(*dict, 1);
    }

private:
    static Error fail(std::uint64_t at, const std::string& what, ErrorCode code) {
        return Error{
            at, "malformed DER entitlements (at byte " + std::to_string(at) + ": " + what + ")",
            code};
    }

    /// The element at `at`, which must end by `end`, the end of what holds it.
    Expected<Element> element(std::uint64_t at, std::uint64_t end) const {
        // Only the outer element can run past the input; an inner one runs past its container.
        const ErrorCode shortCode = at == 0 ? ErrorCode::truncated : ErrorCode::malformed;
        if (at >= end || end - at < 2)
            return fail(
                at, "an element needs at least 2 bytes, " + std::to_string(end - at) + " are left",
                shortCode);
        Element e;
        e.start = at;
        e.tag = *r.u8(at);
        if ((e.tag & 0x1f) == 0x1f)
            return fail(at, "tag numbers above 30 are not used by entitlements",
                        ErrorCode::unsupported);
        const std::uint8_t first = *r.u8(at + 1);
        if (first < 0x80) {
            e.length = first;
            e.contents = at + 2;
        } else if (first == 0x80) {
            return fail(at + 1, "indefinite length, which DER does not allow",
                        ErrorCode::malformed);
        } else {
            const unsigned n = first & 0x7f;
            if (n > 8)
                return fail(at + 1, "a length of " + std::to_string(n) + " bytes",
                            ErrorCode::tooLarge);
            if (n > end - at - 2)
                return fail(at + 1, "the length's " + std::to_string(n) + " bytes are cut off",
                            shortCode);
            e.length = *r.uintBE(at + 2, n);
            e.contents = at + 2 + n;
            if (*r.u8(at + 2) == 0 || e.length < 0x80)
                return fail(at + 1, "a length not in its shortest form", ErrorCode::malformed);
        }
        if (e.length > end - e.contents)
            return fail(at,
                        "an element of " + std::to_string(e.length) + " bytes, " +
                            std::to_string(end - e.contents) + " are left",
                        shortCode);
        return e;
    }

    Expected<plist::Integer> integer(const Element& e) const {
        if (e.length == 0) return fail(e.start, "an empty INTEGER", ErrorCode::malformed);
        if (e.length > 8)
            return fail(e.start, "an INTEGER wider than 64 bits", ErrorCode::unsupported);
        const std::uint8_t lead = *r.u8(e.contents);
        if (e.length > 1) {
            const std::uint8_t next = *r.u8(e.contents + 1);
            if ((lead == 0x00 && next < 0x80) || (lead == 0xff && next >= 0x80))
                return fail(e.start, "an INTEGER not in its shortest form", ErrorCode::malformed);
        }
        std::uint64_t bits = *r.uintBE(e.contents, static_cast<unsigned>(e.length));
        // Two's complement: the sign of the leading byte fills the bytes not written.
        if (lead >= 0x80 && e.length < 8) bits |= ~std::uint64_t{0} << (8 * e.length);
        return plist::Integer{bits, false};
    }

    Expected<std::string> text(const Element& e) const {
        const std::string_view s = *r.text(e.contents, e.length);
        if (!isValidUtf8(s))
            return fail(e.start, "a UTF8String that is not UTF-8", ErrorCode::malformed);
        return std::string(s);
    }

    Expected<void> counted(const Element& e) {
        if (++values > maxDerEntitlementValues)
            return fail(e.start, "more than " + std::to_string(maxDerEntitlementValues) + " values",
                        ErrorCode::tooLarge);
        return {};
    }

    Expected<plist::Value> value(const Element& e, int depth) {
        if (auto ok = counted(e); !ok) return ok.error();
        if ((e.tag == tagSequence || e.tag == tagDictionary) && depth >= maxDerEntitlementDepth)
            return fail(e.start,
                        "nested deeper than " + std::to_string(maxDerEntitlementDepth) + " levels",
                        ErrorCode::tooLarge);
        switch (e.tag) {
            case tagBoolean: {
                const auto b = e.length == 1 ? *r.u8(e.contents) : 1;
                if (b != 0x00 && b != 0xff)
                    return fail(e.start, "a BOOLEAN other than 0x00 or 0xff", ErrorCode::malformed);
                return plist::Value(b == 0xff);
            }
            case tagInteger: {
                auto i = integer(e);
                if (!i) return i.error();
                return plist::Value(*i);
            }
            case tagUtf8String: {
                auto s = text(e);
                if (!s) return s.error();
                return plist::Value(std::move(*s));
            }
            case tagSequence: {
                plist::Array items;
                for (std::uint64_t at = e.contents; at < e.end();) {
                    auto item = element(at, e.end());
                    if (!item) return item.error();
                    auto v = value(*item, depth + 1);
                    if (!v) return v.error();
                    items.push_back(std::move(*v));
                    at = item->end();
                }
                return plist::Value(std::move(items));
            }
            case tagDictionary: {
                auto d = dictionary(e, depth + 1);
                if (!d) return d.error();
                return plist::Value(std::move(*d));
            }
            default:
                return fail(e.start, "tag " + hex(e.tag) + " is no value entitlements hold",
                            ErrorCode::unsupported);
        }
    }

    Expected<plist::Dictionary> dictionary(const Element& e, int depth) {
        plist::Dictionary dict;
        for (std::uint64_t at = e.contents; at < e.end();) {
            auto entry = element(at, e.end());
            if (!entry) return entry.error();
            if (entry->tag != tagSequence)
                return fail(at, "a dictionary entry with tag " + hex(entry->tag) + ", not SEQUENCE",
                            ErrorCode::malformed);
            auto key = element(entry->contents, entry->end());
            if (!key) return key.error();
            if (key->tag != tagUtf8String)
                return fail(key->start, "a key with tag " + hex(key->tag) + ", not UTF8String",
                            ErrorCode::malformed);
            if (auto ok = counted(*key); !ok) return ok.error();
            auto name = text(*key);
            if (!name) return name.error();
            auto item = element(key->end(), entry->end());
            if (!item) return item.error();
            if (item->end() != entry->end())
                return fail(item->end(), "a dictionary entry holds more than a key and a value",
                            ErrorCode::malformed);
            if (dict.find(*name))
                return fail(key->start, "the key \"" + *name + "\" occurs twice",
                            ErrorCode::malformed);
            auto v = value(*item, depth);
            if (!v) return v.error();
            dict.set(std::move(*name), std::move(*v));
            at = entry->end();
        }
        return dict;
    }

    ByteReader r;
    std::size_t values = 0;
};

}  // namespace

Expected<plist::Dictionary> parseDerEntitlements(std::span<const std::byte> der) {
    return DerReader(der).read();
}

}  // namespace varko::codesig
