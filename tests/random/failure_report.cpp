#include "tests/random/failure_report.h"

#include <algorithm>
#include <fstream>

#include "sim/simulator.h"
#include "tests/random/session_generator.h"

namespace qk::soak {

std::vector<Violation> runAndCheck(const Scenario& scenario, Tally* tally) {
    return checkSession(scenario, simulate(scenario), tally);
}

namespace {

// One pass over `best` removing `chunk` steps at a time; true if anything was removed.
bool removeChunks(Scenario& best, std::size_t chunk, int invariant) {
    bool removed = false;
    for (std::size_t begin = 0; begin < best.steps.size();) {
        Scenario candidate = best;
        const auto first = candidate.steps.begin() + static_cast<std::ptrdiff_t>(begin);
        const std::size_t count = std::min(chunk, candidate.steps.size() - begin);
        candidate.steps.erase(first, first + static_cast<std::ptrdiff_t>(count));
        renumber(candidate);
        if (violates(runAndCheck(candidate), invariant)) {
            best = std::move(candidate);
            removed = true;
        } else {
            begin += chunk;
        }
    }
    return removed;
}

} // namespace

Scenario shrink(const Scenario& failing, int invariant) {
    Scenario best = failing;
    renumber(best);
    std::size_t chunk = std::max<std::size_t>(1, best.steps.size() / 2);
    for (;;) {
        const bool removed = removeChunks(best, chunk, invariant);
        if (chunk == 1) {
            if (!removed) break;
        } else {
            chunk /= 2;
        }
    }
    return best;
}

std::string failureReport(std::uint64_t seed, const Scenario& scenario,
                          const std::vector<Violation>& violations) {
    std::string report = "seed " + std::to_string(seed) + " (" +
                         std::to_string(scenario.steps.size()) + " steps) breaks:\n" +
                         describe(violations);
    const int invariant = violations.front().invariant;
    const Scenario smallest = shrink(scenario, invariant);
    const std::string text = formatScenario(smallest);
    const std::string file = "random-failure-" + std::to_string(seed) + ".json";
    std::ofstream(file) << text;
    report += "smallest scenario still breaking invariant " + std::to_string(invariant) + " (" +
              std::to_string(smallest.steps.size()) + " steps, written to " + file +
              "; replay it with qkscan-sim " + file + "):\n" + describe(runAndCheck(smallest)) +
              text;
    return report;
}

} // namespace qk::soak
