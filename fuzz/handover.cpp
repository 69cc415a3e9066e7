// The message a second start hands to the running Varko, from any process of the user's.
// Two paths must agree: whatever arrives decodes to at most the bound of absolute paths,
// every prefix of a whole message is incomplete, never another message, and what a
// message decodes to encodes back to the same bytes.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/handover.h"

using namespace varko::handover;

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const Decoded decoded = decode(bytes);
    if (decoded.status != Decoded::Status::Complete) {
        if (!decoded.items.isEmpty()) fail("items from a message that is not whole");
        return 0;
    }
    if (decoded.items.size() > qsizetype(maxItems)) fail("more items than the bound");
    for (const QString& item : decoded.items)
        if (!item.startsWith(u'/') || item.contains(QChar(0))) fail("an item that is no path");
    if (encode(decoded.items) != bytes) fail("a message that does not encode back");
    // Every shorter prefix has only arrived in part.
    for (qsizetype cut = 0; cut < bytes.size(); cut += 1 + cut / 8)
        if (decode(bytes.first(cut)).status == Decoded::Status::Complete)
            fail("part of a message taken for a whole one");
    return 0;
}
