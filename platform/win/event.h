// The Windows input event: the data a low-level hook was handed, with the seam's type, flags and
// autorepeat worked out when the hook saw it. The filter gets a pointer to one that lives on the
// hook's stack; copies are heap copies owned through OwnedEvent.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/events.h"

namespace qk {

namespace win {
// Shift and Caps Lock, carried in the flags as macOS events carry them (kCGEventFlagMaskShift,
// kCGEventFlagMaskAlphaShift). The filter looks only at Control, Option and Command; replaying to
// a window that is no longer in front needs these two to make capitals.
inline constexpr EventFlags shiftFlag = 0x20000;
inline constexpr EventFlags capsLockFlag = 0x10000;
} // namespace win

struct PlatformEvent {
    EventType type = 0;
    EventFlags flags = 0;    // the modifiers as they are with this event (after it, for a modifier)
    bool autorepeat = false; // a key-down for a key that was already down
    bool keyboard = true;    // which of the two hook structures below holds the data
    WPARAM message = 0;      // WM_KEYDOWN, WM_SYSKEYUP, WM_LBUTTONDOWN, WM_MOUSEWHEEL, ...
    KBDLLHOOKSTRUCT key{};
    MSLLHOOKSTRUCT mouse{};

    ULONG_PTR& extraInfo() { return keyboard ? key.dwExtraInfo : mouse.dwExtraInfo; }
    bool keyUp() const { return (key.flags & LLKHF_UP) != 0; }
};

} // namespace qk
