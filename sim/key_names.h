// Names of the macOS virtual key codes, as scenarios may write them instead of numbers and as the
// simulator's timeline shows them. One table serves both directions.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/trigger.h"
#include "platform/events.h"

namespace qk {

struct KeyName {
    KeyCode code;
    std::string_view name;
};

// Every named key, in key-code order. The names are those of the system's kVK_* constants without
// the prefix and without "ANSI_": "A"..."Z", "0"..."9", "Return", "KeypadEnter", "Shift"...
std::span<const KeyName> keyNames();

// The key code of `name`, which must match a table name exactly (names are case-sensitive).
std::optional<KeyCode> keyCodeOf(std::string_view name);

// The table name that equals `name` but for the case of ASCII letters, or empty: for a hint when
// a name is not found.
std::string_view keyNameIgnoringCase(std::string_view name);

// The table name someone who wrote `name` most likely meant, or empty: the Mac's name for a key
// other systems name otherwise ("Enter", "Esc", "Backspace", "Alt"...), or a name one or two
// letters away from it ("Retrun"), whatever the case.
std::string_view keyNameMeant(std::string_view name);

// The name of `code`, or empty for a code the table does not name.
std::string_view nameOfKey(KeyCode code);

// The event flag (kCGEventFlagMask*) that is set in a modifier key's flagsChanged event while the
// key is down, or for Caps Lock while the lock is on; 0 for a key that is no modifier.
EventFlags modifierFlag(KeyCode code);

// The event flag named by a modifier key's name: "CapsLock", "Shift", "Control", "Option",
// "Command" or "Function"; 0 for any other name.
EventFlags flagNamed(std::string_view name);

// Those names, in the order of their flags, for messages.
inline constexpr std::string_view flagNames = "CapsLock, Shift, Control, Option, Command, Function";

inline constexpr EventFlags shiftFlag = 0x20000; // kCGEventFlagMaskShift
inline constexpr KeyCode shiftKey = 56;          // kVK_Shift
inline constexpr KeyCode capsLockKey = 57;       // kVK_CapsLock

} // namespace qk
