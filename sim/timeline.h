// A simulated session as a timeline for people: each input event in words with what became of
// it (passed to a process, withheld, swallowed, dropped), the rows of each hold bracketed from its
// first withheld event to how it ended (replayed, re-posted through the hardware stream, or
// recognised as the trigger), the parent's lines and the exit status, in the order they happened.
#pragma once

#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/transcript.h"

namespace qk {

// The timeline of `transcript`, the run of `scenario`, laid out for an 80-column terminal. It is
// read off the two: what the filter held and why is inferred from what it later posted.
std::string formatTimeline(const Scenario& scenario, const std::vector<Entry>& transcript);

} // namespace qk
