// Scenarios for the session simulator: the recorded input of a listening session, in virtual time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/world.h"

namespace qk {

enum class StopKind {
    line,    // the parent writes a line to standard input
    eof,     // the parent closes standard input
    sigterm, // the parent sends SIGTERM
};

struct Step {
    enum class Kind {
        input,      // an input event reaches the tap
        frontmost,  // another process comes to the front (0: none)
        failCopies, // the next `count` event copies fail
        trusted,    // the permissions are taken away or given back (`trusted`)
        stop,       // the parent asks the helper to stop
    };
    double at = 0; // seconds since start-up
    Kind kind = Kind::input;
    sim::Event event;    // input
    Pid pid = 0;         // frontmost
    int count = 0;       // failCopies
    bool trusted = true; // trusted
    StopKind stop = StopKind::eof;
};

struct Scenario {
    bool trusted = true; // the trust checks' answer at start
    bool tap = true;     // whether the tap can be created
    bool tapKeys = true; // whether the tap gets key-downs and key-ups (else only the rest)
    bool source = true;  // whether the tap gets a run-loop source
    Pid frontmost = 501; // frontmost process at start, 0 for none
    std::vector<Step> steps;
};

// Reads a scenario document. On malformed input returns false with one line (no "\n") saying what
// is wrong and where in `error`. `json` may gain capacity for the reader's padding. Throws
// std::bad_alloc when memory runs out, also inside the JSON reader.
bool readScenario(std::string& json, Scenario& scenario, std::string& error);

// Reads one step object, such as one line of an input channel; "at" may be left out there.
bool readStep(std::string& json, Step& step, std::string& error);

// Carries out a step that changes the simulated world (the frontmost process, failing copies,
// the permissions). False, doing nothing, for input events and stops.
bool changeWorld(const Step& step);

// Names of event types as scenarios write them, and back; 0 for an unknown name.
std::string_view typeName(EventType type);
EventType typeFromName(std::string_view name);

// Writes a scenario in the document format, one step per line, so that it can be read back.
std::string formatScenario(const Scenario& scenario);

} // namespace qk
