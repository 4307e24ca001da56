// The simulator's timeline (qkscan-sim --text) over many seeded sessions of realistic and hostile
// input: every transcript entry finds its place in the walk, holds are bracketed properly, every
// dropped event's fate is told, and the lines fit an 80-column terminal.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sim/simulator.h"
#include "sim/timeline.h"
#include "tests/random/session_generator.h"

namespace qk::soak {
namespace {

std::size_t columns(const std::string& line) {
    std::size_t count = 0;
    for (const char c : line)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

bool has(const std::string& line, const char* text) {
    return line.find(text) != std::string::npos;
}

// What is wrong with `timeline`, the run of a session that printed "dispatch-date" `dispatches`
// times; empty if nothing.
std::string problemIn(const std::string& timeline, long dispatches) {
    std::istringstream lines(timeline);
    bool open = false;
    long recognised = 0, told = 0;
    for (std::string line; std::getline(lines, line);) {
        if (columns(line) > 80) return "a line is wider than 80 columns: " + line;
        if (has(line, "copy of step")) return "an entry the walk could not place: " + line;
        if (line.ends_with("  dropped") || has(line, "ended, nothing to replay"))
            return "an event's fate is not told: " + line;
        if (has(line, "┌ ")) {
            if (open) return "a hold opens inside another: " + line;
            open = true;
        } else if (has(line, "│ ") && !open) {
            return "a row inside no hold: " + line;
        } else if (has(line, "└ ")) {
            if (!open) return "a hold closes that was not open: " + line;
            open = false;
            recognised += has(line, "trigger recognised");
        }
        told += has(line, "parent gets \"dispatch-date\"");
    }
    if (open) return "a hold is still open at the end";
    if (recognised != dispatches || told != dispatches)
        return "dispatch-date printed " + std::to_string(dispatches) + " times, " +
               std::to_string(recognised) + " triggers recognised, " + std::to_string(told) +
               " parent lines";
    return "";
}

TEST(RandomSessions, TimelinesPlaceEveryEntry) {
    int failures = 0;
    for (std::uint64_t seed = 1; seed <= 2000 && failures < 3; ++seed) {
        const Scenario scenario = generateSession(seed);
        const std::vector<Entry> transcript = simulate(scenario);
        long dispatches = 0;
        for (const Entry& entry : transcript)
            dispatches += entry.kind == Entry::Kind::out && has(entry.text, "dispatch-date");
        const std::string timeline = formatTimeline(scenario, transcript);
        const std::string problem = problemIn(timeline, dispatches);
        if (problem.empty()) continue;
        ++failures;
        ADD_FAILURE() << "seed " << seed << ": " << problem << "\n" << timeline;
    }
}

} // namespace
} // namespace qk::soak
