// qkscan-sim [--text] [FILE]: runs a scenario (from FILE, or standard input) through the listening
// session on the simulated platform and prints the transcript, or with --text the timeline.
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "parent/exit_status.h"
#include "platform/streams.h"
#include "sim/scenario.h"
#include "sim/simulator.h"
#include "sim/timeline.h"
#include "json/input.h"

namespace {

using namespace qk;

int fail(const std::string& what, int status) {
    std::fprintf(stderr, "qkscan-sim: %s\n", what.c_str());
    return status;
}

// Reads the scenario document from `path`, or standard input if it is null. 0, or the exit status.
int readInput(const char* path, std::string& json) {
    std::FILE* file = path ? std::fopen(path, "rb") : stdin;
    if (!file) return fail(std::string("cannot open ") + path, noInput);
    const ReadResult result = readAll(file, json);
    if (file != stdin) std::fclose(file);
    switch (result) {
    case ReadResult::ok:
        return 0;
    case ReadResult::readError:
        return fail("cannot read the scenario", noInput);
    case ReadResult::tooLarge:
        return fail("input larger than " + std::to_string(maxInputBytes) + " bytes", dataError);
    case ReadResult::noMemory:
        return fail("out of memory reading the scenario", ioError);
    }
    return 0;
}

int run(const char* path, bool text) {
    std::string json;
    if (const int status = readInput(path, json)) return status;
    Scenario scenario;
    std::string error;
    if (!readScenario(json, scenario, error)) return fail("scenario: " + error, dataError);
    std::string out;
    try {
        const std::vector<Entry> transcript = simulate(scenario);
        if (text) {
            out = formatTimeline(scenario, transcript);
        } else {
            for (const Entry& entry : transcript)
                appendEntry(out, entry);
        }
    } catch (const SimulationError& problem) {
        return fail(problem.what(), softwareError);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    // A transcript that did not reach its reader is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail("cannot write the transcript to standard output", ioError);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    platform::prepareStandardStreams();
    const bool text = argc > 1 && std::string_view(argv[1]) == "--text";
    const int first = text ? 2 : 1; // the FILE argument, if any
    if (argc > first + 1 || (argc == first + 1 && argv[first][0] == '-')) {
        std::fputs("usage: qkscan-sim [--text] [FILE]\n", stderr);
        return usageError;
    }
    try {
        return run(argc == first + 1 ? argv[first] : nullptr, text);
    } catch (const std::bad_alloc&) {
        return fail("out of memory", ioError);
    }
}
