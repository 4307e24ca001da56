// The rows of the simulator's timeline, laid out for an 80-column terminal: the time, a bracket
// that groups the rows of one hold, the event in words and what became of it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qk {

struct TimelineRow {
    enum class Bracket {
        none,
        open,   // the first row of a hold
        inside, // a row while a hold is open
        close,  // how the hold ended
    };
    std::optional<double> at; // seconds; none where the time cannot be told
    Bracket bracket = Bracket::none;
    std::string event;   // the event in words (on a closing row: how the hold ended)
    std::string verdict; // what became of the event
    std::string message; // a parent line's message, wrapped below the row
};

// One line per row (and per line of a wrapped message) under a heading line, each ending in "\n".
std::string layoutTimeline(const std::vector<TimelineRow>& rows);

} // namespace qk
