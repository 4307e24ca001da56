#include "sim/key_names.h"

#include <algorithm>
#include <array>
#include <vector>

namespace qk {

namespace {

// The virtual key codes of the macOS Carbon headers (HIToolbox Events.h): the ANSI keys named by
// their US-layout label, then the keys that are the same on every layout.
constexpr auto table = std::to_array<KeyName>({
    {0, "A"},
    {1, "S"},
    {2, "D"},
    {3, "F"},
    {4, "H"},
    {5, "G"},
    {6, "Z"},
    {7, "X"},
    {8, "C"},
    {9, "V"},
    {11, "B"},
    {12, "Q"},
    {13, "W"},
    {14, "E"},
    {15, "R"},
    {16, "Y"},
    {17, "T"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {22, "6"},
    {23, "5"},
    {24, "Equal"},
    {25, "9"},
    {26, "7"},
    {27, "Minus"},
    {28, "8"},
    {29, "0"},
    {30, "RightBracket"},
    {31, "O"},
    {32, "U"},
    {33, "LeftBracket"},
    {34, "I"},
    {35, "P"},
    {36, "Return"},
    {37, "L"},
    {38, "J"},
    {39, "Quote"},
    {40, "K"},
    {41, "Semicolon"},
    {42, "Backslash"},
    {43, "Comma"},
    {44, "Slash"},
    {45, "N"},
    {46, "M"},
    {47, "Period"},
    {48, "Tab"},
    {49, "Space"},
    {50, "Grave"},
    {51, "Delete"},
    {53, "Escape"},
    {54, "RightCommand"},
    {55, "Command"},
    {56, "Shift"},
    {57, "CapsLock"},
    {58, "Option"},
    {59, "Control"},
    {60, "RightShift"},
    {61, "RightOption"},
    {62, "RightControl"},
    {63, "Function"},
    {64, "F17"},
    {65, "KeypadDecimal"},
    {67, "KeypadMultiply"},
    {69, "KeypadPlus"},
    {71, "KeypadClear"},
    {72, "VolumeUp"},
    {73, "VolumeDown"},
    {74, "Mute"},
    {75, "KeypadDivide"},
    {76, "KeypadEnter"},
    {78, "KeypadMinus"},
    {79, "F18"},
    {80, "F19"},
    {81, "KeypadEquals"},
    {82, "Keypad0"},
    {83, "Keypad1"},
    {84, "Keypad2"},
    {85, "Keypad3"},
    {86, "Keypad4"},
    {87, "Keypad5"},
    {88, "Keypad6"},
    {89, "Keypad7"},
    {90, "F20"},
    {91, "Keypad8"},
    {92, "Keypad9"},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {99, "F3"},
    {100, "F8"},
    {101, "F9"},
    {103, "F11"},
    {105, "F13"},
    {106, "F16"},
    {107, "F14"},
    {109, "F10"},
    {111, "F12"},
    {113, "F15"},
    {114, "Help"},
    {115, "Home"},
    {116, "PageUp"},
    {117, "ForwardDelete"},
    {118, "F4"},
    {119, "End"},
    {120, "F2"},
    {121, "PageDown"},
    {122, "F1"},
    {123, "LeftArrow"},
    {124, "RightArrow"},
    {125, "DownArrow"},
    {126, "UpArrow"},
});

struct Modifier {
    KeyCode code;
    EventFlags flag;
};

// Event flags of the modifier keys: Caps Lock 0x10000 (kCGEventFlagMaskAlphaShift), Shift
// 0x20000, Control 0x40000, Option 0x80000, Command 0x100000 and Function 0x800000
// (kCGEventFlagMaskSecondaryFn); the right-hand keys share the flags of the left-hand ones.
constexpr auto modifiers = std::to_array<Modifier>({
    {capsLockKey, 0x10000},
    {shiftKey, shiftFlag},
    {60, shiftFlag},
    {59, flags::control},
    {62, flags::control},
    {58, flags::option},
    {61, flags::option},
    {55, flags::command},
    {54, flags::command},
    {63, 0x800000},
});

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, {}, lower, lower);
}

} // namespace

std::span<const KeyName> keyNames() {
    return table;
}

std::optional<KeyCode> keyCodeOf(std::string_view name) {
    for (const KeyName& key : table)
        if (key.name == name) return key.code;
    return std::nullopt;
}

std::string_view keyNameIgnoringCase(std::string_view name) {
    for (const KeyName& key : table)
        if (equalIgnoringCase(key.name, name)) return key.name;
    return {};
}

namespace {

// What other systems and keyboards call the keys the Mac names otherwise.
struct Synonym {
    std::string_view other;
    std::string_view name;
};
constexpr auto synonyms = std::to_array<Synonym>({
    {"Enter", "Return"},
    {"Esc", "Escape"},
    {"Backspace", "Delete"},
    {"Ctrl", "Control"},
    {"Alt", "Option"},
    {"Cmd", "Command"},
    {"Meta", "Command"},
    {"Fn", "Function"},
    {"Spacebar", "Space"},
    {"Up", "UpArrow"},
    {"Down", "DownArrow"},
    {"Left", "LeftArrow"},
    {"Right", "RightArrow"},
    {"PgUp", "PageUp"},
    {"PgDn", "PageDown"},
    {"NumpadEnter", "KeypadEnter"},
});

// Letters to insert, delete or change to turn `a` into `b`, ignoring case; counting stops past
// `limit`, which is then returned plus one.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
    std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change =
                previous[j - 1] + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1);
            current[j] = std::min({change, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return std::min(previous[b.size()], limit + 1);
}

} // namespace

std::string_view keyNameMeant(std::string_view name) {
    for (const Synonym& synonym : synonyms)
        if (equalIgnoringCase(synonym.other, name)) return synonym.name;
    // Short names are too close to too many others for a guess to help.
    if (name.size() < 4) return {};
    std::string_view best;
    std::size_t bestDistance = 3;
    for (const KeyName& key : table) {
        const std::size_t distance = editDistance(name, key.name, 2);
        if (distance < bestDistance) {
            best = key.name;
            bestDistance = distance;
        }
    }
    return best;
}

std::string_view nameOfKey(KeyCode code) {
    for (const KeyName& key : table)
        if (key.code == code) return key.name;
    return {};
}

EventFlags modifierFlag(KeyCode code) {
    for (const Modifier& modifier : modifiers)
        if (modifier.code == code) return modifier.flag;
    return 0;
}

EventFlags flagNamed(std::string_view name) {
    // The left-hand keys' names; the right-hand keys share their flags.
    for (const std::string_view modifier :
         {"CapsLock", "Shift", "Control", "Option", "Command", "Function"})
        if (name == modifier) return modifierFlag(*keyCodeOf(name));
    return 0;
}

} // namespace qk
