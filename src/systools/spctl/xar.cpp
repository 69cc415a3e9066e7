#include "systools/spctl/xar.h"

#include <zlib.h>

#include <pugixml.hpp>

#include "format/bytereader.h"
#include "format/macho/bytesource.h"

namespace varko::spctl {

namespace {

constexpr std::uint64_t headerBytes = 28;
// Tables of contents of real packages are a few hundred kilobytes at most.
constexpr std::uint64_t maxCompressedToc = 16u << 20;
constexpr std::uint64_t maxToc = 64u << 20;

}  // namespace

std::variant<PackageSignature, std::string> packageSignature(const std::filesystem::path& path) {
    auto source = macho::FileSource::open(path.string());
    if (!source) return source.error().message;
    if (source->size() < headerBytes) return std::string("not a xar archive (too short)");
    auto header = source->read(0, headerBytes);
    if (!header) return header.error().message;
    const ByteReader h(*header);
    if (*h.u32be(0) != 0x78617221) return std::string("not a xar archive");
    const std::uint16_t headerSize = static_cast<std::uint16_t>(*h.uintBE(4, 2));
    const std::uint64_t compressed = *h.uintBE(8, 8), expanded = *h.uintBE(16, 8);
    if (headerSize < headerBytes || compressed == 0 || compressed > maxCompressedToc || expanded > maxToc ||
        headerSize + compressed > source->size())
        return std::string("the xar header's sizes do not fit the file");
    auto packed = source->read(headerSize, compressed);
    if (!packed) return packed.error().message;
    std::string toc(static_cast<std::size_t>(expanded), '\0');
    uLongf size = static_cast<uLongf>(expanded);
    if (uncompress(reinterpret_cast<Bytef*>(toc.data()), &size, reinterpret_cast<const Bytef*>(packed->data()),
                   static_cast<uLong>(packed->size())) != Z_OK ||
        size != expanded)
        return std::string("the xar table of contents does not decompress to its stated size");
    pugi::xml_document doc;
    if (!doc.load_buffer(toc.data(), toc.size(), pugi::parse_default & ~pugi::parse_doctype))
        return std::string("the xar table of contents is not well-formed XML");
    const pugi::xml_node toc_ = doc.child("xar").child("toc");
    return toc_.child("signature") || toc_.child("x-signature") ? PackageSignature::Present : PackageSignature::None;
}

}  // namespace varko::spctl
