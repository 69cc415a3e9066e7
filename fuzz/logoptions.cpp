// varko-log's options, above all the dates of --start and --end and the span of
// --last. The input, split at NULs, is the argument list after the program's name.
// Every argument is also read as a date and a span: a date that reads must come
// back the same from its own timestamp, and a timestamp always has its width. The
// zone has daylight saving time, so that missing and doubled hours are met.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "systools/log/options.h"
#include "systools/log/timeformat.h"

namespace {

using namespace varko::logtool;

void require(bool condition) {
    if (!condition) std::abort();
}

void checkDate(std::string_view text) {
    const auto time = parseLocalDateTime(text);
    if (!time) return;
    require(*time % 1'000'000 == 0);
    const std::string stamp = formatTimestamp(*time);
    require(stamp.size() == timestampLength);
    // A local time that does not exist moves on, as mktime moves it; either way the
    // moment's own text reads back as that moment.
    if (stamp != "1970-01-01 00:00:00.000000+0000")
        require(parseLocalDateTime(stamp.substr(0, 19)) == *time);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (arguments.size() <= maxArguments) {
        const std::size_t nul = rest.find('\0');
        arguments.emplace_back(rest.substr(0, nul));
        if (nul == std::string_view::npos) break;
        rest.remove_prefix(nul + 1);
    }
    for (const std::string& a : arguments) {
        checkDate(a);
        if (const auto span = parseDuration(a)) require(*span % 1'000'000 == 0);
    }
    (void)formatTimestamp(size == 0 ? 0 : std::uint64_t(data[0]) << (8 * (size % 8)));

    const auto parsed = parseOptions(std::span<const std::string>(arguments));
    require(parsed || !parsed.error().message.empty());
    if (parsed) {
        const Options& o = *parsed;
        require(!(o.lastUsec && (o.startUsec || o.endUsec)));
        require(!(o.startUsec && o.endUsec) || *o.startUsec <= *o.endUsec);
        require(o.files.size() <= maxFiles);
    }
    return 0;
}
