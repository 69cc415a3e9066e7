#include "format/recentresults.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace varko {
namespace {

std::string key(const char* who, int i) {
    return std::string(who) + std::to_string(i);
}

TEST(RecentResults, KeepsTheNewestForEveryThreadAndNoHugeKey) {
    RecentResults<int, 8> recent;
    for (int i = 0; i < 11; ++i) recent.add(key("k", i), i);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(recent.find(key("k", i))) << i;
    for (int i = 3; i < 11; ++i) EXPECT_EQ(recent.find(key("k", i)), i);
    // Another thread finds them too.
    std::thread([&] { EXPECT_EQ(recent.find(key("k", 10)), 10); }).join();
    // A key must match whole: a prefix or a longer key with the same start is another.
    EXPECT_FALSE(recent.find("k1"));
    EXPECT_FALSE(recent.find("k100"));

    const std::string huge(RecentResults<int, 8>::maxKeyBytes + 1, 'x');
    recent.add(huge, 1);
    EXPECT_FALSE(recent.find(huge));
    EXPECT_EQ(recent.find(key("k", 3)), 3) << "a key too big to keep took a place";
}

TEST(RecentResults, AThreadPushesOutItsOwnOldEntriesBeforeAnothersButNotForever) {
    RecentResults<int, 8> recent;
    std::thread([&] {
        for (int i = 0; i < 4; ++i) recent.add(key("a", i), i);
    }).join();
    for (int i = 0; i < 4; ++i) recent.add(key("b", i), i);
    // Full. The oldest of this thread's, b0, is in the older half: it goes, not a0.
    recent.add(key("b", 4), 4);
    EXPECT_EQ(recent.find(key("a", 0)), 0);
    EXPECT_FALSE(recent.find(key("b", 0)));
    // This thread goes on with its own places, until the other's are two turns old: a thread
    // that has ended leaves nothing behind for long.
    for (int i = 5; i < 12; ++i) recent.add(key("b", i), i);
    EXPECT_EQ(recent.find(key("a", 0)), 0);
    for (int i = 12; i < 16; ++i) recent.add(key("b", i), i);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(recent.find(key("a", i))) << i;
    for (int i = 8; i < 16; ++i) EXPECT_EQ(recent.find(key("b", i)), i);
}

/// A result whose end runs code of its own, as a parsed signature's frees do.
struct Probe {
    std::function<void()> atEnd;
    ~Probe() {
        if (atEnd) atEnd();
    }
};

TEST(RecentResults, AResultPushedOutEndsAfterTheLock) {
    RecentResults<std::shared_ptr<Probe>, 2> recent;
    bool ended = false;
    auto first = std::make_shared<Probe>();
    // Ended under the lock, this lookup would wait for itself.
    first->atEnd = [&] {
        EXPECT_TRUE(recent.find("second"));
        ended = true;
    };
    recent.add("first", first);
    first.reset();
    recent.add("second", std::make_shared<Probe>());
    recent.add("third", std::make_shared<Probe>());
    EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace varko
