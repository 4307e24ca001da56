// Event services on Windows: event fields, copies, posting, the frontmost process and the clock.
// The hooks are in hooks.cpp. No permission is needed to hook input, so the trust checks say yes.
#include "platform/events.h"

#include "core/trigger.h"
#include "platform/win/front_window.h"
#include "platform/win/send.h"

namespace qk::platform {

const KeyTable& keyTable() {
    return windowsKeys;
}

bool trusted() {
    return true;
}

bool trustedWithPrompt() {
    return true;
}

// Hooking and posting input need no permission on Windows, so none can be taken away.
bool tapPermitted() {
    return true;
}

// The clock's frequency and the window in front are read once before the hooks exist, so that
// the first key does not wait for them.
void prepareEventServices() {
    uptime();
    frontmostProcess();
}

std::int64_t readField(EventRef event, std::uint32_t field) {
    switch (field) {
    case fields::sourceUserData:
        return static_cast<std::int64_t>(event->extraInfo());
    case fields::keyCode:
        return event->keyboard ? static_cast<std::int64_t>(event->key.vkCode) : 0;
    case fields::autorepeat:
        return event->autorepeat ? 1 : 0;
    default:
        return 0;
    }
}

void writeField(EventRef event, std::uint32_t field, std::int64_t value) {
    if (field == fields::sourceUserData) event->extraInfo() = static_cast<ULONG_PTR>(value);
}

EventFlags eventFlags(EventRef event) {
    return event->flags;
}

EventType eventType(EventRef event) {
    return event->type;
}

EventRef copyEvent(EventRef event) {
    return new (std::nothrow) PlatformEvent(*event);
}

void releaseEvent(EventRef event) {
    delete event;
}

// Windows cannot post to a process. While the process is still in front, the keys go into the
// input stream, where they reach its focused window as if typed. Once another is in front, they
// would land there instead, so they are posted to the control that had the focus when that
// process was last seen in front: keys belong to the window they were typed into. Only if that
// window is gone do they go into the input stream after all, rather than nowhere.
void postToProcess(Pid pid, EventRef event) {
    const win::FrontWindow front = win::frontWindow();
    if (front.pid == pid) {
        win::sendInput(*event);
        return;
    }
    // A modifier's release still goes into the input stream: the system would otherwise go on
    // taking the key as held (it was not told of the release it never saw), and the window now in
    // front would get capitals or chords. A release alone types nothing there.
    if (event->type == types::flagsChanged && event->keyUp()) {
        win::sendInput(*event);
        return;
    }
    const win::FrontWindow* seen = win::lastSeenInFront(pid);
    if (seen && IsWindow(seen->focus)) {
        win::postToWindow(seen->focus, *event);
        return;
    }
    win::sendInput(*event);
}

void postToHID(EventRef event) {
    win::sendInput(*event);
}

Pid frontmostProcess() {
    return win::frontWindow().pid;
}

double uptime() {
    static const double period = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * period;
}

} // namespace qk::platform
