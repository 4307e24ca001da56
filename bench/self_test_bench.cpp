// The self-test on a large generated document, next to simdjson's own on-demand iteration over the
// same document, so that the matcher's and the checks' cost shows as a ratio of throughputs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include "app/self_test.h"
#include "bench/heap_counter.h"
#include "bench/names.h"
#include "core/trigger.h"

namespace qk::bench {

namespace {

// The document: sequences of about eight key objects, one sequence a line, such as a scanner and
// people typing would produce.
struct Input {
    std::string json; // with room for simdjson's padding, as readAll leaves it
    std::size_t keys = 0;
    std::size_t scans = 0; // sequences the matcher must find complete
};

// Size of the document; QKSCAN_BENCH_INPUT_MIB overrides it (small values suit profilers).
std::size_t inputBytes() {
    if (const char* mib = std::getenv("QKSCAN_BENCH_INPUT_MIB")) {
        const long value = std::strtol(mib, nullptr, 10);
        if (value > 0) return static_cast<std::size_t>(value) << 20;
    }
    return std::size_t{32} << 20;
}

class Generator {
public:
    explicit Generator(Input& into) : input(into) {}

    void sequence() {
        const int kind = between(0, 99);
        at += between(500, 5000); // the next sequence starts a while later
        input.json += '[';
        first = true;
        if (kind < 45) {
            scan(false);
            ++input.scans;
        } else if (kind < 50) {
            scan(true);
        } else if (kind < 70) {
            wordStartingWithQ();
        } else {
            otherTyping();
        }
        input.json += ']';
    }

private:
    Input& input;
    std::mt19937 random{20240611}; // fixed, so every run parses the same document
    long at = 10000;               // milliseconds
    bool first = true;

    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    void key(std::string_view name) {
        if (!first) input.json += ',';
        first = false;
        char time[32];
        std::snprintf(time, sizeof time, "%ld.%03ld", at / 1000, at % 1000);
        input.json += "{\"key\":\"";
        input.json += name;
        input.json += "\",\"at\":";
        input.json += time;
        input.json += '}';
        ++input.keys;
    }

    std::string_view letter() {
        static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        return alphabet.substr(static_cast<std::size_t>(between(0, 25)), 1);
    }

    // The trigger typed by a scanner, a key every few milliseconds; a slow one pauses once for
    // longer than the gap and so never completes.
    void scan(bool slow) {
        const int pauseAt = slow ? between(1, 7) : -1;
        for (int i = 0; i <= 7; ++i) {
            if (i > 0) at += (i == pauseAt) ? between(110, 400) : between(2, 8);
            key(i < 7 ? barcode.substr(static_cast<std::size_t>(i), 1) : enterName);
        }
    }

    // A person typing a word such as "Quit": never K after the Q, so never a trigger.
    void wordStartingWithQ() {
        key("Q");
        const int length = between(4, 9);
        for (int i = 1; i < length; ++i) {
            at += between(60, 250);
            std::string_view next = letter();
            while (i == 1 && next == "K")
                next = letter();
            key(next);
        }
        at += between(60, 250);
        key(enterName);
    }

    // Other typing: never starts with Q, so the matcher ignores it all.
    void otherTyping() {
        const int length = between(6, 10);
        for (int i = 0; i < length; ++i) {
            if (i > 0) at += between(40, 250);
            std::string_view next = letter();
            while (i == 0 && next == "Q")
                next = letter();
            key(between(0, 9) == 0 ? std::string_view("SPACE") : next);
        }
    }
};

Input& largeInput() {
    static Input input = [] {
        Input generated;
        const std::size_t target = inputBytes();
        generated.json.reserve(target + 4096 + simdjson::SIMDJSON_PADDING);
        Generator generator(generated);
        generated.json += '[';
        while (generated.json.size() < target) {
            if (generated.json.size() > 1) generated.json += ",\n";
            generator.sequence();
        }
        generated.json += "]\n";
        generated.json.reserve(generated.json.size() + simdjson::SIMDJSON_PADDING);
        return generated;
    }();
    return input;
}

#ifdef __linux__
// The kernel's record of the largest resident set: reset to the current one, and read.
bool resetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

// A "kB" field of /proc/self/status, in bytes; 0 if missing.
std::size_t statusBytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field))
            return std::strtoull(line.c_str() + field.size(), nullptr, 10) * 1024;
    return 0;
}
#endif

// Runs `work` once and records the peak heap and (where the system tells) the peak resident
// memory it added, relative to the input size.
template <typename Work>
void measureMemory(benchmark::State& state, std::size_t inputSize, Work work) {
#ifdef __linux__
    const bool resident = resetPeakResident();
    const std::size_t residentBefore = resident ? statusBytes("VmRSS:") : 0;
#endif
    resetPeak();
    const std::size_t heapBefore = liveBytes();
    work();
    const std::size_t heapPeak = peakBytes() - heapBefore;
    state.counters[names::peakHeapPerInput] =
        static_cast<double>(heapPeak) / static_cast<double>(inputSize);
#ifdef __linux__
    const std::size_t residentPeak = resident ? statusBytes("VmHWM:") : 0;
    if (resident && residentPeak >= residentBefore)
        state.counters[names::peakResidentPerInput] =
            static_cast<double>(residentPeak - residentBefore) / static_cast<double>(inputSize);
#endif
}

void setInputCounters(benchmark::State& state, const Input& input) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.json.size()));
    state.counters[names::inputMiB] = static_cast<double>(input.json.size()) / (1 << 20);
}

void selfTestRun(benchmark::State& state) {
    Input& input = largeInput();
    std::string out, error;
    int status = 0;
    measureMemory(state, input.json.size(), [&] { status = selfTest(input.json, out, error); });
    if (status != 0) return state.SkipWithError("the self-test refused the document");
    // One digit a key, and a 3 for every complete scan.
    if (static_cast<std::size_t>(std::count_if(
            out.begin(), out.end(), [](char c) { return c >= '0' && c <= '3'; })) != input.keys ||
        static_cast<std::size_t>(std::count(out.begin(), out.end(), '3')) != input.scans)
        return state.SkipWithError("the self-test's results do not match the document");
    int failures = 0;
    for (auto _ : state) {
        std::string result, message; // fresh, as in one run of the mode
        failures += static_cast<int>(selfTest(input.json, result, message) != 0);
        benchmark::DoNotOptimize(result.data());
    }
    if (failures != 0) return state.SkipWithError("the self-test failed");
    setInputCounters(state, input);
}

// simdjson alone: every sequence and key object visited, "key" read as a string and "at" as a
// double, nothing else checked or computed.
simdjson::error_code iterateAll(simdjson::ondemand::parser& parser, Input& input, std::size_t& keys,
                                double& sum) {
    using namespace simdjson;
    const padded_string_view json(input.json.data(), input.json.size(), input.json.capacity());
    ondemand::document document;
    if (auto code = parser.iterate(json).get(document)) return code;
    ondemand::array sequences;
    if (auto code = document.get_array().get(sequences)) return code;
    for (auto sequence : sequences) {
        ondemand::array objects;
        if (auto code = sequence.get_array().get(objects)) return code;
        for (auto element : objects) {
            ondemand::object object;
            if (auto code = element.get_object().get(object)) return code;
            std::string_view name;
            double at = 0;
            if (auto code = object["key"].get_string().get(name)) return code;
            if (auto code = object["at"].get_double().get(at)) return code;
            ++keys;
            sum += at + static_cast<double>(name.size());
        }
    }
    return SUCCESS;
}

// With a parser made for each document, as the self-test does, or one kept across documents.
void simdjsonRun(benchmark::State& state, bool reuseParser) {
    Input& input = largeInput();
    std::size_t keys = 0;
    double sum = 0;
    simdjson::error_code code = simdjson::SUCCESS;
    simdjson::ondemand::parser kept;
    measureMemory(state, input.json.size(), [&] {
        simdjson::ondemand::parser parser;
        code = iterateAll(reuseParser ? kept : parser, input, keys, sum);
    });
    if (code != simdjson::SUCCESS) return state.SkipWithError(simdjson::error_message(code));
    if (keys != input.keys) return state.SkipWithError("simdjson did not visit every key");
    int failures = 0;
    for (auto _ : state) {
        keys = 0;
        if (reuseParser) {
            failures += static_cast<int>(iterateAll(kept, input, keys, sum) != simdjson::SUCCESS);
        } else {
            simdjson::ondemand::parser parser;
            failures += static_cast<int>(iterateAll(parser, input, keys, sum) != simdjson::SUCCESS);
        }
        benchmark::DoNotOptimize(sum);
    }
    if (failures != 0) return state.SkipWithError("simdjson failed");
    setInputCounters(state, input);
}

void simdjsonFresh(benchmark::State& state) {
    simdjsonRun(state, false);
}
void simdjsonReused(benchmark::State& state) {
    simdjsonRun(state, true);
}

} // namespace

BENCHMARK(selfTestRun)->Name(names::selfTest)->Unit(benchmark::kMillisecond);
BENCHMARK(simdjsonFresh)->Name(names::simdjsonFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(simdjsonReused)->Name(names::simdjsonReused)->Unit(benchmark::kMillisecond);

} // namespace qk::bench
