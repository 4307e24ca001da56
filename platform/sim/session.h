// The listening session's machinery in simulated time: the caller's driver plays the main loop,
// firing the timer, the stop requests and the tapped events itself.
#pragma once

#include "platform/session.h"

namespace qk::sim {

struct SessionHooks {
    // Recorded as the session sets itself up.
    platform::Work tick = nullptr;
    double tickInterval = 0;
    platform::Work stopFromInput = nullptr;     // what the standard-input watcher submits
    platform::Work stopFromSignal = nullptr;    // what SIGTERM runs once handled
    platform::Work stopFromInterrupt = nullptr; // what SIGINT runs once handled
    // Set by the driver: the main loop's body.
    void (*mainLoop)() = nullptr;
};

SessionHooks& sessionHooks();
void resetSessionHooks();

// Thrown by exitProcess to end the simulated process: it unwinds to the driver, which catches it.
struct ProcessExit {
    int status;
};

} // namespace qk::sim
