// The session simulator: runs the real listening session on the simulated platform in virtual
// time, from a scenario, and records what happens.
#pragma once

#include <stdexcept>
#include <vector>

#include "sim/scenario.h"
#include "sim/transcript.h"

namespace qk {

// A run that cannot be finished truthfully: the session kept posting events into the hardware
// stream, more than it could ever have withheld. Only a faulty filter does that, and the run would
// otherwise never end.
struct SimulationError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs `scenario` and returns its transcript, the exit line last. Throws SimulationError as above.
std::vector<Entry> simulate(const Scenario& scenario);

} // namespace qk
