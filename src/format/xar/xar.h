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
/// The table of contents of an installer package lists the archive's own members (a
/// Distribution, and per component package its Bom, PackageInfo, Payload and Scripts), not
/// the files installed: a few KiB, some tens with many components. XML of that kind
/// deflates to a third or so; ten times is rare. These bounds are far above both.
inline constexpr std::uint64_t maxCompressedToc = 4u << 20;
inline constexpr std::uint64_t maxToc = 4u << 20;
/// A table of contents may inflate to at most this many times its compressed size, or to
/// minTocForRatio, whichever is more: a few KiB must not stand for megabytes of XML.
inline constexpr std::uint64_t maxTocRatio = 100;
inline constexpr std::uint64_t minTocForRatio = 64u << 10;
/// Elements and attributes together: each costs the XML reader tens of bytes of its own,
/// so their count, not the text's size, decides its memory.
inline constexpr std::uint64_t maxTocNodes = 256u << 10;
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
/// is read whole, inflated to at most maxToc (never to a size the header merely claims), and
/// parsed only when it holds at most maxTocNodes elements and attributes.
struct Archive {
    std::uint16_t headerSize = 0;
    std::uint64_t tocCompressedSize = 0;
    std::uint64_t tocSize = 0;
    std::uint32_t checksumAlgorithm = 0;  ///< header's cksum_alg: 0 none, 1 sha1, 2 md5, 3 named
    std::vector<std::byte> compressedToc;
    std::string toc;                           ///< the XML
    std::optional<std::string> checksumStyle;  ///< `<checksum style=…>`: "sha1", "sha256", …
    HeapRange checksum;
    std::optional<TocSignature> signature;     ///< RSA
    std::optional<TocSignature> cmsSignature;  ///< x-signature CMS

    [[nodiscard]] std::uint64_t heapOffset() const {
        return std::uint64_t{headerSize} + tocCompressedSize;
    }

    [[nodiscard]] static Expected<Archive> open(const macho::ByteSource& source);
};

}  // namespace varko::xar
