// Runs the benchmarks, then compares the results that have goals and prints each comparison with
// the measured numbers, so that one run answers whether every goal is met on this machine.
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <unistd.h>

#include "bench/names.h"

namespace qk::bench {

namespace {

struct Result {
    double seconds = 0; // CPU time per iteration
    benchmark::UserCounters counters;
    bool median = false; // the median of repetitions rather than one run
};

// A run that stopped with an error has no figures to compare. Google Benchmark 1.8 replaced the
// flag Run::error_occurred with Run::skipped (an error or a skip message); both are accepted, so
// that the release a system installs builds as well as the pinned one.
template <typename ReportedRun> bool stopped(const ReportedRun& run) {
    if constexpr (requires { run.skipped; }) {
        return run.skipped != 0;
    } else {
        return run.error_occurred;
    }
}

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (stopped(run)) continue;
            // With repetitions, the median stands for the benchmark: one disturbed repetition
            // on a busy machine moves it least.
            const bool median = run.run_type == Run::RT_Aggregate;
            if (median && run.aggregate_name != "median") continue;
            Result& result = results[run.run_name.str()];
            if (result.median && !median) continue;
            result.seconds =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            result.counters = run.counters;
            result.median = median;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        summarize();
    }

private:
    std::map<std::string, Result> results;
    int met = 0, missed = 0;

    const Result* find(const char* name) const {
        const auto found = results.find(name);
        return found == results.end() ? nullptr : &found->second;
    }

    static std::optional<double> counter(const Result* result, const char* name) {
        if (!result) return std::nullopt;
        const auto found = result->counters.find(name);
        if (found == result->counters.end()) return std::nullopt;
        return found->second.value;
    }

    void line(bool ok, const std::string& text) {
        (ok ? met : missed) += 1;
        GetOutputStream() << "  " << (ok ? "met    " : "MISSED ") << text << '\n';
    }

    static std::string format(const char* pattern, double a, double b = 0, double c = 0) {
        char text[256];
        std::snprintf(text, sizeof text, pattern, a, b, c);
        return text;
    }

    void summarize() {
        GetOutputStream() << "\nGoals, measured in this run (CPU time):\n";
        const Result* baseline = find(names::platformReads);
        for (const char* name : {names::commonKeyDown, names::commonKeyUp}) {
            const Result* result = find(name);
            if (!result) continue;
            const auto allocations = counter(result, names::allocationsPerEvent);
            if (allocations)
                line(*allocations == 0,
                     std::string(name) +
                         format(": %.3g heap allocations per event (goal 0)", *allocations));
            if (baseline && baseline->seconds > 0) {
                const double ratio = result->seconds / baseline->seconds;
                line(ratio <= 2, std::string(name) +
                                     format(": %.2f ns per event = %.2fx the platform reads "
                                            "(%.2f ns; goal at most 2x)",
                                            result->seconds * 1e9, ratio, baseline->seconds * 1e9));
            }
        }
        const Result* scan = find(names::completeScan);
        const auto scanAllocations = counter(scan, names::allocationsPerScan);
        const auto scanCopies = counter(scan, names::copiesPerScan);
        if (scanAllocations && scanCopies)
            line(*scanAllocations == *scanCopies,
                 std::string(names::completeScan) +
                     format(": %.3g heap allocations per scan for %.3g withheld copies (goal: "
                            "one per copy, none for bookkeeping); %.0f ns per scan",
                            *scanAllocations, *scanCopies, scan->seconds * 1e9));
        for (const char* name : {names::brokenTrigger, names::staleHold}) {
            const Result* result = find(name);
            const auto allocations = counter(result, names::allocationsPerTrigger);
            const auto copies = counter(result, names::copiesPerTrigger);
            if (allocations && copies)
                line(*allocations == *copies,
                     std::string(name) +
                         format(": %.3g heap allocations for %.3g withheld copies; %.0f ns",
                                *allocations, *copies, result->seconds * 1e9));
        }
        const Result* selfTest = find(names::selfTest);
        constexpr double mebi = 1.0 / (1 << 20); // the table shows bytes per second in MiB/s
        for (const char* name : {names::simdjsonFresh, names::simdjsonReused}) {
            const Result* bare = find(name);
            if (!selfTest || !bare || selfTest->seconds <= 0) continue;
            const double ratio = bare->seconds / selfTest->seconds;
            line(ratio >= 0.5, std::string(names::selfTest) +
                                   format(": %.0f MiB/s = %.2fx the throughput of ",
                                          mebi * *counter(selfTest, "bytes_per_second"), ratio) +
                                   name +
                                   format(" (%.0f MiB/s; goal at least 0.5x)",
                                          mebi * *counter(bare, "bytes_per_second")));
        }
        if (const auto heap = counter(selfTest, names::peakHeapPerInput)) {
            std::string text =
                std::string(names::selfTest) + format(": peak heap %.2fx the input size", *heap);
            if (const auto resident = counter(selfTest, names::peakResidentPerInput))
                text += format(" (peak resident growth %.2fx)", *resident);
            const auto bare = counter(find(names::simdjsonFresh), names::peakHeapPerInput);
            if (bare) text += format("; simdjson alone %.2fx", *bare);
            line(*heap <= 2, text + " (goal about 2x at most)");
        }
        GetOutputStream() << "  " << met << " met, " << missed << " missed\n";
    }
};

} // namespace

} // namespace qk::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The on-demand reader is compiled into the code that uses it, for the instruction set the
    // compiler was told to target; the structural scan is chosen at run time for this CPU.
    benchmark::AddCustomContext("simdjson on-demand kernel",
                                simdjson::builtin_implementation()->name());
    benchmark::AddCustomContext("simdjson structural scan",
                                simdjson::get_active_implementation()->name());
    using Reporter = qk::bench::SummaryReporter;
    Reporter reporter(isatty(STDOUT_FILENO) ? Reporter::OO_ColorTabular : Reporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
