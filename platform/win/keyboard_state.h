// What the hooks know about the keyboard, kept from the events they see: which keys are down, and
// so which modifiers are held and which key-downs are autorepeats. The system's own key state is
// of no use here: inside a low-level hook it is not yet updated for the event at hand, and keys
// the helper withholds never update it at all.
#pragma once

#include <bitset>

#include "platform/win/event.h"

namespace qk::win {

class KeyboardState {
public:
    // Takes in a key event the hook sees (the helper's own posts included, so that the state
    // stays true) and tells whether it is a key-down for a key already down.
    bool note(DWORD virtualKey, bool up);
    // Control, Option (Alt), Command (the Windows keys), Shift and Caps Lock as they are now.
    EventFlags flags() const;
    void setCapsLock(bool on) { capsLock = on; }

private:
    bool isDown(DWORD virtualKey) const { return down.test(virtualKey & 0xFF); }
    std::bitset<256> down;
    bool capsLock = false;
};

// Shift, Ctrl, Alt and the Windows keys: their events are modifier changes for the filter.
bool isModifierKey(DWORD virtualKey);

// The event for a keyboard hook's data; notes it in `state`.
PlatformEvent keyboardEvent(WPARAM message, const KBDLLHOOKSTRUCT& data, KeyboardState& state);

// The event for a mouse hook's data, if the filter is to see it: button-downs and wheel turns.
// Moves and button-ups give false and pass untouched.
bool mouseEvent(WPARAM message, const MSLLHOOKSTRUCT& data, const KeyboardState& state,
                PlatformEvent& event);

} // namespace qk::win
