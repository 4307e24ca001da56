// Check mode and the listening session.
#pragma once

namespace qk {

// Interval of the stale-hold timer, in seconds.
inline constexpr double tickInterval = 0.02;

// Reports whether the permission is present, without prompting, and exits 0.
[[noreturn]] void runCheck();

// Sets up the tap, timer, stop paths and "ready", then runs until the parent stops it.
[[noreturn]] void runListeningSession();

} // namespace qk
