// qk-target: the window the live tests type into. A top-level window whose only child is an EDIT
// control with the keyboard focus; the control records what it receives, in order: each character
// (Return as "\n", other control characters as "^" and their letter, so Ctrl+K is "^K") and each
// mouse button press as "{click}". Commands, one per line on standard input, are answered on
// standard output:
//   front     brings the window to the front and gives the control the focus; "front 1" if it is
//             then in front, "front 0" if not
//   received  "received " and the record, with "\" and line breaks escaped as "\\" and "\n"
//   quit      closes the window and ends
// When the window is up it prints "ready <process id> <window> <x> <y>": its handle, and the
// point in the middle of the control, in screen coordinates.
//
// Usage: qk-target <left> <top>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "tests/live/record_text.h"

namespace {

constexpr UINT commandMessage = WM_APP + 1; // wParam: the command
enum Command : WPARAM {
    front,
    received,
    quit
};

HWND mainWindow = nullptr;
HWND edit = nullptr;
WNDPROC editProcedure = nullptr;
std::string record;

void appendUtf8(std::string& out, wchar_t c) {
    const unsigned code = c;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void recordCharacter(wchar_t c) {
    if (c == L'\r' || c == L'\n') {
        record += '\n';
    } else if (c < 0x20) {
        record += '^';
        record += static_cast<char>('@' + c);
    } else {
        appendUtf8(record, c);
    }
}

void reply(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

LRESULT CALLBACK editMessages(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_CHAR:
        recordCharacter(static_cast<wchar_t>(w));
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        record += "{click}";
        break;
    default:
        break;
    }
    return CallWindowProcW(editProcedure, window, message, w, l);
}

void bringToFront() {
    SetForegroundWindow(mainWindow);
    SetFocus(edit);
    reply(GetForegroundWindow() == mainWindow ? "front 1" : "front 0");
}

LRESULT CALLBACK windowMessages(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_SIZE:
        if (edit) MoveWindow(edit, 0, 0, LOWORD(l), HIWORD(l), TRUE);
        return 0;
    case WM_SETFOCUS:
        if (edit) SetFocus(edit);
        return 0;
    case commandMessage:
        if (w == front) bringToFront();
        if (w == received) reply("received " + qk::live::escapedRecord(record));
        if (w == quit) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, w, l);
    }
}

DWORD WINAPI readCommands(void*) {
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        const std::string command(line, std::strcspn(line, "\r\n"));
        if (command == "front") PostMessageW(mainWindow, commandMessage, front, 0);
        if (command == "received") PostMessageW(mainWindow, commandMessage, received, 0);
        if (command == "quit") break;
    }
    PostMessageW(mainWindow, commandMessage, quit, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int left = argc > 1 ? std::atoi(argv[1]) : 50;
    const int top = argc > 2 ? std::atoi(argv[2]) : 50;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowMessages;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.lpszClassName = L"qk-target";
    RegisterClassW(&windowClass);
    mainWindow = CreateWindowW(L"qk-target", L"qk-target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, left,
                               top, 300, 200, nullptr, nullptr, instance, nullptr);
    RECT client{};
    GetClientRect(mainWindow, &client);
    edit = CreateWindowW(L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                         client.right, client.bottom, mainWindow, nullptr, instance, nullptr);
    editProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editMessages)));
    SetFocus(edit);
    POINT middle{client.right / 2, client.bottom / 2};
    ClientToScreen(edit, &middle);
    char ready[128];
    std::snprintf(ready, sizeof ready, "ready %lu %llu %ld %ld", GetCurrentProcessId(),
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(mainWindow)), middle.x,
                  middle.y);
    reply(ready);
    if (const HANDLE thread = CreateThread(nullptr, 0, readCommands, nullptr, 0, nullptr))
        CloseHandle(thread);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
