// Checks what qkscan promises about a person's input against one simulated listening session: the
// scenario (what was typed, clicked and switched, and when) and the simulator's transcript (what
// the filter passed, dropped and posted, what each process received, what went to the parent).
// The checker looks only at those two; it does not ask the filter's state, so a fault anywhere on
// the way (filter, hold buffer, session, platform glue) shows up as a broken promise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/simulator.h"

namespace qk::soak {

// The promises' constants, written down here on their own rather than taken from the production
// headers, so that a wrong constant there is caught too.
inline constexpr std::int64_t marker = 89383961313614; // the bytes "QKSCAN"
inline constexpr double gap = 0.1;                     // longest pause inside a trigger
inline constexpr double tick = 0.02;                   // the stale-hold timer's interval
inline constexpr std::size_t heldAfterKeyDown = 100;   // most events held once a key-down is done

// The promises, numbered as tests/random/README.md lists them.
enum Invariant : int {
    deliveredOnceInOrder = 1,
    nothingElseLost = 2,
    withheldGoHomeMarked = 3,
    triggersRecognised = 4,
    holdsBounded = 5,
    stopReleasesAll = 6,
};

struct Violation {
    int invariant;
    std::string what;
};

// What one check saw, summed over a run for the report.
struct Tally {
    long inputs = 0;       // input events the filter handled
    long delivered = 0;    // of those, delivered to a process
    long discarded = 0;    // discarded on purpose (trigger keys, swallowed key-ups, ...)
    long triggers = 0;     // recognised triggers
    long guaranteed = 0;   // scans the recognition promise applied to
    long releases = 0;     // batches of withheld events posted back
    long lostToCopies = 0; // events lost because their copy failed
    long noFrontmost = 0;  // events of holds that began with no frontmost application
    long swallowedUps = 0; // later key-ups dropped once after a trigger
    void add(const Tally& other);
};

// Every broken promise found in `transcript`, the run of `scenario`; empty if all are kept.
std::vector<Violation> checkSession(const Scenario& scenario, const std::vector<Entry>& transcript,
                                    Tally* tally = nullptr);

bool violates(const std::vector<Violation>& violations, int invariant);

// One line per violation, each starting with its invariant's number.
std::string describe(const std::vector<Violation>& violations);

} // namespace qk::soak
