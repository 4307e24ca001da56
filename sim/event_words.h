// Input events and scenario steps in words, for the simulator's timeline.
#pragma once

#include <string>

#include "sim/scenario.h"

namespace qk {

// "Q down", "Return up", "Control+W down (repeat)", "Shift down" (a modifier change, told down or
// up by that modifier's flag), "CapsLock on", "left click", "scroll", "tap disabled (timeout)".
// Keys the key table does not name are "key 123"; " (marked)" ends an event that carries the
// helper's own marker.
std::string describeEvent(const sim::Event& event);

// A step that is no input event: "application 777 comes to the front", "the next 2 copies fail",
// "parent writes a line"...
std::string describeWorldStep(const Step& step);

// What the parent's standard input does when a scenario ends without a stop step.
inline constexpr const char* implicitStopWords = "parent closes standard input";

} // namespace qk
