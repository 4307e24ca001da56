// The tap on Windows: a WH_KEYBOARD_LL and a WH_MOUSE_LL hook on the main thread, whose message
// loop the system calls them from. Each event is translated into the seam's vocabulary and handed
// to the filter; returning non-zero drops it.
//
// The system gives a low-level hook LowLevelHooksTimeout (HKCU\Control Panel\Desktop; at most 1 s
// since Windows 10 1709; reportedly 300 ms when unset) to answer; a hook that takes longer is
// skipped for that event and, after repeated timeouts, removed without notice. The hooks
// themselves only do arithmetic and a few non-blocking calls, but the main thread can still be
// held up (a parent that does not read the helper's output blocks its writes; a machine under
// heavy load). A watchdog timer notices when the main thread was away longer than that timeout,
// installs the hooks afresh and tells the filter as macOS tells it of a tap disabled by timeout:
// the hold is flushed and "ready" is written again, which is also what the parent sees.
#include <cmath>

#include "platform/win/front_window.h"
#include "platform/win/keyboard_state.h"

namespace qk::platform {

namespace {

TapCallback filter = nullptr;
HHOOK keyboardHook = nullptr;
HHOOK mouseHook = nullptr;
win::KeyboardState keyboard;

// A tap handle for the seam; the hooks themselves are the state above.
struct Tap {
} theTap;
struct Source {
} theSource;

// While a window out of the helper's reach is in front, nothing is withheld: it could not be
// given back. The helper's own posts pass as they would through the filter.
Verdict decide(PlatformEvent& event) {
    if (!filter || !win::frontReachable()) return Verdict::pass;
    return filter(event.type, &event);
}

LRESULT CALLBACK onKeyboard(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        PlatformEvent event =
            win::keyboardEvent(message, *reinterpret_cast<const KBDLLHOOKSTRUCT*>(data), keyboard);
        if (decide(event) == Verdict::drop) return 1;
    }
    return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK onMouse(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        PlatformEvent event;
        if (win::mouseEvent(message, *reinterpret_cast<const MSLLHOOKSTRUCT*>(data), keyboard,
                            event) &&
            decide(event) == Verdict::drop)
            return 1;
    }
    return CallNextHookEx(nullptr, code, message, data);
}

void removeHooks() {
    if (keyboardHook) UnhookWindowsHookEx(keyboardHook);
    if (mouseHook) UnhookWindowsHookEx(mouseHook);
    keyboardHook = mouseHook = nullptr;
}

bool installHooks() {
    removeHooks();
    const HINSTANCE module = GetModuleHandleW(nullptr);
    keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, onKeyboard, module, 0);
    mouseHook = SetWindowsHookExW(WH_MOUSE_LL, onMouse, module, 0);
    return keyboardHook && mouseHook;
}

// The system's timeout for low-level hooks, in seconds.
double hooksTimeout() {
    DWORD milliseconds = 0, size = sizeof milliseconds;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LowLevelHooksTimeout",
                     RRF_RT_REG_DWORD, nullptr, &milliseconds, &size) == ERROR_SUCCESS &&
        milliseconds > 0)
        return std::fmin(milliseconds, 1000) / 1000.0;
    wchar_t text[16] = {};
    size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LowLevelHooksTimeout",
                     RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS) {
        const long parsed = std::wcstol(text, nullptr, 10);
        if (parsed > 0) return std::fmin(static_cast<double>(parsed), 1000) / 1000.0;
    }
    return 0.3;
}

constexpr UINT watchdogMilliseconds = 50;
UINT_PTR watchdog = 0;
double watchdogLimit = 0.3;
double lastWatch = 0;

void CALLBACK watch(HWND, UINT, UINT_PTR, DWORD) {
    const double now = uptime();
    const bool away = now - lastWatch > watchdogLimit;
    lastWatch = now;
    if (away && filter) filter(types::tapDisabledByTimeout, nullptr);
}

} // namespace

// Both hooks or none: the keyboard hook sees the key types of `mask`, the mouse hook the pointer
// types, and neither needs a permission that could leave some of them out.
TapRef createTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted) {
    granted = 0;
    filter = callback;
    keyboard.setCapsLock((GetKeyState(VK_CAPITAL) & 1) != 0);
    if (!installHooks()) {
        removeHooks();
        return nullptr;
    }
    granted = mask;
    return reinterpret_cast<TapRef>(&theTap);
}

void enableTap(TapRef tap) {
    if (tap) installHooks();
}

SourceRef attachTap(TapRef) {
    // The hooks are called from this thread's message loop; make sure it has a queue.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!win::watchFront()) return nullptr;
    watchdogLimit = hooksTimeout();
    lastWatch = uptime();
    watchdog = SetTimer(nullptr, 0, watchdogMilliseconds, watch);
    if (!watchdog) return nullptr;
    return reinterpret_cast<SourceRef>(&theSource);
}

void removeTap(TapRef) {
    if (watchdog) KillTimer(nullptr, watchdog);
    watchdog = 0;
    removeHooks();
    filter = nullptr;
}

} // namespace qk::platform
