#include "platform/win/send.h"

namespace qk::win {

namespace {

// A point on the screen as SendInput's absolute coordinates: 0 to 65535 across the virtual desktop.
LONG normalised(LONG coordinate, int origin, int extent) {
    if (extent <= 1) return 0;
    const long long offset = static_cast<long long>(coordinate) - origin;
    return static_cast<LONG>((offset * 65535 + (extent - 1) / 2) / (extent - 1));
}

INPUT keyboardInput(const PlatformEvent& event) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    const KBDLLHOOKSTRUCT& key = event.key;
    if (key.vkCode == VK_PACKET) {
        // A character typed as such (on-screen keyboards, some input methods): its scan code field
        // holds the UTF-16 unit.
        input.ki.wScan = static_cast<WORD>(key.scanCode);
        input.ki.dwFlags = KEYEVENTF_UNICODE;
    } else {
        input.ki.wVk = static_cast<WORD>(key.vkCode);
        input.ki.wScan = static_cast<WORD>(key.scanCode);
        if (key.flags & LLKHF_EXTENDED) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    }
    if (key.flags & LLKHF_UP) input.ki.dwFlags |= KEYEVENTF_KEYUP;
    input.ki.dwExtraInfo = key.dwExtraInfo;
    return input;
}

DWORD buttonFlag(WPARAM message) {
    switch (message) {
    case WM_LBUTTONDOWN:
        return MOUSEEVENTF_LEFTDOWN;
    case WM_RBUTTONDOWN:
        return MOUSEEVENTF_RIGHTDOWN;
    case WM_MBUTTONDOWN:
        return MOUSEEVENTF_MIDDLEDOWN;
    case WM_XBUTTONDOWN:
        return MOUSEEVENTF_XDOWN;
    case WM_MOUSEWHEEL:
        return MOUSEEVENTF_WHEEL;
    case WM_MOUSEHWHEEL:
        return MOUSEEVENTF_HWHEEL;
    default:
        return 0;
    }
}

INPUT mouseInput(const PlatformEvent& event) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    const MSLLHOOKSTRUCT& mouse = event.mouse;
    // At the point where it happened, wherever the pointer is by now.
    input.mi.dx = normalised(mouse.pt.x, GetSystemMetrics(SM_XVIRTUALSCREEN),
                             GetSystemMetrics(SM_CXVIRTUALSCREEN));
    input.mi.dy = normalised(mouse.pt.y, GetSystemMetrics(SM_YVIRTUALSCREEN),
                             GetSystemMetrics(SM_CYVIRTUALSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK |
                       buttonFlag(event.message);
    // The wheel's distance and the X button's number are in the high word.
    if (event.message != WM_LBUTTONDOWN && event.message != WM_RBUTTONDOWN &&
        event.message != WM_MBUTTONDOWN)
        input.mi.mouseData = static_cast<DWORD>(static_cast<short>(HIWORD(mouse.mouseData)));
    input.mi.dwExtraInfo = mouse.dwExtraInfo;
    return input;
}

// The lParam of a keyboard message: repeat count 1, scan code, extended flag, and for a key-up
// the previous-state and transition bits.
LPARAM keyMessageParameter(const KBDLLHOOKSTRUCT& key, bool up) {
    DWORD parameter = 1 | ((key.scanCode & 0xFF) << 16);
    if (key.flags & LLKHF_EXTENDED) parameter |= 1u << 24;
    if (key.flags & LLKHF_ALTDOWN) parameter |= 1u << 29;
    if (up) parameter |= (1u << 30) | (1u << 31);
    return static_cast<LPARAM>(parameter);
}

// The characters a key-down types with the event's modifiers in `layout`; 0 if none.
int charactersOf(const PlatformEvent& event, HKL layout, wchar_t (&characters)[8]) {
    if (event.key.vkCode == VK_PACKET) {
        characters[0] = static_cast<wchar_t>(event.key.scanCode);
        return 1;
    }
    BYTE keys[256] = {};
    if (event.flags & shiftFlag) keys[VK_SHIFT] = keys[VK_LSHIFT] = 0x80;
    if (event.flags & capsLockFlag) keys[VK_CAPITAL] = 0x01;
    if (event.flags & flags::control) keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    if (event.flags & flags::option) keys[VK_MENU] = keys[VK_LMENU] = 0x80;
    // Flag 4: the keyboard state of this thread (dead keys in progress) is left as it is.
    const int count =
        ToUnicodeEx(event.key.vkCode, event.key.scanCode, keys, characters, 8, 4, layout);
    return count > 0 ? count : 0;
}

} // namespace

void sendInput(const PlatformEvent& event) {
    INPUT input = event.keyboard ? keyboardInput(event) : mouseInput(event);
    SendInput(1, &input, sizeof input);
}

void postToWindow(HWND focus, const PlatformEvent& event) {
    if (!event.keyboard || event.type == types::flagsChanged) return;
    const bool up = event.keyUp();
    const bool system = event.message == WM_SYSKEYDOWN || event.message == WM_SYSKEYUP;
    if (!up && !system) {
        wchar_t characters[8];
        const HKL layout = GetKeyboardLayout(GetWindowThreadProcessId(focus, nullptr));
        const int count = charactersOf(event, layout, characters);
        for (int i = 0; i < count; ++i)
            PostMessageW(focus, WM_CHAR, characters[i], keyMessageParameter(event.key, false));
        if (count > 0) return;
    }
    const UINT message = system ? (up ? WM_SYSKEYUP : WM_SYSKEYDOWN) : (up ? WM_KEYUP : WM_KEYDOWN);
    PostMessageW(focus, message, event.key.vkCode, keyMessageParameter(event.key, up));
}

} // namespace qk::win
