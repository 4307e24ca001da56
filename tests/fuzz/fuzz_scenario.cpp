// Fuzzes the simulator's scenario reader (and the one-step reader of input channels): malformed
// input gives one error line; a scenario that reads writes out to a document that reads back as
// the same scenario.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/scenario.h"

namespace {

void require(bool condition, const char* what, const std::string& detail = {}) {
    if (condition) return;
    std::fprintf(stderr, "scenario reader contract broken: %s\n%s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string json = input;
    std::string error;
    qk::Step step;
    if (!qk::readStep(json, step, error))
        require(!error.empty() && error.find('\n') == std::string::npos,
                "a step error is not one line", error);

    json = input;
    qk::Scenario scenario;
    if (!qk::readScenario(json, scenario, error)) {
        require(!error.empty() && error.find('\n') == std::string::npos,
                "a scenario error is not one line", error);
        return 0;
    }
    std::string text = qk::formatScenario(scenario);
    const std::string written = text;
    qk::Scenario again;
    require(qk::readScenario(text, again, error), "a written scenario does not read back",
            written + error);
    require(qk::formatScenario(again) == written, "a scenario changes when read back", written);
    return 0;
}
