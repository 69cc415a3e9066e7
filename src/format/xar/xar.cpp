#include "format/xar/xar.h"

#include <zlib.h>

#include <pugixml.hpp>

#include <algorithm>

#include "format/bytereader.h"

namespace varko::xar {

namespace {

Error fail(std::uint64_t offset, const std::string& what, ErrorCode code) {
    return Error{offset, "malformed xar archive (" + what + ")", code};
}

/// The table of contents inflated to exactly `size` bytes: a stream that would give more is
/// stopped there and refused. Errors are placed at `at`, where the compressed table starts.
Expected<std::string> inflateToc(const std::vector<std::byte>& in, std::uint64_t size,
                                 std::uint64_t at) {
    const auto wrongSize = [at] {
        return fail(at, "the table of contents does not decompress to its stated size",
                    ErrorCode::malformed);
    };
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return wrongSize();
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    int status = Z_OK;
    char buf[1 << 16];
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        out.append(buf, sizeof buf - z.avail_out);
        if (out.size() > size) status = Z_BUF_ERROR;
        if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0)
            status = Z_DATA_ERROR;  // truncated
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || out.size() != size) return wrongSize();
    return out;
}

std::optional<std::uint64_t> number(const pugi::xml_node& node) {
    const std::string text = node.text().as_string();
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

std::optional<std::vector<unsigned char>> base64(std::string_view text) {
    std::vector<unsigned char> out;
    std::uint32_t acc = 0;
    int bits = 0, pad = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            ++pad;
            continue;
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        else
            return std::nullopt;
        if (pad) return std::nullopt;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(acc >> bits));
        }
    }
    return out;
}

/// The `<offset>` and `<size>` in the heap of a checksum or signature, which `what` names.
Expected<HeapRange> rangeOf(const pugi::xml_node& node, const std::string& what, std::uint64_t at) {
    const auto offset = number(node.child("offset"));
    const auto size = number(node.child("size"));
    if (!offset || !size) return fail(at, what + " has no offset or size", ErrorCode::malformed);
    return HeapRange{*offset, *size};
}

Expected<std::optional<TocSignature>> signatureOf(const pugi::xml_node& node, const char* what) {
    if (!node) return std::optional<TocSignature>{};
    TocSignature s;
    s.style = node.attribute("style").as_string();
    auto range = rangeOf(node, what, 0);
    if (!range) return range.error();
    s.range = *range;
    for (const auto& cert : node.child("KeyInfo").child("X509Data").children("X509Certificate")) {
        if (s.certificates.size() >= maxCertificates)
            return fail(0, std::string(what) + " has too many certificates", ErrorCode::tooLarge);
        auto der = base64(cert.text().as_string());
        if (!der || der->empty())
            return fail(0, std::string(what) + " has a certificate that is not base64",
                        ErrorCode::malformed);
        s.certificates.push_back(std::move(*der));
    }
    return std::optional<TocSignature>(std::move(s));
}

}  // namespace

Expected<Archive> Archive::open(const macho::ByteSource& source) {
    if (source.size() < XAR_HEADER_SIZE)
        return fail(0, "shorter than its 28-byte header", ErrorCode::truncated);
    auto header = source.read(0, XAR_HEADER_SIZE);
    if (!header) return header.error();
    const ByteReader h(*header);
    if (*h.u32be(0) != XAR_HEADER_MAGIC) return fail(0, "no xar! magic", ErrorCode::unsupported);
    Archive a;
    a.headerSize = *h.u16be(4);
    a.tocCompressedSize = *h.u64be(8);
    a.tocSize = *h.u64be(16);
    a.checksumAlgorithm = *h.u32be(24);
    if (a.headerSize < XAR_HEADER_SIZE)
        return fail(4, "header size " + std::to_string(a.headerSize) + " is less than 28",
                    ErrorCode::malformed);
    if (a.tocCompressedSize == 0 || a.tocCompressedSize > maxCompressedToc)
        return fail(
            8, "compressed table of contents of " + std::to_string(a.tocCompressedSize) + " bytes",
            a.tocCompressedSize == 0 ? ErrorCode::malformed : ErrorCode::tooLarge);
    if (a.tocSize == 0 || a.tocSize > maxToc)
        return fail(16, "table of contents of " + std::to_string(a.tocSize) + " bytes",
                    a.tocSize == 0 ? ErrorCode::malformed : ErrorCode::tooLarge);
    if (a.tocSize > std::max(minTocForRatio, a.tocCompressedSize * maxTocRatio))
        return fail(16,
                    "a table of contents of " + std::to_string(a.tocSize) + " bytes from " +
                        std::to_string(a.tocCompressedSize) + " compressed is more than " +
                        std::to_string(maxTocRatio) + " times as large",
                    ErrorCode::tooLarge);
    if (a.tocCompressedSize > source.size() - a.headerSize || a.headerSize > source.size())
        return fail(8, "the table of contents extends past the end of the file",
                    ErrorCode::truncated);
    auto packed = source.read(a.headerSize, a.tocCompressedSize);
    if (!packed) return packed.error();
    a.compressedToc = std::move(*packed);
    auto toc = inflateToc(a.compressedToc, a.tocSize, a.headerSize);
    if (!toc) return toc.error();
    a.toc = std::move(*toc);
    // Every element needs a '<' and every attribute a '=', so this counts at least as many.
    const auto nodes =
        std::count_if(a.toc.begin(), a.toc.end(), [](char c) { return c == '<' || c == '='; });
    if (static_cast<std::uint64_t>(nodes) > maxTocNodes)
        return fail(a.headerSize,
                    "the table of contents has more than " + std::to_string(maxTocNodes) +
                        " elements and attributes",
                    ErrorCode::tooLarge);
    pugi::xml_document doc;
    if (!doc.load_buffer(a.toc.data(), a.toc.size(), pugi::parse_default & ~pugi::parse_doctype))
        return fail(a.headerSize, "the table of contents is not well-formed XML",
                    ErrorCode::malformed);
    const pugi::xml_node tocNode = doc.child("xar").child("toc");
    if (!tocNode) return fail(a.headerSize, "no <xar><toc>", ErrorCode::malformed);
    if (const auto checksum = tocNode.child("checksum")) {
        a.checksumStyle = checksum.attribute("style").as_string();
        auto range = rangeOf(checksum, "the checksum", a.headerSize);
        if (!range) return range.error();
        a.checksum = *range;
    }
    auto rsa = signatureOf(tocNode.child("signature"), "the signature");
    if (!rsa) return rsa.error();
    a.signature = std::move(*rsa);
    auto cms = signatureOf(tocNode.child("x-signature"), "the CMS signature");
    if (!cms) return cms.error();
    a.cmsSignature = std::move(*cms);
    return a;
}

}  // namespace varko::xar
