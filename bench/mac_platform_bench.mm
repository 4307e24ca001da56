// The common path on the real macOS platform: a key-down and a key-up of W through qk::callback
// while nothing is held, on a real Quartz event, against the platform reads the filter makes for
// an event, each a call into Quartz Event Services or Foundation. With the names of the simulated
// benchmarks, so that the summary compares them against the same goal. Also the cost of the
// calls a hold adds: the frontmost process and an event copy. Nothing is posted and no tap is
// needed: the filter is handed the event as the tap would hand it.
#include <benchmark/benchmark.h>

#import <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <memory>
#include <type_traits>

#include "bench/heap_counter.h"
#include "bench/names.h"
#include "bench/platform_reads.h"
#include "intercept/event_filter.h"
#include "intercept/hold_buffer.h"
#include "platform/events.h"

namespace qk::bench {

namespace {

struct CFReleaser {
    void operator()(CGEventRef event) const { CFRelease(event); }
};
using Quartz = std::unique_ptr<std::remove_pointer_t<CGEventRef>, CFReleaser>;

constexpr CGKeyCode otherCode = 13; // kVK_ANSI_W: no part of the trigger

Quartz keyEvent(bool down) {
    return Quartz(CGEventCreateKeyboardEvent(nullptr, otherCode, down));
}
EventRef handle(const Quartz& event) {
    return reinterpret_cast<EventRef>(event.get());
}

void commonPath(benchmark::State& state, bool down) {
    const Quartz event = keyEvent(down);
    if (!event) return state.SkipWithError("no event could be made");
    const EventType type = down ? types::keyDown : types::keyUp;
    createHoldBuffer();
    if (callback(type, handle(event)) != Verdict::pass)
        return state.SkipWithError("the key was not passed");
    int passed = 0;
    const std::uint64_t before = allocations();
    for (auto _ : state) {
        Verdict verdict = callback(type, handle(event));
        passed += static_cast<int>(verdict == Verdict::pass);
        benchmark::DoNotOptimize(verdict);
    }
    const std::uint64_t allocated = allocations() - before;
    if (passed != state.iterations()) return state.SkipWithError("a key was not passed");
    if (holding()) return state.SkipWithError("the filter started a hold");
    state.counters[names::allocationsPerEvent] =
        benchmark::Counter(static_cast<double>(allocated), benchmark::Counter::kAvgIterations);
}

void commonKeyDown(benchmark::State& state) {
    commonPath(state, true);
}
void commonKeyUp(benchmark::State& state) {
    commonPath(state, false);
}

// The same five reads as the simulated baseline, here each a call into the system.
void platformReads(benchmark::State& state) {
    const Quartz event = keyEvent(true);
    if (!event) return state.SkipWithError("no event could be made");
    const EventRef ref = handle(event);
    for (auto _ : state)
        readLikeTheFilter(ref);
}

// NSWorkspace's frontmost application, read when a hold begins and on every event during one.
void frontmostProcess(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::frontmostProcess());
}

// NSProcessInfo's uptime alone: the clock the matcher is fed with.
void uptime(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::uptime());
}

// One withheld event: a copy made and released, as every event of a hold costs.
void copyAndRelease(benchmark::State& state) {
    const Quartz event = keyEvent(true);
    if (!event) return state.SkipWithError("no event could be made");
    int failed = 0;
    for (auto _ : state) {
        OwnedEvent copy = copyEvent(handle(event));
        failed += static_cast<int>(!copy);
        benchmark::DoNotOptimize(copy.get());
    }
    if (failed != 0) return state.SkipWithError("a copy could not be made");
}

} // namespace

BENCHMARK(commonKeyDown)->Name(names::commonKeyDown);
BENCHMARK(commonKeyUp)->Name(names::commonKeyUp);
BENCHMARK(platformReads)->Name(names::platformReads);
BENCHMARK(frontmostProcess)->Name("mac/frontmost_process");
BENCHMARK(uptime)->Name("mac/uptime");
BENCHMARK(copyAndRelease)->Name("mac/copy_and_release");

} // namespace qk::bench
