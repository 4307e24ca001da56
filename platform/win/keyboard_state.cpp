#include "platform/win/keyboard_state.h"

namespace qk::win {

namespace {

bool anyDown(const std::bitset<256>& down, std::initializer_list<int> keys) {
    for (const int key : keys)
        if (down.test(static_cast<std::size_t>(key))) return true;
    return false;
}

} // namespace

bool KeyboardState::note(DWORD virtualKey, bool up) {
    const std::size_t key = virtualKey & 0xFF;
    const bool wasDown = down.test(key);
    down.set(key, !up);
    if (!up && !wasDown && virtualKey == VK_CAPITAL) capsLock = !capsLock;
    return !up && wasDown;
}

EventFlags KeyboardState::flags() const {
    EventFlags result = 0;
    if (anyDown(down, {VK_CONTROL, VK_LCONTROL, VK_RCONTROL})) result |= flags::control;
    if (anyDown(down, {VK_MENU, VK_LMENU, VK_RMENU})) result |= flags::option;
    if (anyDown(down, {VK_LWIN, VK_RWIN})) result |= flags::command;
    if (anyDown(down, {VK_SHIFT, VK_LSHIFT, VK_RSHIFT})) result |= shiftFlag;
    if (capsLock) result |= capsLockFlag;
    return result;
}

bool isModifierKey(DWORD virtualKey) {
    switch (virtualKey) {
    case VK_SHIFT:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_CONTROL:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_MENU:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
        return true;
    default:
        return false;
    }
}

PlatformEvent keyboardEvent(WPARAM message, const KBDLLHOOKSTRUCT& data, KeyboardState& state) {
    PlatformEvent event;
    event.keyboard = true;
    event.message = message;
    event.key = data;
    const bool up = (data.flags & LLKHF_UP) != 0;
    // Noted first, so that a modifier change carries the flags after the change.
    event.autorepeat = state.note(data.vkCode, up);
    event.flags = state.flags();
    if (isModifierKey(data.vkCode)) {
        event.type = types::flagsChanged;
    } else {
        event.type = up ? types::keyUp : types::keyDown;
    }
    return event;
}

bool mouseEvent(WPARAM message, const MSLLHOOKSTRUCT& data, const KeyboardState& state,
                PlatformEvent& event) {
    switch (message) {
    case WM_LBUTTONDOWN:
        event.type = types::leftMouseDown;
        break;
    case WM_RBUTTONDOWN:
        event.type = types::rightMouseDown;
        break;
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
        event.type = types::otherMouseDown;
        break;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        event.type = types::scrollWheel;
        break;
    default:
        return false;
    }
    event.keyboard = false;
    event.message = message;
    event.mouse = data;
    event.flags = state.flags();
    event.autorepeat = false;
    return true;
}

} // namespace qk::win
