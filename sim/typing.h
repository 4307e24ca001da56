// The "text" short-hand of scenarios: a string typed at a steady pace, read as the key steps that
// type it, so that everything after the reader sees ordinary steps.
#pragma once

#include <string>
#include <vector>

#include "sim/scenario.h"

namespace qk {

// The members of a step of type "text", as read.
struct Typing {
    bool requested = false; // the step's "type" is "text"
    bool haveText = false;
    bool haveInterval = false;
    std::string text;
    double interval = 0; // seconds from one character to the next
};

// Appends the input steps that type `typing.text` from time `at`: character i is pressed at
// at + i × interval and released half an interval later; a capital letter has Shift pressed just
// before it and released just after it. Letters, digits, space, tab and line break (Return) can
// be typed. Times are rounded to the microsecond (never below `at`), so that they read as written.
// Each step's origin is its index. On failure (a character that cannot be typed, a key-up past
// `maxTime`, more than `maxSteps` steps with those already in `steps`) returns false with one line
// in `error` and leaves `steps` as it was.
bool appendTyping(const Typing& typing, double at, double maxTime, std::size_t maxSteps,
                  std::vector<Step>& steps, std::string& error);

} // namespace qk
