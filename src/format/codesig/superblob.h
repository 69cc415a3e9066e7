#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/codesig/codedirectory.h"
#include "format/codesig/csblobs.h"
#include "format/expected.h"

namespace varko::codesig {

/// One index entry with its blob's header, as checked by SuperBlob::create.
struct BlobEntry {
    std::uint32_t type = 0;    ///< slot; unknown slots are kept as they are
    std::uint32_t offset = 0;  ///< from the start of the SuperBlob
    std::uint32_t magic = 0;   ///< unknown magics are kept as they are
    std::uint32_t length = 0;  ///< the blob's own length, header included
};

/// The requirement set: each requirement's type and its own blob (still undecoded).
struct RequirementSet {
    struct Entry {
        std::uint32_t type = 0;
        std::span<const std::byte> blob;
    };
    std::vector<Entry> entries;
};

/// An embedded signature. create() checks the index and every blob's bounds once;
/// each blob is decoded on request, with its own error. A typed accessor answers an
/// empty optional when the blob is absent and an error when it is present but broken.
/// Spans point into the SuperBlob's own copy and live as long as any copy of it.
class SuperBlob final {
public:
    [[nodiscard]] static Expected<SuperBlob> create(std::vector<std::byte> bytes);
    [[nodiscard]] static Expected<SuperBlob> create(std::span<const std::byte> bytes);
    /// A signature held in `size` bytes at `storage`. With CodeSlots::LeftUnread the page
    /// hashes of its code directories were not read, and their code directories say so.
    [[nodiscard]] static Expected<SuperBlob> create(std::shared_ptr<const std::byte[]> storage,
                                                    std::size_t size, CodeSlots codeSlots);

    [[nodiscard]] std::uint32_t magic() const { return blobMagic; }
    [[nodiscard]] std::uint32_t length() const { return blobLength; }
    [[nodiscard]] const std::vector<BlobEntry>& entries() const { return index; }
    [[nodiscard]] const BlobEntry* find(std::uint32_t slot) const;
    /// A blob's bytes, header included.
    [[nodiscard]] std::span<const std::byte> blob(const BlobEntry& entry) const;

    /// The code directory in `slot`: CSSLOT_CODEDIRECTORY or one of the alternate slots.
    [[nodiscard]] Expected<std::optional<CodeDirectory>> codeDirectory(
        std::uint32_t slot = CSSLOT_CODEDIRECTORY) const;
    /// Code directories in CSSLOT_ALTERNATE_CODEDIRECTORIES slots, in slot order.
    [[nodiscard]] std::vector<Expected<CodeDirectory>> alternateCodeDirectories() const;
    /// The XML entitlements: the blob's bytes after its 8-byte header.
    [[nodiscard]] Expected<std::optional<std::span<const std::byte>>> entitlements() const;
    [[nodiscard]] Expected<std::optional<std::span<const std::byte>>> derEntitlements() const;
    [[nodiscard]] Expected<std::optional<RequirementSet>> requirements() const;
    /// The CMS signature inside the blob wrapper; ad-hoc signatures leave it empty.
    [[nodiscard]] Expected<std::optional<std::span<const std::byte>>> cmsSignature() const;

private:
    [[nodiscard]] Expected<std::optional<std::span<const std::byte>>> payload(
        std::uint32_t slot, std::uint32_t expectedMagic, const char* what) const;

    std::shared_ptr<const std::byte[]> owner;
    std::span<const std::byte> data;
    CodeSlots codeSlots = CodeSlots::Read;
    std::uint32_t blobMagic = 0;
    std::uint32_t blobLength = 0;
    std::vector<BlobEntry> index;
};

}  // namespace varko::codesig
