// Heap use of the benchmark binary. heap_counter.cpp replaces the global operator new and
// operator delete (every form), so that everything allocated through them is counted: the
// filter's, the simulated platform's, simdjson's and the library's own allocations alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qk::bench {

// Allocations made so far.
std::uint64_t allocations();

// Bytes allocated and not yet freed, as requested from operator new.
std::size_t liveBytes();

// The largest liveBytes() since the last resetPeak().
std::size_t peakBytes();
void resetPeak();

} // namespace qk::bench
