// varko-log's predicate parser. The text before the first NUL is the predicate; the
// rest, split at NULs, fills a record's texts. A refusal must point inside the text;
// an accepted predicate must hold its meaning when grouped, negated and joined.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "systools/log/predicate.h"

namespace {

using namespace varko::logtool;

void require(bool condition) {
    if (!condition) std::abort();
}

bool matchesText(const std::string& text, const LogRecord& record, bool& parsed) {
    const auto p = Predicate::parse(text);
    parsed = p.ok();
    return parsed && p->matches(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string text(input.substr(0, nul));

    const auto parsed = Predicate::parse(text);
    if (!parsed) {
        require(!parsed.error().message.empty() &&
                parsed.error().offset <= std::max(text.size(), Predicate::maxLength));
        return 0;
    }

    std::vector<std::string_view> parts;
    for (std::string_view rest = nul == std::string_view::npos ? std::string_view()
                                                               : input.substr(nul + 1);
         ;) {
        const std::size_t next = rest.find('\0');
        parts.push_back(rest.substr(0, next));
        if (next == std::string_view::npos) break;
        rest.remove_prefix(next + 1);
    }
    const auto part = [&](std::size_t i) {
        return std::string(i < parts.size() ? parts[i] : std::string_view());
    };
    LogRecord record;
    record.subsystem = part(0);
    record.category = part(1);
    record.processImagePath = part(2);
    record.eventMessage = part(3);
    record.processID = std::int64_t(size % 3) - 1;
    record.messageType = MessageType(size % 5);
    const bool matches = parsed->matches(record);

    bool again = false;
    require(matchesText("(" + text + ")", record, again) == matches || !again);
    const bool negated = matchesText("NOT (" + text + ")", record, again);
    require(!again || negated == !matches);
    const bool both = matchesText("(" + text + ") AND (" + text + ")", record, again);
    require(!again || both == matches);
    return 0;
}
