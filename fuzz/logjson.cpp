// The log browser's reader of `log show --style json` output, differential: the
// walk in slices, cut wherever "},{" stands however small the slices, must visit
// exactly what the whole walk visits and sum up the same. Every text it hands out
// must be valid UTF-8 without NUL and within its bound, and every timestamp goes
// through the timestamp reader. The first two bytes choose the slice size and the
// bound on objects; the rest is the output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "logs/logarray.h"
#include "logs/logtimestamp.h"

namespace {

using namespace varko::unifiedlog;

struct Element {
    bool object = false;
    std::optional<std::string> timestamp, subsystem, image, message;
    std::uint64_t cut = 0;
    bool operator==(const Element&) const = default;
};

void require(bool condition) {
    if (!condition) std::abort();
}

// Well-formed UTF-8 by Unicode's table, with no NUL.
bool cleanText(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b == 0) return false;
        std::size_t n = b < 0x80                 ? 1
                        : b >= 0xC2 && b <= 0xDF ? 2
                        : b >= 0xE0 && b <= 0xEF ? 3
                        : b >= 0xF0 && b <= 0xF4 ? 4
                                                 : 0;
        if (n == 0 || s.size() - i < n) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            unsigned low = 0x80, high = 0xBF;
            if (k == 1 && b == 0xE0) low = 0xA0;
            if (k == 1 && b == 0xED) high = 0x9F;
            if (k == 1 && b == 0xF0) low = 0x90;
            if (k == 1 && b == 0xF4) high = 0x8F;
            if (c < low || c > high) return false;
        }
        i += n;
    }
    return true;
}

std::optional<std::string> own(const std::optional<std::string_view>& text, std::size_t bound) {
    if (!text) return std::nullopt;
    require(text->size() <= bound && cleanText(*text));
    return std::string(*text);
}

Element element(const LogFields* f) {
    if (f == nullptr) return {};
    if (f->timestamp) {
        const auto time = parseLongTimestamp(*f->timestamp);
        require(!time || f->timestamp->size() == 31);
    }
    require(f->eventMessageCut == 0 ||
            (f->eventMessage && f->eventMessage->size() + 4 > maxMessageBytes));
    return {true,
            own(f->timestamp, maxFieldBytes),
            own(f->subsystem, maxFieldBytes),
            own(f->processImagePath, maxFieldBytes),
            own(f->eventMessage, maxMessageBytes),
            f->eventMessageCut};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t sliceBytes = 1 + data[0] % 64;
    const std::uint64_t bound = data[1] < 200 ? maxLogEntries : std::uint64_t(data[1] - 200);
    const std::string_view json(reinterpret_cast<const char*>(data + 2), size - 2);
    (void)parseLongTimestamp(json.substr(0, 31));

    std::vector<Element> whole;
    const LogWalkSummary expected = walkLogArray(
        json, [&](const LogFields* f) { whole.push_back(element(f)); }, bound);
    std::uint64_t objects = 0;
    for (const Element& e : whole) objects += e.object;
    require(expected.objects == objects && objects <= bound);

    LogSlicedWalk walk(json, sliceBytes, bound);
    std::vector<std::vector<Element>> runs(walk.runCount());
    // One helper beside this thread, so that slices are walked at once as in the browser.
    const ParallelRunner twoThreads = [](const std::function<void()>& work) {
        std::thread helper(work);
        work();
        helper.join();
    };
    const LogWalkSummary summary =
        walk.walk([&](std::size_t run, const LogFields* f) { runs.at(run).push_back(element(f)); },
                  twoThreads);
    std::vector<Element> sliced;
    for (std::size_t run : walk.order())
        sliced.insert(sliced.end(), runs.at(run).begin(), runs.at(run).end());
    require(summary == expected);
    require(sliced == whole);
    return 0;
}
