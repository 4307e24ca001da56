#include "tests/mac/live/input.h"

#import <ApplicationServices/ApplicationServices.h>

#include <memory>
#include <optional>
#include <type_traits>
#include <unistd.h>

#include "sim/key_names.h"
#include "tests/mac/live/child.h"

namespace qk::live {

namespace {

struct Releaser {
    void operator()(CGEventRef event) const { CFRelease(event); }
};
using Event = std::unique_ptr<std::remove_pointer_t<CGEventRef>, Releaser>;

// Every event comes from one source that keeps the HID system's state, as a keyboard's do.
CGEventSourceRef source() {
    static const CGEventSourceRef shared = CGEventSourceCreate(kCGEventSourceStateHIDSystemState);
    return shared;
}

struct Key {
    CGKeyCode code = 0;
    bool shift = false;
    UniChar character = 0; // what a US layout types with it
};

// The key that types `c` on a US keyboard, by the key names of the scenarios (sim/key_names.h).
std::optional<Key> keyOf(char c) {
    Key key;
    key.shift = c >= 'A' && c <= 'Z';
    key.character = static_cast<UniChar>(static_cast<unsigned char>(c));
    std::string name;
    if (key.shift || (c >= '0' && c <= '9')) {
        name = std::string(1, c);
    } else if (c >= 'a' && c <= 'z') {
        name = std::string(1, static_cast<char>(c - 'a' + 'A'));
    } else if (c == ' ') {
        name = "Space";
    } else if (c == '\n') {
        name = "Return";
        key.character = '\r';
    }
    const std::optional<KeyCode> code = keyCodeOf(name);
    if (!code) return std::nullopt;
    key.code = static_cast<CGKeyCode>(*code);
    return key;
}

// A key-down or key-up with exactly these flags, and the character it types unless that is 0.
bool postKey(CGKeyCode code, bool down, CGEventFlags flags, UniChar character,
             bool autorepeat = false) {
    const Event event(CGEventCreateKeyboardEvent(source(), code, down));
    if (!event) return false;
    CGEventSetFlags(event.get(), flags);
    if (character != 0) CGEventKeyboardSetUnicodeString(event.get(), 1, &character);
    if (autorepeat) CGEventSetIntegerValueField(event.get(), kCGKeyboardEventAutorepeat, 1);
    CGEventPost(kCGHIDEventTap, event.get());
    return true;
}

// A modifier key pressed or released: a flags-changed event with the modifiers now down.
bool postModifier(CGKeyCode code, bool down, CGEventFlags nowDown) {
    const Event event(CGEventCreateKeyboardEvent(source(), code, down));
    if (!event) return false;
    // What CGEventCreateKeyboardEvent makes of a modifier's key code; set so as not to depend on
    // it.
    CGEventSetType(event.get(), kCGEventFlagsChanged);
    CGEventSetFlags(event.get(), nowDown);
    CGEventPost(kCGHIDEventTap, event.get());
    return true;
}

constexpr CGKeyCode shiftKey = 56, controlKey = 59, optionKey = 58; // kVK_*

bool typeCharacter(const Key& key) {
    const CGEventFlags flags = key.shift ? kCGEventFlagMaskShift : 0;
    bool ok = true;
    if (key.shift) ok = postModifier(shiftKey, true, flags) && ok;
    ok = postKey(key.code, true, flags, key.character) && ok;
    ok = postKey(key.code, false, flags, key.character) && ok;
    if (key.shift) ok = postModifier(shiftKey, false, 0) && ok;
    return ok;
}

bool postMouse(CGEventType type, Point at) {
    const Event event(
        CGEventCreateMouseEvent(source(), type, CGPointMake(at.x, at.y), kCGMouseButtonLeft));
    if (!event) return false;
    if (type != kCGEventMouseMoved)
        CGEventSetIntegerValueField(event.get(), kCGMouseEventClickState, 1);
    CGEventPost(kCGHIDEventTap, event.get());
    return true;
}

} // namespace

void pauseUntil(double until) {
    for (double left = until - now(); left > 0; left = until - now())
        usleep(static_cast<useconds_t>(left * 1e6));
}

bool typeText(std::string_view text, double interval) {
    // Each character is due at a fixed time from the start, so a late one does not delay the rest.
    const double start = now();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::optional<Key> key = keyOf(text[i]);
        if (!key) return false;
        pauseUntil(start + static_cast<double>(i) * interval);
        if (!typeCharacter(*key)) return false;
    }
    return true;
}

bool chord(const std::vector<std::string>& keys) {
    if (keys.size() != 2 || keys[1].size() != 1) return false;
    const std::optional<Key> key = keyOf(keys[1][0]);
    if (!key || key->shift) return false;
    CGKeyCode modifier = 0;
    CGEventFlags flags = 0;
    UniChar character = 0; // the layout's own for Option
    if (keys[0] == "ctrl") {
        modifier = controlKey;
        flags = kCGEventFlagMaskControl;
        character = static_cast<UniChar>(key->character & 0x1F); // a letter's control character
    } else if (keys[0] == "alt") {
        modifier = optionKey;
        flags = kCGEventFlagMaskAlternate;
    } else if (keys[0] == "shift") {
        modifier = shiftKey;
        flags = kCGEventFlagMaskShift;
        character = key->character >= 'a' && key->character <= 'z'
                        ? static_cast<UniChar>(key->character - 'a' + 'A')
                        : key->character;
    } else {
        return false;
    }
    return postModifier(modifier, true, flags) && postKey(key->code, true, flags, character) &&
           postKey(key->code, false, flags, character) && postModifier(modifier, false, 0);
}

bool repeatKey(char c, int downs, double interval) {
    const std::optional<Key> key = keyOf(c);
    if (!key || key->shift || downs < 1) return false;
    const double start = now();
    for (int i = 0; i < downs; ++i) {
        pauseUntil(start + i * interval);
        if (!postKey(key->code, true, 0, key->character, i > 0)) return false;
    }
    pauseUntil(start + downs * interval);
    return postKey(key->code, false, 0, key->character);
}

bool click(Point at) {
    return postMouse(kCGEventMouseMoved, at) && postMouse(kCGEventLeftMouseDown, at) &&
           postMouse(kCGEventLeftMouseUp, at);
}

} // namespace qk::live
