// The live tests' keyboard and mouse on macOS: events made with Quartz and posted with
// CGEventPost at kCGHIDEventTap, where they enter the input stream as from the hardware and pass
// every event tap, the helper's among them. Keys are typed by their virtual key codes (the
// positions of a US keyboard, as the helper reads them), with the flags and the characters a US
// layout gives them, so the layout of the machine running the tests does not matter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qk::live {

// How long after one character the next one starts, in seconds, as in the other hosts' live
// tests: a scanner's keys come all at once (a real one types a key every few milliseconds), a
// person's well over the trigger's 0.1 s apart.
inline constexpr double scannerInterval = 0;
inline constexpr double personInterval = 0.25;

// A point on the screen in the global display coordinates events use (points, from the top left
// of the main display).
struct Point {
    double x = 0;
    double y = 0;
};

// Types `text` (letters, digits, space and "\n" for Return), one character every `interval`
// seconds: a capital is its key with Shift held around it. False if a character cannot be typed
// or an event cannot be made.
bool typeText(std::string_view text, double interval);

// Presses the modifier `keys[0]` ("ctrl", "alt" or "shift"), types the letter `keys[1]` with it
// held, and releases it. False for other keys.
bool chord(const std::vector<std::string>& keys);

// Holds the key of `c` down: `downs` key-downs `interval` seconds apart, every one after the first
// marked as an autorepeat, as a held key repeats; then its key-up.
bool repeatKey(char c, int downs, double interval);

// A left click (the pointer moved there, pressed and released) at `at`.
bool click(Point at);

// Waits `seconds`, or less once `until` (seconds on the clock of child.h) has come.
void pauseUntil(double until);

} // namespace qk::live
