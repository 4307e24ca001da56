// What a failing randomized run leaves behind: the seed, the broken promises, and the smallest
// scenario that still breaks the first of them, in the simulator's format so that qkscan-sim can
// replay it and it can be kept among the regression scenarios.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "tests/random/session_invariants.h"

namespace qk::soak {

// Simulates `scenario` and checks every promise on its transcript.
std::vector<Violation> runAndCheck(const Scenario& scenario, Tally* tally = nullptr);

// Removes steps from `failing` for as long as the run still breaks `invariant`, chunks first and
// then single steps, and returns the smallest scenario found.
Scenario shrink(const Scenario& failing, int invariant);

// The report for seed `seed`: its violations, then the shrunk scenario with the violations it
// still shows. The scenario is also written to random-failure-SEED.json in the working directory.
std::string failureReport(std::uint64_t seed, const Scenario& scenario,
                          const std::vector<Violation>& violations);

} // namespace qk::soak
