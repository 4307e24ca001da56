// Reading the members of a scenario one typed value at a time, with one error line that says which
// member is wrong and where.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "platform/events.h"
#include "json/input.h"

namespace qk::scenario {

// Virtual time stays within about 31 years of uptime, where the timer's tick times are exact.
inline constexpr double maxTime = 1e9;

// The most steps a scenario may have, typed ones counted: as many as the largest document could
// hold written out, in the shortest step there is ({"at":0,"stop":"eof"} and a comma), so only
// the typing short-hand can reach it. It keeps the simulator's memory and time within what the
// size limit allows a scenario written in full.
inline constexpr std::size_t maxSteps = maxInputBytes / 22;

inline constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
inline constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
inline constexpr auto pidMax = std::numeric_limits<Pid>::max();

// Collects the first problem found, prefixed with where it was found. `set` returns false, so that
// a reader can fail with `return problem.set(...)`; for the reader's own out-of-memory error it
// throws std::bad_alloc instead.
struct Problem {
    std::string where;
    std::string text;
    bool set(std::string_view what);
    bool set(std::string_view what, simdjson::error_code code);
};

// The member name `name` as JSON writes it, followed by `what`, for error messages: escaped, so
// that a name holding a line break cannot split the one error line.
std::string quoted(std::string_view name, std::string_view what);

// The members of one object read so far, so that a member given twice is refused rather than one
// of the two silently winning. Comments ("note") may repeat.
class Members {
public:
    // False if `name` was seen before.
    bool first(std::string_view name);

private:
    std::vector<std::string> seen;
};

// Reads the next member's name and value, refusing a name `members` has seen (but "note").
bool readMember(simdjson::simdjson_result<simdjson::ondemand::field>& field, Members& members,
                std::string_view& name, simdjson::ondemand::value& value, Problem& problem);
// Each reads one value into `out`, or returns false with the problem set.
bool readInteger(simdjson::ondemand::value value, std::string_view name, std::int64_t low,
                 std::int64_t high, std::int64_t& out, Problem& problem);
bool readBool(simdjson::ondemand::value value, std::string_view name, bool& out, Problem& problem);
// A key code, or a key name from the table in key_names.cpp.
bool readKey(simdjson::ondemand::value value, std::int64_t& out, Problem& problem);
// Event flags: a number, a modifier's name ("Shift"), or a list of such names.
bool readFlags(simdjson::ondemand::value value, EventFlags& out, Problem& problem);

} // namespace qk::scenario
