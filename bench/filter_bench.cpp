// The event filter on the simulated platform: the common path, a complete scan, a broken trigger,
// a stale hold, and the platform reads alone as the baseline the common path is compared with.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/heap_counter.h"
#include "bench/names.h"
#include "bench/platform_reads.h"
#include "intercept/event_filter.h"
#include "intercept/hold_buffer.h"
#include "parent/messages.h"
#include "platform/sim/world.h"

namespace qk::bench {

namespace {

using sim::Event;

constexpr KeyCode shiftCode = 56;     // kVK_Shift
constexpr KeyCode otherCode = 13;     // kVK_ANSI_W: no part of the trigger
constexpr KeyCode qCode = 12;         // kVK_ANSI_Q
constexpr EventFlags shift = 0x20000; // kCGEventFlagMaskShift

Event keyDown(KeyCode key, EventFlags flags = 0) {
    return Event{types::keyDown, key, flags, 0, 0, -1};
}
Event keyUp(KeyCode key, EventFlags flags = 0) {
    return Event{types::keyUp, key, flags, 0, 0, -1};
}
Event flagsChanged(KeyCode key, EventFlags flags) {
    return Event{types::flagsChanged, key, flags, 0, 0, -1};
}

long dispatches = 0; // "dispatch-date" lines emitted

bool countDispatch(std::string_view line) {
    if (line.find("\"dispatch-date\"") != std::string_view::npos) ++dispatches;
    return true;
}

// A fresh world and hold buffer at time 10 s, with emitted lines going to the counting sink.
void freshSession() {
    sim::resetWorld();
    sim::world().now = 10;
    createHoldBuffer();
    setEmitSink(countDispatch);
    dispatches = 0;
}

Verdict hand(Event& event) {
    return callback(event.type, sim::ref(event));
}

// Allocations made while the benchmark loop ran, per iteration.
benchmark::Counter perIteration(std::uint64_t count) {
    return benchmark::Counter(static_cast<double>(count), benchmark::Counter::kAvgIterations);
}

// 1. An ordinary key, passing while nothing is held: what nearly every keystroke costs.
void commonPath(benchmark::State& state, Event event) {
    freshSession();
    if (hand(event) != Verdict::pass) return state.SkipWithError("the key was not passed");
    int passed = 0;
    const std::uint64_t before = allocations();
    for (auto _ : state) {
        // Not const: Google Benchmark 1.8 and later deprecate DoNotOptimize of a const value.
        Verdict verdict = hand(event);
        passed += static_cast<int>(verdict == Verdict::pass);
        benchmark::DoNotOptimize(verdict);
    }
    const std::uint64_t allocated = allocations() - before;
    if (passed != state.iterations()) return state.SkipWithError("a key was not passed");
    if (!sim::world().posts.empty()) return state.SkipWithError("something was posted");
    state.counters[names::allocationsPerEvent] = perIteration(allocated);
}

void commonKeyDown(benchmark::State& state) {
    commonPath(state, keyDown(otherCode));
}
void commonKeyUp(benchmark::State& state) {
    commonPath(state, keyUp(otherCode));
}

// 4. Only the platform reads the filter makes for an event, without deciding anything.
void platformReads(benchmark::State& state) {
    freshSession();
    Event event = keyDown(otherCode);
    const EventRef ref = sim::ref(event);
    for (auto _ : state)
        readLikeTheFilter(ref);
}

// 2. A complete scan as a scanner types it with Shift held for the capitals, then Enter.
struct ScanStep {
    Event event;
    Verdict verdict; // what the filter must decide
    bool withheld;   // whether the filter keeps a copy of it
};

constexpr std::array<KeyCode, 7> triggerCodes{12, 40, 2, 0, 17, 32, 46}; // Q K D A T U M

std::vector<ScanStep> scanSteps() {
    std::vector<ScanStep> steps;
    // Nothing is held yet, so Shift goes to the application at once.
    steps.push_back({flagsChanged(shiftCode, shift), Verdict::pass, false});
    for (const KeyCode code : triggerCodes) {
        steps.push_back({keyDown(code, shift), Verdict::drop, true});
        steps.push_back({keyUp(code, shift), Verdict::drop, true});
    }
    steps.push_back({flagsChanged(shiftCode, 0), Verdict::drop, true});
    steps.push_back({keyDown(returnKey), Verdict::drop, true});
    // Return was down when the trigger completed: its key-up is swallowed without a copy.
    steps.push_back({keyUp(returnKey), Verdict::drop, false});
    return steps;
}

constexpr double keyInterval = 0.003; // scanners type a key every few milliseconds
constexpr double pause = 1.0;         // between scans, so that no hold outlives its scan

// Runs one scan; returns the number of verdicts that were not the expected ones.
int runScan(std::vector<ScanStep>& steps) {
    int wrong = 0;
    for (ScanStep& step : steps) {
        sim::world().now += keyInterval;
        wrong += static_cast<int>(hand(step.event) != step.verdict);
    }
    sim::world().now += pause;
    return wrong;
}

void completeScan(benchmark::State& state) {
    freshSession();
    std::vector<ScanStep> steps = scanSteps();
    int copies = 0;
    for (const ScanStep& step : steps)
        copies += static_cast<int>(step.withheld);
    // Warm-up: the emit buffer and the record of posts reach their working size.
    if (runScan(steps) != 0) return state.SkipWithError("the warm-up scan went wrong");
    // The Shift-up made during the scan goes back to the application; the rest is swallowed.
    if (dispatches != 1 || sim::world().posts.size() != 1)
        return state.SkipWithError("the warm-up scan was not recognised");
    sim::world().posts.clear();
    int wrong = 0;
    std::size_t posts = 0;
    const std::uint64_t before = allocations();
    for (auto _ : state) {
        wrong += runScan(steps);
        posts += sim::world().posts.size();
        sim::world().posts.clear(); // keeps its storage
    }
    const std::uint64_t allocated = allocations() - before;
    if (wrong != 0) return state.SkipWithError("a verdict was not the expected one");
    if (dispatches != state.iterations() + 1 ||
        posts != static_cast<std::size_t>(state.iterations()))
        return state.SkipWithError("a scan was not recognised");
    if (sim::world().liveCopies != 0 || !held.empty())
        return state.SkipWithError("copies were left over");
    state.counters[names::allocationsPerScan] = perIteration(allocated);
    state.counters[names::copiesPerScan] = copies;
    state.counters[names::eventsPerScan] = static_cast<double>(steps.size());
}

// 3. A person types "Qw": Q starts a hold, W breaks it, and both are replayed.
void brokenTrigger(benchmark::State& state) {
    freshSession();
    Event qDown = keyDown(qCode), qUp = keyUp(qCode);
    Event wDown = keyDown(otherCode), wUp = keyUp(otherCode);
    int wrong = 0;
    std::size_t posts = 0;
    const std::uint64_t before = allocations();
    for (auto _ : state) {
        sim::world().now += 0.08;
        wrong += static_cast<int>(hand(qDown) != Verdict::drop);
        sim::world().now += 0.05;
        wrong += static_cast<int>(hand(qUp) != Verdict::drop);
        sim::world().now += 0.02;
        wrong += static_cast<int>(hand(wDown) != Verdict::drop); // broken: all three replayed
        sim::world().now += 0.05;
        wrong += static_cast<int>(hand(wUp) != Verdict::pass);
        posts += sim::world().posts.size();
        sim::world().posts.clear();
    }
    const std::uint64_t allocated = allocations() - before;
    if (wrong != 0) return state.SkipWithError("a verdict was not the expected one");
    if (posts != 3 * static_cast<std::size_t>(state.iterations()))
        return state.SkipWithError("the held keys were not replayed");
    if (sim::world().liveCopies != 0) return state.SkipWithError("copies were left over");
    state.counters[names::allocationsPerTrigger] = perIteration(allocated);
    state.counters[names::copiesPerTrigger] = 3;
}

// 3. A lone Q: the stale-hold timer releases it once the clock is more than `gap` past it.
void staleHold(benchmark::State& state) {
    freshSession();
    Event qDown = keyDown(qCode), qUp = keyUp(qCode);
    int wrong = 0;
    std::size_t posts = 0;
    const std::uint64_t before = allocations();
    for (auto _ : state) {
        sim::world().now += 1;
        wrong += static_cast<int>(hand(qDown) != Verdict::drop);
        sim::world().now += 0.12;
        staleHoldCheck();
        wrong += static_cast<int>(!held.empty());
        wrong += static_cast<int>(hand(qUp) != Verdict::pass);
        posts += sim::world().posts.size();
        sim::world().posts.clear();
    }
    const std::uint64_t allocated = allocations() - before;
    if (wrong != 0) return state.SkipWithError("the hold was not released as expected");
    if (posts != static_cast<std::size_t>(state.iterations()))
        return state.SkipWithError("the Q was not replayed");
    if (sim::world().liveCopies != 0) return state.SkipWithError("copies were left over");
    state.counters[names::allocationsPerTrigger] = perIteration(allocated);
    state.counters[names::copiesPerTrigger] = 1;
}

} // namespace

BENCHMARK(commonKeyDown)->Name(names::commonKeyDown);
BENCHMARK(commonKeyUp)->Name(names::commonKeyUp);
BENCHMARK(platformReads)->Name(names::platformReads);
BENCHMARK(completeScan)->Name(names::completeScan);
BENCHMARK(brokenTrigger)->Name(names::brokenTrigger);
BENCHMARK(staleHold)->Name(names::staleHold);

} // namespace qk::bench
