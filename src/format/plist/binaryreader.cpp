#include <bit>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "format/bytereader.h"
#include "format/plist/encoding.h"
#include "format/plist/plist.h"

namespace varko::plist {

namespace {

constexpr std::string_view magic = "bplist00";
constexpr std::uint64_t trailerSize = 32;
constexpr std::uint64_t noObject = std::numeric_limits<std::uint64_t>::max();

class BinaryReader {
public:
    explicit BinaryReader(std::span<const std::byte> bytes)
        : in(bytes),
          // Shared objects expand into copies, so the output may outgrow the
          // input; bounding it keeps a file of self-similar references from
          // exhausting memory while leaving real files far below the limit.
          budget(4u * 1024 * 1024 + 16 * in.size()) {}

    Expected<Value> read() {
        if (auto trailer = readTrailer(); !trailer) return trailer.error();
        return object(topObject, 1);
    }

private:
    Error fail(std::uint64_t objectIndex, std::uint64_t at, std::string_view what,
               ErrorCode code) const {
        std::string where = objectIndex == noObject ? "at byte " + std::to_string(at)
                                                    : "object " + std::to_string(objectIndex) +
                                                          " at byte " + std::to_string(at);
        return Error{
            at, "malformed binary property list (" + where + ": " + std::string(what) + ")", code};
    }

    Expected<void> readTrailer() {
        const std::uint64_t size = in.size();
        if (size < magic.size() + 1 + trailerSize)
            return fail(noObject, 0, "file too short for a header and a trailer",
                        ErrorCode::truncated);
        if (in.text(0, magic.size()) != magic)
            return fail(noObject, 0, "missing bplist00 header", ErrorCode::unsupported);
        const std::uint64_t t = size - trailerSize;
        offsetSize = *in.u8(t + 6);
        refSize = *in.u8(t + 7);
        numObjects = *in.u64be(t + 8);
        topObject = *in.u64be(t + 16);
        tableOffset = *in.u64be(t + 24);
        if (offsetSize < 1 || offsetSize > 8)
            return fail(noObject, t + 6, "offset size must be 1 to 8 bytes", ErrorCode::malformed);
        if (refSize < 1 || refSize > 8)
            return fail(noObject, t + 7, "object reference size must be 1 to 8 bytes",
                        ErrorCode::malformed);
        if (numObjects == 0) return fail(noObject, t + 8, "no objects", ErrorCode::malformed);
        if (topObject >= numObjects)
            return fail(noObject, t + 16, "top object is not among the objects",
                        ErrorCode::malformed);
        if (tableOffset < magic.size() + 1 || tableOffset > t)
            return fail(noObject, t + 24, "offset table lies outside the object area",
                        ErrorCode::malformed);
        if (numObjects > (t - tableOffset) / offsetSize)
            return fail(noObject, tableOffset, "offset table runs into the trailer",
                        ErrorCode::truncated);
        active.assign(numObjects, false);
        return {};
    }

    // Bytes [start, start + count * unit) must lie before the offset table.
    [[nodiscard]] bool fits(std::uint64_t start, std::uint64_t count, std::uint64_t unit) const {
        return start <= tableOffset && count <= (tableOffset - start) / unit;
    }

    bool charge(std::uint64_t cost) {
        if (cost > budget) return false;
        budget -= cost;
        return true;
    }

    struct Extent {
        std::uint64_t count = 0;
        std::uint64_t start = 0;
    };

    // The count in a marker's low nibble, or in the integer object that follows
    // when the nibble is 0xF.
    Expected<Extent> extent(std::uint64_t index, std::uint64_t off, std::uint8_t marker) const {
        if ((marker & 0x0F) != 0x0F) return Extent{marker & 0x0Fu, off + 1};
        const auto intMarker = in.u8(off + 1);
        if (!intMarker || off + 1 >= tableOffset)
            return fail(index, off, "length runs past the end of the object area",
                        ErrorCode::truncated);
        if ((*intMarker & 0xF0) != 0x10 || (*intMarker & 0x0F) > 3)
            return fail(index, off + 1, "length is not a 1, 2, 4 or 8-byte integer",
                        ErrorCode::malformed);
        const unsigned width = 1u << (*intMarker & 0x0F);
        if (!fits(off + 2, 1, width))
            return fail(index, off + 1, "length runs past the end of the object area",
                        ErrorCode::truncated);
        return Extent{*in.uintBE(off + 2, width), off + 2 + width};
    }

    Expected<std::uint64_t> reference(std::uint64_t index, std::uint64_t at) const {
        const std::uint64_t ref = *in.uintBE(at, refSize);
        if (ref >= numObjects)
            return fail(index, at,
                        "reference to object " + std::to_string(ref) + ", which does not exist",
                        ErrorCode::malformed);
        if (active[ref])
            return fail(index, at,
                        "reference to object " + std::to_string(ref) +
                            ", which contains this object (a cycle)",
                        ErrorCode::malformed);
        return ref;
    }

    Expected<Value> object(std::uint64_t index, int depth) {
        const std::uint64_t entry = tableOffset + index * offsetSize;
        const std::uint64_t off = *in.uintBE(entry, offsetSize);
        if (off < magic.size() || off >= tableOffset)
            return fail(index, entry,
                        "object offset " + std::to_string(off) + " lies outside the object area",
                        ErrorCode::malformed);
        if (!charge(sizeof(Value)))
            return fail(index, off, "too many objects for the file's size", ErrorCode::tooLarge);
        const std::uint8_t marker = *in.u8(off);
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08) return Value(false);
                if (marker == 0x09) return Value(true);
                return fail(index, off, markerName(marker), ErrorCode::unsupported);
            case 0x1:
                return integer(index, off, marker);
            case 0x2: {
                const unsigned width = 1u << (marker & 0x0F);
                if (width != 4 && width != 8)
                    return fail(index, off, "real is neither 4 nor 8 bytes", ErrorCode::malformed);
                if (!fits(off + 1, 1, width))
                    return fail(index, off, "real runs past the end of the object area",
                                ErrorCode::truncated);
                const std::uint64_t bits = *in.uintBE(off + 1, width);
                if (width == 4)
                    return Value(static_cast<double>(
                        std::bit_cast<float>(static_cast<std::uint32_t>(bits))));
                return Value(std::bit_cast<double>(bits));
            }
            case 0x3:
                if (marker != 0x33)
                    return fail(index, off, "date is not 8 bytes", ErrorCode::malformed);
                if (!fits(off + 1, 1, 8))
                    return fail(index, off, "date runs past the end of the object area",
                                ErrorCode::truncated);
                return Value(Date{std::bit_cast<double>(*in.u64be(off + 1))});
            case 0x4:
            case 0x5:
            case 0x6:
                return blob(index, off, marker);
            case 0x8: {
                const unsigned width = (marker & 0x0F) + 1u;
                if (width > 8)
                    return fail(index, off, "UID is longer than 8 bytes", ErrorCode::malformed);
                if (!fits(off + 1, 1, width))
                    return fail(index, off, "UID runs past the end of the object area",
                                ErrorCode::truncated);
                return Value(Uid{*in.uintBE(off + 1, width)});
            }
            case 0xA:
            case 0xC:
                return array(index, off, marker, depth);
            case 0xD:
                return dictionary(index, off, marker, depth);
            default:
                return fail(index, off, markerName(marker), ErrorCode::unsupported);
        }
    }

    static std::string markerName(std::uint8_t marker) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "unknown object type 0x%02X", marker);
        return buf;
    }

    Expected<Value> integer(std::uint64_t index, std::uint64_t off, std::uint8_t marker) const {
        const unsigned log = marker & 0x0F;
        if (log > 4)
            return fail(index, off, "integer is longer than 16 bytes", ErrorCode::malformed);
        const unsigned width = 1u << log;
        if (!fits(off + 1, 1, width))
            return fail(index, off, "integer runs past the end of the object area",
                        ErrorCode::truncated);
        if (width <= 8) {
            // 1, 2 and 4-byte integers are unsigned, 8-byte ones two's complement.
            return Value(Integer{*in.uintBE(off + 1, width), false});
        }
        // The platform writes 16 bytes only for values above INT64_MAX; a sign
        // extension of a negative 64-bit value means the same number.
        const std::uint64_t high = *in.u64be(off + 1);
        const std::uint64_t low = *in.u64be(off + 9);
        if (high == 0) return Value(Integer{low, low > std::uint64_t(INT64_MAX)});
        if (high == ~std::uint64_t(0) && (low >> 63) != 0) return Value(Integer{low, false});
        return fail(index, off, "16-byte integer does not fit in 64 bits", ErrorCode::unsupported);
    }

    Expected<Value> blob(std::uint64_t index, std::uint64_t off, std::uint8_t marker) {
        const auto ext = extent(index, off, marker);
        if (!ext) return ext.error();
        const unsigned kind = marker >> 4;
        const std::uint64_t unit = kind == 0x6 ? 2 : 1;
        const char* what = kind == 0x4 ? "data" : "string";
        if (!fits(ext->start, ext->count, unit))
            return fail(index, off,
                        std::string(what) + " length runs past the end of the object area",
                        ErrorCode::truncated);
        if (!charge(ext->count * unit))
            return fail(
                index, off,
                std::string(what) + "s shared by reference expand past what the file's size allows",
                ErrorCode::tooLarge);
        const auto bytes = *in.slice(ext->start, ext->count * unit);
        if (kind == 0x4) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
            return Value(Data(p, p + bytes.size()));
        }
        std::string text;
        if (kind == 0x5) {
            text.reserve(bytes.size());
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                const auto c = static_cast<std::uint8_t>(bytes[i]);
                if (c >= 0x80)
                    return fail(index, ext->start + i, "ASCII string holds a byte above 0x7F",
                                ErrorCode::malformed);
                text += static_cast<char>(c);
            }
            return Value(std::move(text));
        }
        // Unpaired surrogates become U+FFFD rather than failing the whole file:
        // the platform keeps such strings, and a reader of an app bundle should too.
        text.reserve(bytes.size() * 3 / 2);
        ByteReader units(bytes);
        for (std::uint64_t i = 0; i < ext->count; ++i) {
            std::uint32_t u = *units.u16be(i * 2);
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < ext->count) {
                const std::uint32_t next = *units.u16be(i * 2 + 2);
                if (next >= 0xDC00 && next <= 0xDFFF) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00);
                    ++i;
                }
            }
            appendUtf8(text, u);
        }
        return Value(std::move(text));
    }

    Expected<Extent> collection(std::uint64_t index, std::uint64_t off, std::uint8_t marker,
                                int depth, std::uint64_t refsPerEntry) {
        if (depth > maxDepth) return fail(index, off, "nesting is too deep", ErrorCode::tooLarge);
        auto ext = extent(index, off, marker);
        if (!ext) return ext;
        if (ext->count > std::numeric_limits<std::uint64_t>::max() / refsPerEntry ||
            !fits(ext->start, ext->count * refsPerEntry, refSize))
            return fail(index, off, "collection runs past the end of the object area",
                        ErrorCode::truncated);
        if (!charge(ext->count * refsPerEntry * sizeof(Value)))
            return fail(index, off, "too many objects for the file's size", ErrorCode::tooLarge);
        return ext;
    }

    Expected<Value> array(std::uint64_t index, std::uint64_t off, std::uint8_t marker, int depth) {
        const auto ext = collection(index, off, marker, depth, 1);
        if (!ext) return ext.error();
        active[index] = true;
        Array items;
        items.reserve(ext->count);
        for (std::uint64_t i = 0; i < ext->count; ++i) {
            auto ref = reference(index, ext->start + i * refSize);
            if (!ref) return ref.error();
            auto item = object(*ref, depth + 1);
            if (!item) return item;
            items.push_back(std::move(*item));
        }
        active[index] = false;
        return Value(std::move(items));
    }

    Expected<Value> dictionary(std::uint64_t index, std::uint64_t off, std::uint8_t marker,
                               int depth) {
        const auto ext = collection(index, off, marker, depth, 2);
        if (!ext) return ext.error();
        active[index] = true;
        Dictionary dict;
        const std::uint64_t values = ext->start + ext->count * refSize;
        for (std::uint64_t i = 0; i < ext->count; ++i) {
            auto keyRef = reference(index, ext->start + i * refSize);
            if (!keyRef) return keyRef.error();
            auto key = object(*keyRef, depth + 1);
            if (!key) return key;
            if (!key->string())
                return fail(
                    index, ext->start + i * refSize,
                    "dictionary key (object " + std::to_string(*keyRef) + ") is not a string",
                    ErrorCode::malformed);
            auto valueRef = reference(index, values + i * refSize);
            if (!valueRef) return valueRef.error();
            auto value = object(*valueRef, depth + 1);
            if (!value) return value;
            dict.set(*key->string(), std::move(*value));
        }
        active[index] = false;
        return Value(std::move(dict));
    }

    ByteReader in;
    std::uint64_t budget;
    unsigned offsetSize = 0;
    unsigned refSize = 0;
    std::uint64_t numObjects = 0;
    std::uint64_t topObject = 0;
    std::uint64_t tableOffset = 0;
    std::vector<bool> active;  // objects being decoded, to refuse cycles
};

}  // namespace

Expected<Value> parseBinary(std::span<const std::byte> bytes) {
    try {
        return BinaryReader(bytes).read();
    } catch (const std::bad_alloc&) {
        return Error{0, "malformed binary property list (not enough memory to decode it)",
                     ErrorCode::tooLarge};
    }
}

}  // namespace varko::plist
