// Names of the benchmarks and counters, shared with the summary that compares them.
#pragma once

namespace qk::bench::names {

// Benchmarks.
inline constexpr const char* commonKeyDown = "filter/common_key_down";
inline constexpr const char* commonKeyUp = "filter/common_key_up";
inline constexpr const char* platformReads = "baseline/platform_reads";
inline constexpr const char* completeScan = "filter/complete_scan";
inline constexpr const char* brokenTrigger = "filter/broken_trigger";
inline constexpr const char* staleHold = "filter/stale_hold";
inline constexpr const char* selfTest = "self_test/qkscan";
inline constexpr const char* simdjsonFresh = "self_test/simdjson_fresh_parser";
inline constexpr const char* simdjsonReused = "self_test/simdjson_reused_parser";

// Counters.
inline constexpr const char* allocationsPerEvent = "allocs/event";
inline constexpr const char* allocationsPerScan = "allocs/scan";
inline constexpr const char* copiesPerScan = "copies/scan";
inline constexpr const char* eventsPerScan = "events/scan";
inline constexpr const char* allocationsPerTrigger = "allocs/trigger";
inline constexpr const char* copiesPerTrigger = "copies/trigger";
inline constexpr const char* peakHeapPerInput = "peak_heap/input";
inline constexpr const char* peakResidentPerInput = "peak_rss/input";
inline constexpr const char* inputMiB = "input_MiB";

} // namespace qk::bench::names
