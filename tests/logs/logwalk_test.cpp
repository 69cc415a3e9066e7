#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <QSemaphore>
#include <QThreadPool>

#include "format/casetable.h"
#include "logs/logarray.h"
#include "logs/loglist.h"
#include "tools/threadpools.h"

namespace varko::unifiedlog {
namespace {

// One visited element with its text copied out of the walk.
struct Element {
    bool object = false;
    std::optional<std::string> timestamp, subsystem, image, message;
    std::uint64_t cut = 0;
    bool operator==(const Element&) const = default;
};

std::optional<std::string> own(const std::optional<std::string_view>& text) {
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

Element element(const LogFields* f) {
    if (f == nullptr) return {};
    return {true,
            own(f->timestamp),
            own(f->subsystem),
            own(f->processImagePath),
            own(f->eventMessage),
            f->eventMessageCut};
}

struct Walked {
    std::vector<Element> elements;
    LogWalkSummary summary;
    bool operator==(const Walked&) const = default;

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const Element& e : elements)
            if (e.object) out.push_back(e.message.value_or("-"));
        return out;
    }
};

Walked whole(std::string_view json, std::uint64_t maxObjects = maxLogEntries) {
    Walked w;
    w.summary = walkLogArray(
        json, [&](const LogFields* f) { w.elements.push_back(element(f)); }, maxObjects);
    return w;
}

Walked sliced(std::string_view json, std::size_t sliceBytes, unsigned threads,
              std::uint64_t maxObjects = maxLogEntries) {
    LogSlicedWalk walk(json, sliceBytes, maxObjects);
    std::vector<std::vector<Element>> runs(walk.runCount());
    Walked w;
    w.summary =
        walk.walk([&](std::size_t run, const LogFields* f) { runs.at(run).push_back(element(f)); },
                  threads > 1 ? poolRunner(threads - 1) : ParallelRunner());
    for (std::size_t run : walk.order())
        w.elements.insert(w.elements.end(), runs[run].begin(), runs[run].end());
    return w;
}

std::string entry(const std::string& message) {
    return R"({"eventMessage":")" + message + R"("})";
}

TEST(LogWalk, AFaultCostsOnlyItsElement) {
    for (const auto& [json, messages, skipped, flags] :
         varko::testing::caseTable<4>("faults.txt")) {
        SCOPED_TRACE(json);
        std::vector<std::string> expected;
        for (std::size_t at = 0, bar = 0; !messages.empty() && bar != std::string::npos;
             at = bar + 1) {
            bar = messages.find('|', at);
            expected.push_back(messages.substr(at, bar - at));
        }
        const Walked w = whole(json);
        EXPECT_EQ(w.messages(), expected);
        EXPECT_EQ(std::to_string(w.summary.skipped), skipped);
        EXPECT_EQ(w.summary.truncated, flags == "t");
        EXPECT_EQ(w.summary.trailingText, flags == "r");
        EXPECT_EQ(w.summary.array, flags != "n");
        EXPECT_EQ(w.summary.clean(), flags.empty() && skipped == "0");
    }
}

TEST(LogWalk, NestingPastTheBoundBreaksOnlyItsElement) {
    const auto nested = [](std::size_t depth) {
        return R"({"backtrace":)" + std::string(depth, '[') + std::string(depth, ']') +
               R"(,"eventMessage":"deep"})";
    };
    const Walked w = whole("[" + nested(maxElementDepth) + "," + nested(maxElementDepth + 1) + "," +
                           nested(1'000'000) + "," + entry("after") + "]");
    EXPECT_EQ(w.messages(), (std::vector<std::string>{"deep", "after"}));
    EXPECT_EQ(w.summary.skipped, 2u);
}

TEST(LogWalk, TextIsMendedNotRefused) {
    for (const auto& [raw, shown] : varko::testing::caseTable<2>("mended.txt")) {
        SCOPED_TRACE(raw);
        const std::string json = R"([{"subsystem":"com.apple.TCC","eventMessage":")" + raw +
                                 R"("},{"eventMessage":"next"}])";
        const Walked w = whole(json);
        ASSERT_EQ(w.elements.size(), 2u);
        EXPECT_EQ(w.elements[0].message, shown);
        EXPECT_EQ(w.elements[0].subsystem, "com.apple.TCC");
        EXPECT_EQ(w.elements[1].message, "next");
        EXPECT_TRUE(w.summary.clean());
    }
    // Keys are read the same way; one that only mends to a known key is not it.
    const Walked keys = whole(
        R"([{"event\u004dessage":"escaped key","eventMessag\u0000":"x","sub\u0000system":"y"}])");
    ASSERT_EQ(keys.elements.size(), 1u);
    EXPECT_EQ(keys.elements[0].message, "escaped key");
    EXPECT_EQ(keys.elements[0].subsystem, std::nullopt);
}

TEST(LogWalk, LongTextIsCutOnACharacterBoundaryAndCounted) {
    const std::string ascii(maxMessageBytes + 10, 'x');
    Walked w = whole("[" + entry(ascii) + "]");
    ASSERT_EQ(w.elements.size(), 1u);
    EXPECT_EQ(w.elements[0].message, std::string(maxMessageBytes, 'x'));
    EXPECT_EQ(w.elements[0].cut, 10u);

    // A two-byte character that does not fit is left out whole, and so is all after it.
    const std::string straddling = std::string(maxMessageBytes - 1, 'x') + "\xc3\xa9yz";
    w = whole("[" + entry(straddling) + "]");
    EXPECT_EQ(w.elements[0].message, std::string(maxMessageBytes - 1, 'x'));
    EXPECT_EQ(w.elements[0].cut, 4u);

    // Escapes count as what they stand for; mended bytes as their U+FFFD.
    w = whole("[" + entry(R"(\n)" + std::string(maxMessageBytes, 'y') + "\xff") + "]");
    EXPECT_EQ(w.elements[0].message, "\n" + std::string(maxMessageBytes - 1, 'y'));
    EXPECT_EQ(w.elements[0].cut, 1u + 3u);

    // The other keys keep maxFieldBytes; only that much of a path is searched.
    const std::string path = std::string(maxFieldBytes, 'p') + "/tccd";
    w = whole(R"([{"processImagePath":")" + path + R"(","timestamp":")" + std::string(50, '1') +
              R"("}])");
    EXPECT_EQ(w.elements[0].image, std::string(maxFieldBytes, 'p'));
    EXPECT_EQ(w.elements[0].cut, 0u);
}

TEST(LogWalk, TruncationAtEveryByteKeepsTheEntriesBeforeTheCut) {
    const std::vector<std::string> elements = {
        R"({"timestamp":"2021-04-07 18:22:06.123456+0100","eventMessage":"one \" },{ ["})",
        R"({"eventMessage":"two","backtrace":{"frames":[{"imageOffset":96812}]}})",
        R"( 7)",
        R"({"subsystem":"com.apple.TCC","eventMessage":"thr\u00e9e\n"})",
    };
    std::string json = "[";
    std::vector<std::size_t> ends;  // just past each element
    for (const std::string& e : elements) {
        if (json.size() > 1) json += ",";
        json += e;
        ends.push_back(json.size());
    }
    json += "]";
    for (std::size_t cut = 1; cut <= json.size(); ++cut) {
        const std::string_view text(json.data(), cut);
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= cut) ++complete;
        // An element cut inside its text is skipped; one cut in its blanks is not there.
        bool inside = false;
        if (complete < ends.size()) {
            const std::size_t start = ends[complete] - elements[complete].size();
            inside =
                cut > start && text.substr(start).find_first_not_of(' ') != std::string_view::npos;
        }
        const Walked w = whole(text);
        ASSERT_EQ(w.elements.size(), complete) << cut;
        EXPECT_EQ(w.summary.skipped, inside ? 1u : 0u) << cut;
        EXPECT_EQ(w.summary.truncated, cut < json.size()) << cut;
        for (std::size_t slice : {1, 2, 7})
            ASSERT_EQ(sliced(text, slice, 2), w) << cut << " in slices of " << slice;
    }
}

TEST(LogWalk, ObjectsPastTheBoundAreNotRead) {
    const Walked w = whole(R"([{},7,{"eventMessage":"second"},{},"x",{}])", 2);
    ASSERT_EQ(w.elements.size(), 3u);
    EXPECT_EQ(w.elements[2].message, "second");
    EXPECT_TRUE(w.summary.limited);
    EXPECT_EQ(w.summary.objects, 2u);
    EXPECT_FALSE(whole(R"([{},7,{}])", 2).summary.limited);
}

TEST(LogWalk, SlicesAgreeWithTheWholeWalkWhereverTheCutsFall) {
    std::string many = "[";
    for (int i = 0; i < 40; ++i)
        many += std::string(i > 0 ? "," : "") + (i % 3 == 0 ? "{}" : entry(std::to_string(i)));
    many += "]";
    std::vector<std::string> docs = {many, many.substr(0, many.size() / 2),
                                     // One string over many cuts.
                                     R"([{"eventMessage":")" + std::string(20, '\\') + "\\\"" +
                                         QByteArray("},{").repeated(30).toStdString() +
                                         R"("},{"eventMessage":"z"}])"};
    for (const auto& [json] : varko::testing::caseTable<1>("cut_documents.txt"))
        docs.push_back(json);
    for (const std::string& json : docs) {
        for (const std::uint64_t bound : {maxLogEntries, std::uint64_t(0), std::uint64_t(1),
                                          std::uint64_t(5), std::uint64_t(13), std::uint64_t(26)}) {
            const Walked expected = whole(json, bound);
            EXPECT_LE(expected.summary.objects, bound);
            for (std::size_t slice = 1; slice <= 24; ++slice)
                for (const unsigned threads : {1u, 3u})
                    ASSERT_EQ(sliced(json, slice, threads, bound), expected)
                        << json << "\nslices of " << slice << ", bound " << bound << ", threads "
                        << threads;
        }
    }
}

TEST(LogWalk, ABusyPoolLeavesTheWalkToTheCaller) {
    std::string json = "[";
    for (int i = 0; i < 200; ++i) json += entry("m" + std::to_string(i)) + ",";
    json.back() = ']';
    const Walked expected = whole(json);
    // The walk runs in a task of its window's pool whose other threads all wait until it is
    // done: a runner that waited for a queued helper would never return.
    QThreadPool windowPool;
    QThreadPool* pool = &windowPool;
    pool->setMaxThreadCount(4);
    const int others = pool->maxThreadCount() - 1;
    QSemaphore walkDone, release;
    for (int i = 0; i < others; ++i) pool->start([&] { release.acquire(); });
    Walked walked;
    pool->start([&] {
        const Work::Scope window(Work{host::poolThreads(pool), {}});
        walked = sliced(json, 64, 8);
        walkDone.release();
    });
    const bool finished = walkDone.tryAcquire(1, 20000);
    release.release(others);
    ASSERT_TRUE(finished);
    pool->waitForDone();
    EXPECT_EQ(walked, expected);
}

}  // namespace
}  // namespace varko::unifiedlog
