#include "tests/filter_support.h"

namespace qk::test {
namespace {

class HoldBuffer : public FilterTest {
protected:
    // Puts copies of `count` key-downs in the hold, as the filter would, for process `pid`.
    void hold(int count, Pid pid) {
        heldPID = pid;
        matcher.feed("Q", 1.0);
        for (int i = 0; i < count; ++i) {
            sim::Event event = keyDown(keys::q);
            event.origin = i;
            held.push_back(copyEvent(sim::ref(event)));
            down.insert(keys::q + i);
        }
        swallowedUps.insert(keys::returnKey);
    }

    static void expectIdleButSwallowedUps() {
        EXPECT_TRUE(held.empty());
        EXPECT_TRUE(down.empty());
        EXPECT_EQ(heldPID, 0);
        EXPECT_EQ(matcher.index, 0);
        EXPECT_EQ(matcher.last, 0);
        EXPECT_TRUE(swallowedUps.contains(keys::returnKey));
        EXPECT_EQ(sim::world().liveCopies, 0);
    }
};

TEST_F(HoldBuffer, FlushReplaysInOrderWithTheMarkerAndEmptiesTheState) {
    hold(3, 501);
    flush();
    EXPECT_EQ(posts(), (std::vector<std::string>{"501:#0", "501:#1", "501:#2"}));
    expectIdleButSwallowedUps();
}

TEST_F(HoldBuffer, FlushWithNoProcessReleasesUnposted) {
    for (const Pid pid : {0, -1}) {
        hold(2, pid);
        flush();
        EXPECT_TRUE(posts().empty());
        expectIdleButSwallowedUps();
    }
}

TEST_F(HoldBuffer, FlushWithNothingHeldResetsTheMatcherOnly) {
    matcher.feed("Q", 3.0);
    swallowedUps.insert(keys::returnKey);
    flush();
    EXPECT_TRUE(posts().empty());
    EXPECT_EQ(matcher.index, 0);
    EXPECT_TRUE(swallowedUps.contains(keys::returnKey));
}

TEST_F(HoldBuffer, ClearPostsNothing) {
    hold(3, 501);
    clear();
    EXPECT_TRUE(posts().empty());
    expectIdleButSwallowedUps();
}

// The state is emptied before anything is posted, so a post that comes back through the
// filter finds the buffer idle.
TEST_F(HoldBuffer, FlushEmptiesTheStateBeforePosting) {
    static bool idleAtEveryPost;
    idleAtEveryPost = true;
    sim::world().onPost = [](const sim::Post&) {
        idleAtEveryPost = idleAtEveryPost && held.empty() && heldPID == 0 && matcher.index == 0;
    };
    hold(2, 501);
    flush();
    EXPECT_EQ(sim::world().posts.size(), 2u);
    EXPECT_TRUE(idleAtEveryPost);
}

TEST_F(HoldBuffer, ReplayMarksAndPostsWithoutTestingTheProcess) {
    std::vector<OwnedEvent> events;
    for (int i = 0; i < 2; ++i) {
        sim::Event event = keyUp(keys::k);
        event.origin = i;
        events.push_back(copyEvent(sim::ref(event)));
    }
    replay(events, 0);
    EXPECT_EQ(posts(), (std::vector<std::string>{"0:#0", "0:#1"}));
}

TEST_F(HoldBuffer, HoldsKeepTheirStorage) {
    hold(3, 501);
    const std::size_t capacity = held.capacity();
    flush();
    hold(3, 501);
    EXPECT_EQ(held.capacity(), capacity);
    flush();
}

} // namespace
} // namespace qk::test
