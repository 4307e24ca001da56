// qkscan-sim [FILE]: runs a scenario (from FILE, or standard input) through the listening session
// on the simulated platform and prints the transcript.
#include <cstdio>
#include <string>

#include "app/json_input.h"
#include "app/scenario.h"
#include "app/self_test.h"
#include "app/simulator.h"
#include "app/standard_fds.h"

int main(int argc, char** argv) {
    using namespace qk;
    openClosedStandardDescriptors();
    constexpr int noInput = 66; // EX_NOINPUT
    constexpr int usage = 64;   // EX_USAGE
    if (argc > 2) {
        std::fputs("usage: qkscan-sim [FILE]\n", stderr);
        return usage;
    }
    std::FILE* file = argc == 2 ? std::fopen(argv[1], "rb") : stdin;
    if (!file) {
        std::fprintf(stderr, "qkscan-sim: cannot open %s\n", argv[1]);
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
    for (const Entry& entry : simulate(scenario))
        appendEntry(out, entry);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
