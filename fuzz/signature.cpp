// A signature read without its page hashes against the same bytes read whole: what the
// display takes from them must agree, or the streamed read must have fallen back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <variant>

#include "format/macho/bytesource.h"
#include "signature/codehash.h"
#include "signature/codeobject.h"
#include "signature/codeverifier.h"

using namespace varko;
using namespace varko::codesign;

namespace {

std::string shown(std::span<const std::byte> bytes, SignatureRead how) {
    auto read =
        readSignature(macho::MemorySource(bytes), 0, static_cast<std::uint32_t>(bytes.size()), how);
    if (!read) return "error " + read.error().message;
    CodeObject code;
    code.signature = std::move(read->superBlob);
    code.directoryDigests = std::move(read->digests);
    auto directories = codeDirectories(*code.signature);
    if (!directories) return "directories " + directories.error().message;
    std::string out;
    for (std::size_t i = 0; i < directories->all.size(); ++i) {
        const auto& cd = directories->all[i];
        out += std::to_string(directories->slotNumbers[i]) + ' ' + cd.identifier + ' ' +
               cd.teamId.value_or("-") + ' ' + std::to_string(cd.flags) + ' ' +
               hex(directoryDigest(code, directories->slotNumbers[i], cd));
        for (std::uint32_t slot = 1; slot <= cd.nSpecialSlots && slot < 16; ++slot)
            if (auto h = cd.specialSlotHash(slot))
                out += ' ' +
                       hex(std::span(reinterpret_cast<const unsigned char*>(h->data()), h->size()));
        out += '\n';
    }
    if (auto e = code.signature->entitlements(); e && *e)
        out.append(reinterpret_cast<const char*>((*e)->data()), (*e)->size());
    else if (!e)
        out += e.error().message;
    if (auto r = code.signature->requirements(); r && *r)
        out += std::to_string((*r)->entries.size());
    else if (!r)
        out += r.error().message;
    if (auto c = code.signature->cmsSignature(); c && *c)
        out.append(reinterpret_cast<const char*>((*c)->data()), (*c)->size());
    else if (!c)
        out += c.error().message;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    if (shown(bytes, SignatureRead::WithoutPageHashes) != shown(bytes, SignatureRead::Whole))
        std::abort();
    return 0;
}
