// The baseline the event path is measured against: the platform reads the filter makes for a
// key-down it passes. One definition for the simulated and the macOS benchmarks, so that both
// compare against the same work.
#pragma once

#include <benchmark/benchmark.h>

#include "platform/events.h"

namespace qk::bench {

inline void readLikeTheFilter(EventRef event) {
    benchmark::DoNotOptimize(platform::eventType(event));
    benchmark::DoNotOptimize(platform::readField(event, fields::sourceUserData));
    benchmark::DoNotOptimize(platform::readField(event, fields::keyCode));
    benchmark::DoNotOptimize(platform::eventFlags(event));
    benchmark::DoNotOptimize(platform::uptime());
}

} // namespace qk::bench
