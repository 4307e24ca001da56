// Event services on macOS: Quartz Event Services for the tap and the events, the accessibility
// trust checks, NSWorkspace for the frontmost application and NSProcessInfo for the clock.
#include "platform/events.h"

#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>

#include "platform/mac/tap_list.h"

namespace qk::platform {

namespace {

// The filter the tap calls. The tap is created without user data, so it is kept here.
TapCallback filter = nullptr;

CGEventRef toCG(EventRef event) {
    return reinterpret_cast<CGEventRef>(event);
}
EventRef fromCG(CGEventRef event) {
    return reinterpret_cast<EventRef>(event);
}
CFMachPortRef toPort(TapRef tap) {
    return reinterpret_cast<CFMachPortRef>(tap);
}

// Returning the event passes it on; returning NULL drops it. The event belongs to the system.
CGEventRef tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    @autoreleasepool {
        return filter(static_cast<EventType>(type), fromCG(event)) == Verdict::pass ? event : NULL;
    }
}

} // namespace

const KeyTable& keyTable() {
    return macKeys;
}

bool trusted() {
    return AXIsProcessTrusted();
}

bool trustedWithPrompt() {
    @autoreleasepool {
        NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
        return AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
    }
}

// Both checks ask the system afresh and never prompt. Posting is a permission of its own
// (CGPreflightPostEventAccess, from macOS 10.15, older than the oldest release supported).
bool tapPermitted() {
    return AXIsProcessTrusted() && CGPreflightPostEventAccess();
}

// What they answer does not matter here: the first calls set up NSWorkspace, with its connection
// to the system and the notifications that keep its frontmost application current, and
// NSProcessInfo.
void prepareEventServices() {
    frontmostProcess();
    uptime();
}

TapRef createTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted) {
    filter = callback;
    // Kept for the life of the process, unless removeTap gives it up.
    CFMachPortRef port =
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                         static_cast<CGEventMask>(mask), tapCallback, NULL);
    granted = port ? grantedEvents(kCGEventTapOptionDefault, mask) : 0;
    return reinterpret_cast<TapRef>(port);
}

void enableTap(TapRef tap) {
    CGEventTapEnable(toPort(tap), true);
}

SourceRef attachTap(TapRef tap) {
    // Kept for the life of the process, so never released.
    CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, toPort(tap), 0);
    if (source) CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
    return reinterpret_cast<SourceRef>(source);
}

// Invalidating the port ends the tap and invalidates its run-loop source, which the run loop then
// drops. The port itself is not released: this may run inside the tap's own callback.
void removeTap(TapRef tap) {
    CGEventTapEnable(toPort(tap), false);
    CFMachPortInvalidate(toPort(tap));
}

std::int64_t readField(EventRef event, std::uint32_t field) {
    return CGEventGetIntegerValueField(toCG(event), static_cast<CGEventField>(field));
}

void writeField(EventRef event, std::uint32_t field, std::int64_t value) {
    CGEventSetIntegerValueField(toCG(event), static_cast<CGEventField>(field), value);
}

EventFlags eventFlags(EventRef event) {
    return static_cast<EventFlags>(CGEventGetFlags(toCG(event)));
}

EventType eventType(EventRef event) {
    return static_cast<EventType>(CGEventGetType(toCG(event)));
}

// Create rule: the copy belongs to the caller, who releases it with releaseEvent.
EventRef copyEvent(EventRef event) {
    return fromCG(CGEventCreateCopy(toCG(event)));
}

void releaseEvent(EventRef event) {
    if (event) CFRelease(toCG(event));
}

void postToProcess(Pid pid, EventRef event) {
    CGEventPostToPid(pid, toCG(event));
}

void postToHID(EventRef event) {
    CGEventPost(kCGHIDEventTap, toCG(event));
}

Pid frontmostProcess() {
    @autoreleasepool {
        NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
        return app ? static_cast<Pid>(app.processIdentifier) : 0;
    }
}

double uptime() {
    return [[NSProcessInfo processInfo] systemUptime];
}

} // namespace qk::platform
