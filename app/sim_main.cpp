// qkscan-sim [--text] [FILE]: runs a scenario (from FILE, or standard input) through the listening
// session on the simulated platform and prints the transcript, or with --text the timeline.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/json_input.h"
#include "app/scenario.h"
#include "app/self_test.h"
#include "app/simulator.h"
#include "app/standard_fds.h"
#include "app/timeline.h"

int main(int argc, char** argv) {
    using namespace qk;
    openClosedStandardDescriptors();
    constexpr int noInput = 66; // EX_NOINPUT
    constexpr int usage = 64;   // EX_USAGE
    const bool text = argc > 1 && std::string_view(argv[1]) == "--text";
    const int first = text ? 2 : 1; // the FILE argument, if any
    if (argc > first + 1 || (argc == first + 1 && argv[first][0] == '-')) {
        std::fputs("usage: qkscan-sim [--text] [FILE]\n", stderr);
        return usage;
    }
    std::FILE* file = argc == first + 1 ? std::fopen(argv[first], "rb") : stdin;
    if (!file) {
        std::fprintf(stderr, "qkscan-sim: cannot open %s\n", argv[first]);
        return noInput;
    }
    std::string json;
    const bool read = readAll(file, json);
    if (file != stdin) std::fclose(file);
    if (!read) {
        std::fputs("qkscan-sim: cannot read the scenario\n", stderr);
        return noInput;
    }
    Scenario scenario;
    std::string error;
    if (!readScenario(json, scenario, error)) {
        std::fprintf(stderr, "qkscan-sim: scenario: %s\n", error.c_str());
        return dataError;
    }
    std::string out;
    const std::vector<Entry> transcript = simulate(scenario);
    if (text) {
        out = formatTimeline(scenario, transcript);
    } else {
        for (const Entry& entry : transcript)
            appendEntry(out, entry);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
