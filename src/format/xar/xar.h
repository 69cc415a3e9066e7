#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/expected.h"
#include "format/macho/bytesource.h"

namespace varko::xar {

/// "xar!" and the fixed part of the header (xar's own xar.h layout, big-endian).
inline constexpr std::uint32_t XAR_HEADER_MAGIC = 0x78617221;
inline constexpr std::uint16_t XAR_HEADER_SIZE = 28;
/// Tables of contents of real packages are a few hundred kilobytes at most.
inline constexpr std::uint64_t maxCompressedToc = 16u << 20;
inline constexpr std::uint64_t maxToc = 64u << 20;
inline constexpr std::size_t maxCertificates = 16;

/// A range of the heap, which starts right after the compressed table of contents.
struct HeapRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

/// `<signature style="RSA">` or `<x-signature style="CMS">`: where the signature lies in
/// the heap and the DER certificates of its KeyInfo, leaf first as productsign writes them.
struct TocSignature {
    std::string style;
    HeapRange range;
    std::vector<std::vector<unsigned char>> certificates;
};

/// A xar archive's header and table of contents, read once and bounded: the compressed TOC
/// is read whole, inflated to at most maxToc (never to a size the header merely claims).
struct Archive {
    std::uint16_t headerSize = 0;
    std::uint64_t tocCompressedSize = 0;
    std::uint64_t tocSize = 0;
    std::uint32_t checksumAlgorithm = 0;  ///< header's cksum_alg: 0 none, 1 sha1, 2 md5, 3 named
    std::vector<std::byte> compressedToc;
    std::string toc;                      ///< the XML
    std::optional<std::string> checksumStyle;  ///< `<checksum style=…>`: "sha1", "sha256", …
    HeapRange checksum;
    std::optional<TocSignature> signature;     ///< RSA
    std::optional<TocSignature> cmsSignature;  ///< x-signature CMS

    [[nodiscard]] std::uint64_t heapOffset() const { return std::uint64_t{headerSize} + tocCompressedSize; }

    [[nodiscard]] static Expected<Archive> open(const macho::ByteSource& source);
};

}  // namespace varko::xar
