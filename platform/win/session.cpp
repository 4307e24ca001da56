// The listening session's machinery on Windows: the main thread's message loop, a thread timer,
// a watcher thread that reads standard input and posts the stop to the main thread, and console
// control events in the place of signals.
//
// Ctrl+Break and closing the console are this host's SIGTERM: they run the stop on the main
// thread, with its flush. Ctrl+C keeps its default action (the process ends at once), as SIGINT
// does in the POSIX listening session; only the recorder asks for it to stop the same way.
#include "platform/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win/event.h"

namespace qk::platform {

namespace {

// Work posted to the main thread: the function's address travels in lParam.
constexpr UINT submitted = WM_APP + 1;
DWORD mainThread = 0;

Work tick = nullptr;
Work stopWork = nullptr;      // read by the watcher thread; written once before it starts
Work onTermination = nullptr; // Ctrl+Break, console closed
Work onInterrupt = nullptr;   // Ctrl+C, when asked for

void makeQueue() {
    mainThread = GetCurrentThreadId();
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

void submitToMain(Work work) {
    PostThreadMessageW(mainThread, submitted, 0, reinterpret_cast<LPARAM>(work));
}

void CALLBACK onTick(HWND, UINT, UINT_PTR, DWORD) {
    if (tick) tick();
}

// Blocks until standard input delivers a line, ends, or fails; the content is ignored.
DWORD WINAPI watchStandardInput(void*) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD got = 0;
    while (input && input != INVALID_HANDLE_VALUE &&
           ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        if (std::memchr(buffer, '\n', got)) break;
    }
    submitToMain(stopWork);
    return 0;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        if (!onInterrupt) return FALSE; // the default action: the process ends
        submitToMain(onInterrupt);
        return TRUE;
    case CTRL_BREAK_EVENT:
        submitToMain(onTermination);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // The process ends as soon as this returns; wait here until the main thread has flushed
        // and ended it. The system allows a few seconds.
        submitToMain(onTermination);
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

bool consoleHandlerSet = false;

void handleConsoleEvents() {
    if (!consoleHandlerSet) consoleHandlerSet = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

} // namespace

void addRepeatingTimer(double interval, Work work) {
    makeQueue();
    tick = work;
    SetTimer(nullptr, 0, static_cast<UINT>(interval * 1000 + 0.5), onTick);
}

void startStopInputWatcher(Work stop) {
    makeQueue();
    stopWork = stop;
    const HANDLE thread = CreateThread(nullptr, 0, watchStandardInput, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        submitToMain(stop); // no watcher, no way to be told to stop: stop now
    }
}

void handleTerminationSignal(Work stop) {
    makeQueue();
    onTermination = stop;
    handleConsoleEvents();
}

void handleInterruptSignal(Work stop) {
    makeQueue();
    onInterrupt = stop;
    handleConsoleEvents();
}

void runMainLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!message.hwnd && message.message == submitted) {
            if (const Work work = reinterpret_cast<Work>(message.lParam)) work();
            continue;
        }
        DispatchMessageW(&message);
    }
}

void exitProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}

} // namespace qk::platform
