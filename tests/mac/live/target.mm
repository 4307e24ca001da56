// qk-mac-target: what the macOS live tests type into. One window, or with "panel" a non-activating
// panel (as launchers and search panels use), whose only content is a text view with the keyboard
// focus. The view records what it receives, in order: the characters of each key-down (Return as
// "\n", another control character as "^" and its letter, so Control-K is "^K") and each press of
// the mouse button on it as "{click}". Commands, one per line on standard input, are answered on
// standard output, one line each:
//   front      a window: activates the application and makes the window key; a panel: makes it
//              key without activating anything. "front 1" once that is so, "front 0" if it is not
//              within 3 s
//   yield PID  lets the application with process id PID activate itself while this one is
//              active (from macOS 14 an application may take the front only when offered it);
//              "yield 1", or "yield 0" if there is no such application
//   state      "state A K": A is 1 if the application is active, K is 1 if the window is key
//   received   "received " and the record, with "\" and line breaks written "\\" and "\n"
//   quit       "quit", then the program ends (as it does at the end of its standard input)
// Once the window is up it prints "ready PID X Y TX TY": its process id, the middle of the text
// view and a point in the title bar, in global display coordinates (points from the top left of
// the main display), where the tests' events are aimed.
//
// Usage: qk-mac-target window|panel LEFT TOP   (the window's top left, in those coordinates)
#import <AppKit/AppKit.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/live/record_text.h"

namespace {

bool panelMode = false;
CGFloat left = 0, top = 0;
NSWindow* window = nil;
NSTextView* view = nil;
std::string record;

void reply(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void recordCharacters(NSString* characters) {
    for (NSUInteger i = 0; i < characters.length; ++i) {
        const unichar c = [characters characterAtIndex:i];
        if (c == '\r' || c == '\n' || c == 3) { // Return, line feed, the keypad's Enter
            record += '\n';
        } else if (c < 0x20) {
            record += '^';
            record += static_cast<char>('@' + c);
        } else if (c < 0x80) {
            record += static_cast<char>(c);
        } else {
            const char* utf8 = [characters substringWithRange:NSMakeRange(i, 1)].UTF8String;
            record += utf8 ? utf8 : "?";
        }
    }
}

// Cocoa's screen coordinates start at the bottom left of the main display, the events' at its top
// left.
CGFloat mainDisplayHeight() {
    return NSScreen.screens.firstObject.frame.size.height;
}
NSPoint toGlobal(NSPoint point) {
    return NSMakePoint(point.x, mainDisplayHeight() - point.y);
}

bool inFront() {
    return window.isKeyWindow && (panelMode || NSApp.isActive);
}

// The calls of macOS 14's cooperative activation (-activate, -yieldActivationToApplication:) are
// looked up at run time, so that the program builds with older SDKs and runs on older systems,
// where activateIgnoringOtherApps: takes the front and nothing needs to be offered.
void bringToFront() {
    if (panelMode) {
        // A non-activating panel takes the key focus and leaves the active application as it is.
        [window orderFrontRegardless];
        [window makeKeyWindow];
        return;
    }
    if ([NSApp respondsToSelector:@selector(activate)]) {
        [NSApp performSelector:@selector(activate)];
    } else {
        [NSApp activateIgnoringOtherApps:YES];
    }
    [window makeKeyAndOrderFront:nil];
}

// Activation takes effect later, on this run loop: looks again every 10 ms.
void replyOnceInFront(double deadline) {
    if (inFront() || CFAbsoluteTimeGetCurrent() > deadline) {
        reply(inFront() ? "front 1" : "front 0");
        return;
    }
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 10 * NSEC_PER_MSEC), dispatch_get_main_queue(),
                   ^{
                     replyOnceInFront(deadline);
                   });
}

void yieldTo(pid_t pid) {
    NSRunningApplication* other =
        [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    if (!other) {
        reply("yield 0");
        return;
    }
    if ([NSApp respondsToSelector:@selector(yieldActivationToApplication:)])
        [NSApp performSelector:@selector(yieldActivationToApplication:) withObject:other];
    reply("yield 1");
}

void handle(const std::string& command) {
    if (command == "front") {
        bringToFront();
        replyOnceInFront(CFAbsoluteTimeGetCurrent() + 3);
    } else if (command.rfind("yield ", 0) == 0) {
        yieldTo(static_cast<pid_t>(std::atoi(command.c_str() + 6)));
    } else if (command == "state") {
        reply(std::string("state ") + (NSApp.isActive ? "1" : "0") + " " +
              (window.isKeyWindow ? "1" : "0"));
    } else if (command == "received") {
        reply("received " + qk::live::escapedRecord(record));
    } else if (command == "quit") {
        reply("quit");
        std::exit(0);
    } else {
        reply("unknown " + command);
    }
}

// Commands are read on a thread of their own and carried out on the main thread, one at a time.
void readCommands() {
    [NSThread detachNewThreadWithBlock:^{
      char* line = nullptr;
      std::size_t capacity = 0;
      ssize_t length = 0;
      while ((length = getline(&line, &capacity, stdin)) >= 0) {
          std::string command(line, static_cast<std::size_t>(length));
          while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
              command.pop_back();
          dispatch_sync(dispatch_get_main_queue(), ^{
            handle(command);
          });
      }
      std::free(line);
      dispatch_async(dispatch_get_main_queue(), ^{
        std::exit(0); // the test has gone
      });
    }];
}

NSWindow* makeWindow(NSRect content) {
    if (!panelMode)
        return [[NSWindow alloc] initWithContentRect:content
                                           styleMask:NSWindowStyleMaskTitled
                                             backing:NSBackingStoreBuffered
                                               defer:NO];
    NSPanel* panel = [[NSPanel alloc]
        initWithContentRect:content
                  styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskNonactivatingPanel
                    backing:NSBackingStoreBuffered
                      defer:NO];
    panel.becomesKeyOnlyIfNeeded = NO;
    panel.floatingPanel = YES;
    panel.hidesOnDeactivate = NO;
    return panel;
}

} // namespace

@interface RecordingTextView : NSTextView
@end

@implementation RecordingTextView
- (void)keyDown:(NSEvent*)event {
    recordCharacters(event.characters ? event.characters : @"");
    [super keyDown:event];
}
// Recorded, not handled: a text view would follow the pointer until the button is released, and
// the release can come before the press when the helper re-posts a press made during a hold.
- (void)mouseDown:(NSEvent*)event {
    static_cast<void>(event);
    record += "{click}";
}
- (BOOL)acceptsFirstMouse:(NSEvent*)event {
    static_cast<void>(event);
    return YES;
}
@end

@interface Target : NSObject <NSApplicationDelegate>
@end

@implementation Target
- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    static_cast<void>(notification);
    const NSRect content = NSMakeRect(0, 0, 300, 150);
    window = makeWindow(content);
    window.releasedWhenClosed = NO;
    window.title = panelMode ? @"qkscan live test panel" : @"qkscan live test window";
    view = [[RecordingTextView alloc] initWithFrame:content];
    window.contentView = view;
    [window setFrameTopLeftPoint:NSMakePoint(left, mainDisplayHeight() - top)];
    [window makeFirstResponder:view];
    if (panelMode) {
        bringToFront();
    } else {
        [window orderFront:nil];
    }
    const NSRect frame = window.frame;
    const NSRect inside = [window contentRectForFrameRect:frame];
    const NSRect field = [window convertRectToScreen:[view convertRect:view.bounds toView:nil]];
    const NSPoint middle = toGlobal(NSMakePoint(NSMidX(field), NSMidY(field)));
    const NSPoint title =
        toGlobal(NSMakePoint(NSMidX(frame), (NSMaxY(inside) + NSMaxY(frame)) / 2));
    char line[160];
    std::snprintf(line, sizeof line, "ready %d %.0f %.0f %.0f %.0f", getpid(), middle.x, middle.y,
                  title.x, title.y);
    reply(line);
    readCommands();
}
@end

int main(int argc, char** argv) {
    if (argc != 4 || (std::string(argv[1]) != "window" && std::string(argv[1]) != "panel")) {
        std::fprintf(stderr, "usage: qk-mac-target window|panel LEFT TOP\n");
        return 2;
    }
    panelMode = std::string(argv[1]) == "panel";
    left = std::atof(argv[2]);
    top = std::atof(argv[3]);
    @autoreleasepool {
        [NSApplication sharedApplication];
        // A launcher's panel belongs to an application without a Dock icon that is never active.
        [NSApp setActivationPolicy:panelMode ? NSApplicationActivationPolicyAccessory
                                             : NSApplicationActivationPolicyRegular];
        static Target* delegate = [[Target alloc] init]; // the application keeps it weakly
        NSApp.delegate = delegate;
        [NSApp run];
    }
    return 0;
}
