#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/hex.h"
#include "signing/opensslptr.h"

namespace varko::codesign {

/// One of the hash types a code directory can name.
struct HashKind {
    std::uint8_t type;
    const char* name;
    int rank;  ///< codesign shows, and verifies first, the strongest code directory
};

/// nullptr for a type codesign doesn't know.
[[nodiscard]] const HashKind* hashKind(std::uint8_t type);

/// A digest fed in parts, for bytes that are streamed rather than held.
class Digester {
public:
    explicit Digester(const HashKind& kind);
    void update(std::span<const std::byte> bytes);
    /// The full digest; empty if the library failed.
    [[nodiscard]] std::vector<unsigned char> finish();

private:
    signing::MdCtxPtr context;
    bool failed = false;
};

/// Hashes many small pieces (code pages) with one context, so that each costs its hashing
/// and not a context's setup. One per thread.
class PageHasher {
public:
    explicit PageHasher(const HashKind& kind);
    /// The full digest of `bytes`, valid until the next call; empty if the library failed.
    [[nodiscard]] std::span<const unsigned char> hash(std::span<const std::byte> bytes);

private:
    signing::MdCtxPtr context;
    bool ready = false;
    unsigned char out[64] = {};
};

/// The full digest of `bytes` in the kind's algorithm (SHA-256 also for the truncated kind).
[[nodiscard]] std::vector<unsigned char> digest(const HashKind& kind,
                                                std::span<const std::byte> bytes);

}  // namespace varko::codesign
