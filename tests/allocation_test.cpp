// Heap allocations on the event path, counted by replacing the global operator new in this test
// binary only.
#include <cstdlib>
#include <new>

#include "tests/filter_support.h"

namespace {
long allocations = 0;
} // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace qk::test {
namespace {

bool discard(std::string_view) {
    return true;
}

class Allocations : public FilterTest {
protected:
    void SetUp() override {
        FilterTest::SetUp();
        setEmitSink(discard);
        sim::world().posts.reserve(1024);
    }

    // Allocations made while `events` pass through the filter one after another, 4 ms apart.
    long countWhileFeeding(const std::vector<sim::Event>& events) {
        const long before = allocations;
        for (const sim::Event& event : events) {
            sim::Event copy = event;
            sim::world().now += 0.004;
            callback(copy.type, sim::ref(copy));
        }
        return allocations - before;
    }
};

std::vector<sim::Event> scan() {
    std::vector<sim::Event> events = {modifiers(keys::shift, shiftFlag)};
    for (const KeyCode key : {keys::q, keys::k, keys::d, keys::a, keys::t, keys::u, keys::m}) {
        events.push_back(keyDown(key, shiftFlag));
        events.push_back(keyUp(key, shiftFlag));
    }
    events.push_back(modifiers(keys::shift, 0));
    events.push_back(keyDown(keys::returnKey));
    events.push_back(keyUp(keys::returnKey));
    return events;
}

TEST_F(Allocations, NoneWhileNothingIsHeld) {
    const std::vector<sim::Event> idle = {
        keyDown(keys::w),
        keyUp(keys::w),
        keyDown(keys::k),
        keyUp(keys::q),
        keyDown(keys::returnKey),
        modifiers(keys::shift, shiftFlag),
        modifiers(keys::shift, 0),
        keyDown(keys::q, flags::command),
        autorepeated(keys::q),
        pointer(types::leftMouseDown),
        pointer(types::scrollWheel),
        marked(keyDown(keys::q)),
    };
    EXPECT_EQ(countWhileFeeding(idle), 0);
}

// A scan allocates only the copies it withholds (the simulated platform allocates each copy),
// nothing for bookkeeping once the first scan has warmed the buffers up.
TEST_F(Allocations, OnlyTheWithheldCopiesDuringAScan) {
    countWhileFeeding(scan());
    sim::world().now += 1;
    const std::size_t postsBefore = sim::world().posts.size();
    const long made = countWhileFeeding(scan());
    // Everything after the first Shift-down is withheld, up to and including Return-down.
    EXPECT_EQ(made, 16);
    EXPECT_EQ(sim::world().posts.size(), postsBefore + 1); // the Shift-up
}

} // namespace
} // namespace qk::test
