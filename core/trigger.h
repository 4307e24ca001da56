// The trigger code, its timing limit and the names of the keys that can type it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qk {

using KeyCode = std::int64_t;

// The barcode that acts as a command when a scanner types it followed by Enter.
inline constexpr std::string_view barcode = "QKDATUM";

// Largest interval, in seconds, between the last accepted key and the next key of one trigger.
// Scanners type each key within a few milliseconds; people rarely manage 0.1 s per key.
inline constexpr double gap = 0.1;

struct Letter {
    KeyCode key; // macOS ANSI virtual key code (kVK_ANSI_*): a key position on a US keyboard
    std::string_view name;
};

// One row per distinct letter of the barcode.
inline constexpr std::array<Letter, 7> letters{{
    {12, "Q"},
    {40, "K"},
    {2, "D"},
    {0, "A"},
    {17, "T"},
    {32, "U"},
    {46, "M"},
}};

inline constexpr KeyCode returnKey = 36;      // kVK_Return
inline constexpr KeyCode keypadEnterKey = 76; // kVK_ANSI_KeypadEnter

inline constexpr std::string_view enterName = "ENTER";
inline constexpr std::string_view otherName = "OTHER";

// Names the key of a key-down for the matcher. The name depends on the key code alone, so Shift
// and Caps Lock do not change it.
constexpr std::string_view keyName(KeyCode key) {
    if (key == returnKey || key == keypadEnterKey) return enterName;
    for (const Letter& letter : letters)
        if (letter.key == key) return letter.name;
    return otherName;
}

} // namespace qk
