// The privacy database reader over hostile files: it must end within its bounds with rows or
// a reason, and leave the file as it was, with nothing created beside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

#include "privacy/tccdatabase.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varko::privacy;
    const auto path = varko::fuzzing::scratchFile("TCC.db", std::span(data, size));
    const auto read = readTccDatabase(path);
    if (read) {
        if (read->rows.size() > maxTccRows) std::abort();
        for (const TccRow& row : read->rows)
            if ((row.csreq && row.csreq->size() > maxCsreqBytes) ||
                row.service.size() > maxTccTextBytes || row.client.size() > maxTccTextBytes)
                std::abort();
    } else if (read.error().message.empty()) {
        std::abort();
    }
    std::ifstream in(path, std::ios::binary);
    const std::string after{std::istreambuf_iterator<char>(in), {}};
    if (after.size() != size ||
        (size > 0 && after.compare(0, size, reinterpret_cast<const char*>(data), size) != 0))
        std::abort();
    for (const char* beside : {"-journal", "-wal", "-shm"})
        if (std::filesystem::exists(path.string() + beside)) std::abort();
    return 0;
}
