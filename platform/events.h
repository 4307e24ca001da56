// The input-event services the interception logic calls: trust, the event tap, event fields,
// copying and posting events, the frontmost process and the clock. One implementation per host is
// linked in: macOS (Quartz Event Services), a simulated one for tests and the simulator, and one
// for hosts without an input-event service.
#pragma once

#include <cstdint>
#include <memory>

#include "core/trigger.h"

namespace qk {

using EventType = std::uint32_t;
using EventFlags = std::uint64_t;
using Pid = std::int32_t; // 0 stands for no process

// An input event of the platform. The handle handed to the filter belongs to the platform; copies
// are owned through OwnedEvent.
struct PlatformEvent;
using EventRef = PlatformEvent*;

// The event tap and its run-loop source.
struct PlatformTap;
using TapRef = PlatformTap*;
struct PlatformSource;
using SourceRef = PlatformSource*;

enum class Verdict : bool {
    drop = false, // the event is discarded
    pass = true,  // the event continues to its destination unchanged
};

// The filter the tap calls for every tapped event and for the tap-disabled notifications.
using TapCallback = Verdict (*)(EventType type, EventRef event);

// Event types (the platform's numeric values).
namespace types {
inline constexpr EventType leftMouseDown = 1;
inline constexpr EventType rightMouseDown = 3;
inline constexpr EventType keyDown = 10;
inline constexpr EventType keyUp = 11;
inline constexpr EventType flagsChanged = 12;
inline constexpr EventType scrollWheel = 22;
inline constexpr EventType otherMouseDown = 25;
inline constexpr EventType tapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr EventType tapDisabledByUserInput = 0xFFFFFFFF;
} // namespace types

// Integer event fields.
namespace fields {
inline constexpr std::uint32_t autorepeat = 8;      // kCGKeyboardEventAutorepeat
inline constexpr std::uint32_t keyCode = 9;         // kCGKeyboardEventKeycode
inline constexpr std::uint32_t sourceUserData = 42; // kCGEventSourceUserData
} // namespace fields

// Event flags.
namespace flags {
inline constexpr EventFlags control = 0x40000;
inline constexpr EventFlags option = 0x80000;
inline constexpr EventFlags command = 0x100000;
} // namespace flags

namespace platform {

// The key codes of this host's events for the keys that can type the trigger.
const KeyTable& keyTable();

// True if this process may tap input; never prompts.
bool trusted();
// The same answer; the system may show the user its permission prompt.
bool trustedWithPrompt();
// True while this process may still both tap input and post events (the replays post); never
// prompts. Asked when the system has turned the tap off, as it does when a permission is taken
// away while the tap runs.
bool tapPermitted();

// Sets up what the tap's callback reads besides the event: the frontmost process and the clock.
// Their first reads can be slow (on macOS they start NSWorkspace and NSProcessInfo). Called
// before the tap is created, so that this never happens inside the callback, where it would hold
// up every event behind it.
void prepareEventServices();

// An active session-level tap inserted at the head, for the event types in `mask` (bit t for type
// t), calling `callback` on the thread whose run loop it is attached to; nullptr if not allowed.
// `granted` receives the event types the tap really gets: the system may leave out those this
// process may not tap and still make the tap for the rest (on macOS it does so with the keyboard's
// events, while the pointer's need no permission).
TapRef createTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted);
// Enables (again) a tap, so that callbacks resume.
void enableTap(TapRef tap);
// Attaches the tap to the main run loop in its common modes and returns the run-loop source.
SourceRef attachTap(TapRef tap);
// Gives up a tap for good: it sees no more events, and its run-loop source goes with it.
void removeTap(TapRef tap);

std::int64_t readField(EventRef event, std::uint32_t field); // 0 if never set
void writeField(EventRef event, std::uint32_t field, std::int64_t value);
EventFlags eventFlags(EventRef event);
EventType eventType(EventRef event);

// An independent copy owned by the caller, or nullptr if none could be made.
EventRef copyEvent(EventRef event);
void releaseEvent(EventRef event);

// Delivers to process `pid`, in posting order; does not pass through the session's taps.
void postToProcess(Pid pid, EventRef event);
// Enters the input stream as from the hardware, in posting order; passes the session's taps again.
void postToHID(EventRef event);

// The frontmost application's process id, or 0 when there is none.
Pid frontmostProcess();
// Seconds since system start.
double uptime();

} // namespace platform

// An event copy owned by its holder and released when the holder lets go of it.
struct EventReleaser {
    void operator()(EventRef event) const { platform::releaseEvent(event); }
};
using OwnedEvent = std::unique_ptr<PlatformEvent, EventReleaser>;

inline OwnedEvent copyEvent(EventRef event) {
    return OwnedEvent(platform::copyEvent(event));
}

} // namespace qk
