// Giving events back to the system: into the input stream with SendInput, or, for a window that is
// no longer in front, as messages posted to the control that had the keyboard focus.
#pragma once

#include "platform/win/event.h"

namespace qk::win {

// Enters the event into the input stream, as the keyboard or mouse would, with its dwExtraInfo.
// It passes the low-level hooks again, and goes to whatever window is in front.
void sendInput(const PlatformEvent& event);

// Posts a keyboard event to `focus`, a window of a thread that is not in front: a key-down that
// types a character as its WM_CHAR (worked out from the event's own Shift and Caps Lock, in that
// thread's keyboard layout), any other key as WM_KEYDOWN or WM_KEYUP. Modifier changes carry no
// text and are not posted (their releases go into the input stream instead; see postToProcess).
// Pointer events are never posted this way.
void postToWindow(HWND focus, const PlatformEvent& event);

} // namespace qk::win
