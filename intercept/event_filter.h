// The event filter: the tap callback that sees every keystroke and click of the session before any
// application does, and passes, withholds, swallows or replays it. Main thread only.
#pragma once

#include <cstddef>

#include "platform/events.h"

namespace qk {

// The event tap, absent until the listening session stores the one it created.
extern TapRef tap;

// The event types the tap listens to, as a mask with bit t set for type t.
inline constexpr std::uint64_t mask =
    (1ULL << types::leftMouseDown) | (1ULL << types::rightMouseDown) | (1ULL << types::keyDown) |
    (1ULL << types::keyUp) | (1ULL << types::flagsChanged) | (1ULL << types::scrollWheel) |
    (1ULL << types::otherMouseDown);

// The keyboard's event types in `mask`: without them the tap is of no use. The system may create a
// tap without them for a process that may not tap the keyboard, since the pointer's events need
// no permission.
inline constexpr std::uint64_t keyboardMask =
    (1ULL << types::keyDown) | (1ULL << types::keyUp) | (1ULL << types::flagsChanged);

// Control, Option and Command: chords with them are commands, never part of a scan.
inline constexpr EventFlags commandModifiers = flags::control | flags::option | flags::command;

// A hold that reaches this many events after a key-down is released: no scan is that long.
inline constexpr std::size_t holdLimit = 101;

// Decides what happens to one tapped event. When the system has turned the tap off and the
// process may no longer tap or post input, it ends the process instead (exit status 2).
Verdict callback(EventType type, EventRef event);

} // namespace qk
