// The simulated Input Monitoring permission. The listen-only tap itself is the simulated world's
// one tap (world.h): createListenTap obeys `tapAllowed` and `tapKeysAllowed`, records the callback
// and mask there, and sim::deliver hands it events.
#pragma once

namespace qk::sim {

struct ListenAccess {
    // Set by the caller.
    bool allowed = true;          // the answer of the check that never prompts
    bool grantedOnRequest = true; // the answer of the request when `allowed` is false
    // Recorded.
    int checks = 0;
    int requests = 0;
    bool listenOnlyTap = false; // the tap was created as a listen-only one
};

ListenAccess& listenAccess();
void resetListenAccess();

} // namespace qk::sim
