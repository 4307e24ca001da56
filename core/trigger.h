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
    KeyCode key;
    std::string_view name;
};

// The key codes of one host's input events for the keys that can type the trigger: one row per
// distinct letter of the barcode, and the two Enter keys.
struct KeyTable {
    std::array<Letter, 7> letters;
    KeyCode enter;
    KeyCode keypadEnter;
};

// macOS: ANSI virtual key codes (kVK_ANSI_*), key positions on a US keyboard.
inline constexpr KeyTable macKeys{
    {{
        {12, "Q"},
        {40, "K"},
        {2, "D"},
        {0, "A"},
        {17, "T"},
        {32, "U"},
        {46, "M"},
    }},
    36, // kVK_Return
    76, // kVK_ANSI_KeypadEnter
};

// Windows: virtual-key codes, which for letters are their upper-case ASCII codes. The keypad's
// Enter is VK_RETURN too (only its extended flag tells it apart).
inline constexpr KeyTable windowsKeys{
    {{
        {0x51, "Q"},
        {0x4B, "K"},
        {0x44, "D"},
        {0x41, "A"},
        {0x54, "T"},
        {0x55, "U"},
        {0x4D, "M"},
    }},
    0x0D, // VK_RETURN
    0x0D, // VK_RETURN, extended
};

inline constexpr std::string_view enterName = "ENTER";
inline constexpr std::string_view otherName = "OTHER";

// Names the key of a key-down for the matcher, by the key codes of `table`. The name depends on
// the key code alone, so Shift and Caps Lock do not change it.
constexpr std::string_view keyName(KeyCode key, const KeyTable& table) {
    if (key == table.enter || key == table.keypadEnter) return enterName;
    for (const Letter& letter : table.letters)
        if (letter.key == key) return letter.name;
    return otherName;
}

} // namespace qk
