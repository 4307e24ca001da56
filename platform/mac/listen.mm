// The listen-only tap on macOS: CGEventTapCreate with kCGEventTapOptionListenOnly, which needs
// Input Monitoring rather than Accessibility, and the Input Monitoring checks of CGEvent.h.
#include "platform/listen.h"

#import <ApplicationServices/ApplicationServices.h>

#include "platform/mac/tap_list.h"

namespace qk::platform {

namespace {

// The tap is created without user data, so its callback is kept here.
TapCallback listener = nullptr;

// A listen-only tap ignores what its callback returns; handing the event back is the convention.
CGEventRef listenCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    @autoreleasepool {
        listener(static_cast<EventType>(type), reinterpret_cast<EventRef>(event));
    }
    return event;
}

} // namespace

// Both are available from macOS 10.15, older than the oldest release supported.
bool listenAccess() {
    return CGPreflightListenEventAccess();
}

bool requestListenAccess() {
    return CGRequestListenEventAccess();
}

TapRef createListenTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted) {
    listener = callback;
    // At the head, so that it sees the keys before an active tap created earlier (a running
    // qkscan) can swallow them. Kept for the life of the process, so never released.
    CFMachPortRef port =
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
                         static_cast<CGEventMask>(mask), listenCallback, NULL);
    granted = port ? grantedEvents(kCGEventTapOptionListenOnly, mask) : 0;
    return reinterpret_cast<TapRef>(port);
}

} // namespace qk::platform
