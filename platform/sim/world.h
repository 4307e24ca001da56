// The simulated input-event services: plain, deterministic C++ that the tests, the benchmarks and
// the simulator run on every host. Events are values; the caller sets the clock, the frontmost
// process, the trust answers and what a tap is allowed, makes copies fail on demand, and reads
// every post in order.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/events.h"

namespace qk {

// A simulated event is a value holding the fields the helper uses.
struct PlatformEvent {
    EventType type = 0;
    std::int64_t key = 0; // key code field
    EventFlags flags = 0;
    std::int64_t autorepeat = 0; // autorepeat field
    std::int64_t userData = 0;   // source user-data field
    std::int64_t origin = -1;    // which input this is, or was copied from (not an event field)
};

namespace sim {

using Event = PlatformEvent;

enum class PostKind {
    process, // posted to one process
    hid,     // posted into the hardware input stream
};

struct Post {
    PostKind kind;
    Pid pid; // 0 for posts into the hardware stream
    Event event;
};

struct World {
    // Set by the caller.
    bool trusted = true;                   // the answer of the trust checks and of tapPermitted
    bool tapAllowed = true;                // whether createTap returns a tap
    bool tapKeysAllowed = true;            // whether a tap gets key-downs and key-ups (see granted)
    bool sourceAllowed = true;             // whether attachTap makes a run-loop source
    Pid frontmost = 501;                   // 0: no frontmost application
    double now = 0;                        // the uptime clock
    int failCopies = 0;                    // the next this-many copies fail
    void (*onPost)(const Post&) = nullptr; // called after each post is recorded
    void (*onAttach)() = nullptr;          // called when the tap is attached to the main loop

    // Recorded by the services.
    std::vector<Post> posts;
    int plainTrustChecks = 0;
    int promptingTrustChecks = 0;
    int permissionChecks = 0;       // calls of tapPermitted
    int preparations = 0;           // calls of prepareEventServices
    bool preparedBeforeTap = false; // prepareEventServices came before the tap was created
    TapCallback callback = nullptr; // the created tap's callback
    std::uint64_t tapMask = 0;      // the event types the tap was asked for
    int tapEnables = 0;
    bool tapAttached = false;
    bool tapRemoved = false;
    long liveCopies = 0; // copies made and not yet released
};

// The one simulated world; resetWorld() starts a new one.
World& world();
void resetWorld();

// A handle for an event value, as the platform hands one to the tap callback.
inline EventRef ref(Event& event) {
    return &event;
}

// Hands `event` to the tap's callback as the platform would.
Verdict deliver(Event& event);

// The event types a tap asked for `mask` gets: all of them, or, without `tapKeysAllowed`, all but
// key-downs and key-ups, as macOS clears those for a process that may not tap the keyboard.
std::uint64_t granted(std::uint64_t mask);

// Records the creation of the world's one tap (active or listen-only) and answers as macOS does:
// nullptr if taps are not allowed or nothing asked for is granted.
TapRef makeTap(std::uint64_t mask, TapCallback callback, std::uint64_t& grantedMask, TapRef token);

} // namespace sim
} // namespace qk
