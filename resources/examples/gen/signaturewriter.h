#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/codesig/csblobs.h"
#include "gen/sha256.h"

namespace varko::examplegen {

/// What an embedded signature holds. The defaults give an ad-hoc signature with an
/// empty requirement set and an empty CMS wrapper, as `codesign -s -` writes.
struct SignatureOptions {
    std::string identifier = "com.example.varko";
    std::optional<std::string> teamId;
    std::uint32_t flags = codesig::CS_ADHOC;
    std::optional<std::string> entitlements;  ///< XML plist text; none: no blob
    std::optional<std::vector<std::byte>> derEntitlements;
    std::optional<std::vector<std::byte>> infoPlist;  ///< hashed into the info slot
    std::optional<std::vector<std::byte>> codeResources;  ///< hashed into the resource slot
    bool requirements = true;
    bool cmsWrapper = true;
    /// Makes the CMS blob from the code directory's bytes; none: an empty wrapper (ad hoc).
    std::function<std::vector<std::byte>(std::span<const std::byte> codeDirectory)> cmsSigner;
    std::size_t cmsReserve = 6000;  ///< room the signer's output must fit in
    std::uint8_t platform = 0;
};

/// Where the signed code ends and which part of it is the executable segment.
struct CodeLayout {
    std::uint64_t codeLimit = 0;  ///< the signature's own file offset within the slice
    std::uint64_t execSegBase = 0;
    std::uint64_t execSegLimit = 0;
    std::uint64_t execSegFlags = codesig::CS_EXECSEG_MAIN_BINARY;
};

inline constexpr std::uint32_t signaturePageSize = 4096;

/// Digest of code page `index`; the last page may be short.
using PageHasher = std::function<Sha256Digest(std::uint64_t index)>;

/// Hashes pages of code held in memory; `code` must outlive the hasher.
[[nodiscard]] PageHasher memoryPageHasher(std::span<const std::byte> code);

/// The SuperBlob: a version 0x20400 SHA-256 code directory, then the optional blobs.
[[nodiscard]] std::vector<std::byte> makeSignature(const SignatureOptions& options,
                                                   const CodeLayout& layout,
                                                   const PageHasher& pageHash);

/// The exact size `makeSignature` will produce, so that load commands can name it
/// before the pages they describe are hashed.
[[nodiscard]] std::uint64_t signatureSize(const SignatureOptions& options, std::uint64_t codeLimit);

}  // namespace varko::examplegen
