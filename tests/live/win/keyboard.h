// The live tests' keyboard and mouse: input made with SendInput, as a scanner or a person would
// make it. Letters are typed by their virtual-key codes, so the keyboard layout does not matter
// for them; a capital is its key with Shift held around it, "\n" is Return.
#pragma once

#include <string_view>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace qk::live {

// How long after one character the next one starts, in seconds. A scanner types a key every few
// milliseconds; the live tests type its text all at once, in one SendInput call, which is as fast
// as a scanner can get, so that a test machine busy with other work cannot stretch a scan past
// the trigger's 0.1 s (the timing rule itself is tested on the simulated platform). A person's
// keys come well over 0.1 s apart.
inline constexpr double scannerInterval = 0;
inline constexpr double personInterval = 0.25;

// Types `text` (letters, digits, space and "\n"), one character every `interval` seconds, each
// character's events in one SendInput call; with an interval of 0, the whole text in one call.
// False if a character cannot be typed.
bool typeText(std::string_view text, double interval);

// Presses `modifier` (VK_CONTROL, VK_MENU, ...), types `key` with it held, and releases it.
void chord(WORD modifier, WORD key);

// Presses `key` and sends `downs` key-downs for it in all, as a held key repeats; then releases it.
void repeatKey(WORD key, int downs, double interval);

// A left click at `x`, `y` on the screen.
void click(int x, int y);

// The virtual-key code that types `c`, or 0.
WORD virtualKeyOf(char c);

} // namespace qk::live
