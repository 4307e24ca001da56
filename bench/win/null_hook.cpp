// qk-null-hook: the least a low-level keyboard hook can cost, for qk-latency to compare with. It
// behaves like the helper towards its parent (prints "ready", ends when its standard input ends)
// and installs a WH_KEYBOARD_LL hook that passes every key on at once.
#include <cstdio>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

DWORD mainThread = 0;

LRESULT CALLBACK passOn(int code, WPARAM message, LPARAM data) {
    return CallNextHookEx(nullptr, code, message, data);
}

DWORD WINAPI watchInput(void*) {
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got)
        continue;
    PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
    return 0;
}

} // namespace

int main() {
    mainThread = GetCurrentThreadId();
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!SetWindowsHookExW(WH_KEYBOARD_LL, passOn, GetModuleHandleW(nullptr), 0)) return 2;
    if (const HANDLE thread = CreateThread(nullptr, 0, watchInput, nullptr, 0, nullptr))
        CloseHandle(thread);
    std::printf("{\"event\":\"ready\",\"message\":\"\"}\n");
    std::fflush(stdout);
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
