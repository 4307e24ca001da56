// Seeded, deterministic listening sessions for the randomized simulation: scanners at different
// speeds (clean, near the timing limit, with a wrong, missing or extra key), people typing words
// that start with Q, chords, autorepeat, clicks and scrolls, application switches, disabled taps,
// events that already carry the marker, failing copies and stops at any moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/scenario.h"

namespace qk::soak {

// xoshiro256** seeded through splitmix64. Its sequence, and everything drawn from it here, depends
// on the seed alone on every platform (the standard distributions differ between libraries).
class Rng {
public:
    explicit Rng(std::uint64_t seed);
    std::uint64_t next();
    std::uint64_t below(std::uint64_t bound); // uniform in [0, bound), bound >= 1
    bool chance(double probability);
    double uniform(double low, double high);
    template <typename T> const T& pick(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(below(items.size()))];
    }

private:
    std::uint64_t state[4];
};

struct Options {
    std::size_t events = 200; // input events to aim for (a few more come with the last action)
    bool failedCopies = true; // failCopies steps
    bool noFrontmost = true;  // no frontmost application at times
    bool stops = true;        // a stop step at a random moment (otherwise the implicit end)
};

// The session for `seed`. Input steps have their index as origin, as readScenario gives them.
Scenario generateSession(std::uint64_t seed, const Options& options = {});

// Input events that reach the tap in `scenario`: those before its first stop step.
std::size_t countInputs(const Scenario& scenario);

// Gives every input step its index as origin again, after steps were removed or inserted.
void renumber(Scenario& scenario);

} // namespace qk::soak
