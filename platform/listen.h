// Listening to the keyboard without the power to change it: the Input Monitoring permission and a
// listen-only event tap. A listen-only tap sees events but can neither drop, alter nor post them,
// so it cannot disturb anyone's typing. One implementation per host: macOS, and a simulated one
// for tests. The tap is attached and re-enabled with attachTap and enableTap of events.h.
#pragma once

#include <cstdint>

#include "platform/events.h"

namespace qk::platform {

// True if this process may listen to keyboard input (Input Monitoring); never prompts.
bool listenAccess();
// The same answer; the system may first ask the user (only the first time it is asked).
bool requestListenAccess();

// A listen-only session tap for the event types in `mask` (bit t for type t), calling `callback`
// on the thread whose run loop it is attached to, also for the tap-disabled notifications. The
// callback's verdict is ignored: every event continues unchanged. nullptr if not allowed.
// `granted` receives the event types the tap really gets, as with createTap.
TapRef createListenTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted);

} // namespace qk::platform
