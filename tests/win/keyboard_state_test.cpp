// The Windows hooks' data as the filter sees it: types, Control/Option/Command (and Shift) flags
// from the hooks' own key state, autorepeats, and which mouse events reach the filter at all.
#include <gtest/gtest.h>

#include "platform/win/keyboard_state.h"

namespace qk::win {
namespace {

KBDLLHOOKSTRUCT key(DWORD virtualKey, bool up, DWORD extraFlags = 0) {
    KBDLLHOOKSTRUCT data{};
    data.vkCode = virtualKey;
    data.flags = (up ? LLKHF_UP : 0) | extraFlags;
    return data;
}

struct Press {
    DWORD virtualKey;
    bool up;
    EventType type;
    EventFlags flags; // after the event
    bool autorepeat;
};

struct Sequence {
    const char* name;
    std::vector<Press> presses;
};

constexpr EventFlags none = 0;

const Sequence sequences[] = {
    {"a letter: down, up",
     {{'Q', false, types::keyDown, none, false}, {'Q', true, types::keyUp, none, false}}},
    {"Shift around a capital: modifier changes with the flags after the change",
     {{VK_LSHIFT, false, types::flagsChanged, shiftFlag, false},
      {'Q', false, types::keyDown, shiftFlag, false},
      {'Q', true, types::keyUp, shiftFlag, false},
      {VK_LSHIFT, true, types::flagsChanged, none, false}}},
    {"the generic Shift that SendInput gives",
     {{VK_SHIFT, false, types::flagsChanged, shiftFlag, false},
      {VK_SHIFT, true, types::flagsChanged, none, false}}},
    {"Ctrl, Alt and Windows keys are Control, Option and Command",
     {{VK_RCONTROL, false, types::flagsChanged, flags::control, false},
      {VK_LMENU, false, types::flagsChanged, flags::control | flags::option, false},
      {VK_RWIN, false, types::flagsChanged, flags::control | flags::option | flags::command, false},
      {'K', false, types::keyDown, flags::control | flags::option | flags::command, false},
      {VK_LMENU, true, types::flagsChanged, flags::control | flags::command, false},
      {VK_RWIN, true, types::flagsChanged, flags::control, false},
      {VK_RCONTROL, true, types::flagsChanged, none, false}}},
    {"both Ctrl keys down: one up leaves Control set",
     {{VK_LCONTROL, false, types::flagsChanged, flags::control, false},
      {VK_RCONTROL, false, types::flagsChanged, flags::control, false},
      {VK_LCONTROL, true, types::flagsChanged, flags::control, false},
      {VK_RCONTROL, true, types::flagsChanged, none, false}}},
    {"a held key repeats: every further key-down is an autorepeat, until its key-up",
     {{'Q', false, types::keyDown, none, false},
      {'Q', false, types::keyDown, none, true},
      {'Q', false, types::keyDown, none, true},
      {'Q', true, types::keyUp, none, false},
      {'Q', false, types::keyDown, none, false}}},
    {"a key-up for a key never seen down",
     {{'W', true, types::keyUp, none, false}, {'W', false, types::keyDown, none, false}}},
    {"Return is a plain key",
     {{VK_RETURN, false, types::keyDown, none, false},
      {VK_RETURN, true, types::keyUp, none, false}}},
    {"Caps Lock toggles on its key-down, not on repeats",
     {{VK_CAPITAL, false, types::keyDown, capsLockFlag, false},
      {VK_CAPITAL, false, types::keyDown, capsLockFlag, true},
      {VK_CAPITAL, true, types::keyUp, capsLockFlag, false},
      {VK_CAPITAL, false, types::keyDown, none, false}}},
};

TEST(KeyboardState, TranslatesKeyEvents) {
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        KeyboardState state;
        for (std::size_t i = 0; i < sequence.presses.size(); ++i) {
            SCOPED_TRACE(i);
            const Press& press = sequence.presses[i];
            const KBDLLHOOKSTRUCT data = key(press.virtualKey, press.up);
            const PlatformEvent event =
                keyboardEvent(press.up ? WM_KEYUP : WM_KEYDOWN, data, state);
            EXPECT_EQ(event.type, press.type);
            EXPECT_EQ(event.flags, press.flags);
            EXPECT_EQ(event.autorepeat, press.autorepeat);
            EXPECT_TRUE(event.keyboard);
            EXPECT_EQ(event.key.vkCode, press.virtualKey);
        }
    }
}

TEST(KeyboardState, KeepsTheHookDataAndItsMarker) {
    KeyboardState state;
    KBDLLHOOKSTRUCT data = key(VK_RETURN, false, LLKHF_EXTENDED | LLKHF_INJECTED);
    data.scanCode = 0x1C;
    data.dwExtraInfo = 0x514B5343414E;
    PlatformEvent event = keyboardEvent(WM_KEYDOWN, data, state);
    EXPECT_EQ(event.key.scanCode, 0x1Cu);
    EXPECT_EQ(event.key.flags, static_cast<DWORD>(LLKHF_EXTENDED | LLKHF_INJECTED));
    EXPECT_EQ(event.extraInfo(), 0x514B5343414Eu);
    event.extraInfo() = 7;
    EXPECT_EQ(event.key.dwExtraInfo, 7u);
}

TEST(KeyboardState, PassesOnlyButtonDownsAndWheelsToTheFilter) {
    struct Row {
        WPARAM message;
        bool seen;
        EventType type;
    };
    const Row rows[] = {
        {WM_LBUTTONDOWN, true, types::leftMouseDown},
        {WM_RBUTTONDOWN, true, types::rightMouseDown},
        {WM_MBUTTONDOWN, true, types::otherMouseDown},
        {WM_XBUTTONDOWN, true, types::otherMouseDown},
        {WM_MOUSEWHEEL, true, types::scrollWheel},
        {WM_MOUSEHWHEEL, true, types::scrollWheel},
        {WM_MOUSEMOVE, false, 0},
        {WM_LBUTTONUP, false, 0},
        {WM_RBUTTONUP, false, 0},
        {WM_MBUTTONUP, false, 0},
        {WM_XBUTTONUP, false, 0},
    };
    KeyboardState state;
    keyboardEvent(WM_KEYDOWN, key(VK_LCONTROL, false), state);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        MSLLHOOKSTRUCT data{};
        data.pt = {12, 34};
        data.dwExtraInfo = 99;
        PlatformEvent event;
        ASSERT_EQ(mouseEvent(row.message, data, state, event), row.seen);
        if (!row.seen) continue;
        EXPECT_EQ(event.type, row.type);
        EXPECT_FALSE(event.keyboard);
        EXPECT_EQ(event.flags, flags::control);
        EXPECT_EQ(event.mouse.pt.x, 12);
        EXPECT_EQ(event.extraInfo(), 99u);
    }
}

} // namespace
} // namespace qk::win
