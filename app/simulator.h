// The session simulator: runs the real listening session on the simulated platform in virtual
// time, from a scenario, and records what happens.
#pragma once

#include <vector>

#include "app/scenario.h"
#include "app/transcript.h"

namespace qk {

// Runs `scenario` and returns its transcript, the exit line last.
std::vector<Entry> simulate(const Scenario& scenario);

} // namespace qk
