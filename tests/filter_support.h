// A small fixture for driving the event filter on the simulated platform: timed events in,
// verdicts, posts and emitted lines out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intercept/event_filter.h"
#include "intercept/hold_buffer.h"
#include "parent/messages.h"
#include "platform/sim/world.h"

namespace qk::test {

// Key codes used by the scripts.
namespace keys {
inline constexpr KeyCode q = 12, k = 40, d = 2, a = 0, t = 17, u = 32, m = 46;
inline constexpr KeyCode w = 13, x = 7, returnKey = 36, keypadEnter = 76, shift = 56;
inline constexpr KeyCode control = 59;
} // namespace keys

inline constexpr EventFlags shiftFlag = 0x20000;

inline sim::Event keyDown(KeyCode key, EventFlags flags = 0) {
    sim::Event event;
    event.type = types::keyDown;
    event.key = key;
    event.flags = flags;
    return event;
}
inline sim::Event keyUp(KeyCode key, EventFlags flags = 0) {
    sim::Event event = keyDown(key, flags);
    event.type = types::keyUp;
    return event;
}
inline sim::Event modifiers(KeyCode key, EventFlags flags) {
    sim::Event event = keyDown(key, flags);
    event.type = types::flagsChanged;
    return event;
}
inline sim::Event pointer(EventType type = types::leftMouseDown) {
    sim::Event event;
    event.type = type;
    return event;
}
inline sim::Event autorepeated(KeyCode key) {
    sim::Event event = keyDown(key);
    event.autorepeat = 1;
    return event;
}
inline sim::Event marked(sim::Event event) {
    event.userData = marker;
    return event;
}

inline std::vector<std::string> emitted;
inline bool collectEmitted(std::string_view line) {
    emitted.emplace_back(line);
    return true;
}

// Each test starts a fresh session state: simulated world, hold buffer, no tap, and emitted lines
// collected. Every event handed to the filter gets the next input number as its origin, so posts
// can be traced back to the input they copy.
class FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        createHoldBuffer();
        tap = nullptr;
        emitted.clear();
        setEmitSink(collectEmitted);
        nextOrigin = 0;
        inputs.clear();
    }
    void TearDown() override {
        createHoldBuffer(); // releases whatever a test left held
        EXPECT_EQ(sim::world().liveCopies, 0) << "event copies leaked";
        setEmitSink(nullptr);
    }

    // Hands `event` to the filter at time `at` and returns the verdict.
    Verdict feed(double at, sim::Event event) {
        sim::world().now = at;
        event.origin = nextOrigin++;
        inputs.push_back(event);
        return callback(event.type, sim::ref(event));
    }

    // The posts so far, one word each: "501:#3" is input 3 posted to process 501, "hid:#3" into
    // the hardware stream. A post that lacks the marker is shown with a "!".
    static std::vector<std::string> posts() {
        std::vector<std::string> words;
        for (const sim::Post& post : sim::world().posts) {
            std::string word = post.kind == sim::PostKind::hid ? "hid" : std::to_string(post.pid);
            word += ":#" + std::to_string(post.event.origin);
            if (post.event.userData != marker) word += "!";
            words.push_back(word);
        }
        return words;
    }

    std::int64_t nextOrigin = 0;
    std::vector<sim::Event> inputs;
};

} // namespace qk::test
