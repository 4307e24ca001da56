// The listening session's machinery on macOS: the main run loop, an NSTimer in the common modes,
// an NSThread that waits for the parent's stop on standard input, the main dispatch queue, and
// dispatch signal sources for SIGTERM (and SIGINT, for the recorder).
#include "platform/session.h"

#import <Foundation/Foundation.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dispatch/dispatch.h>

#include "platform/posix/stdin_line.h"

namespace qk::platform {

namespace {

// Kept for the life of the process.
NSTimer* timer = nil;
NSThread* stopInput = nil;
dispatch_source_t stopSignal = nil;
dispatch_source_t interruptSignal = nil;

// A source on the main queue that runs `stop` when `signo` arrives.
dispatch_source_t handleSignal(int signo, Work stop) {
    dispatch_source_t source = dispatch_source_create(
        DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(signo), 0, dispatch_get_main_queue());
    dispatch_source_set_event_handler(source, ^{
      @autoreleasepool {
          stop();
      }
    });
    dispatch_resume(source);
    // Only now ignored, so that the default action no longer ends the process: the source sees
    // the signal whatever its disposition. In the other order a signal in between would neither
    // end the process nor reach the handler.
    signal(signo, SIG_IGN);
    return source;
}

} // namespace

void addRepeatingTimer(double interval, Work tick) {
    timer = [NSTimer timerWithTimeInterval:interval
                                   repeats:YES
                                     block:^(NSTimer*) {
                                       @autoreleasepool {
                                           tick();
                                       }
                                     }];
    [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSRunLoopCommonModes];
}

void startStopInputWatcher(Work stop) {
    stopInput = [[NSThread alloc] initWithBlock:^{
      waitForStandardInputLine();
      dispatch_async(dispatch_get_main_queue(), ^{
        @autoreleasepool {
            stop();
        }
      });
    }];
    [stopInput start];
}

void handleTerminationSignal(Work stop) {
    stopSignal = handleSignal(SIGTERM, stop);
}

void handleInterruptSignal(Work stop) {
    interruptSignal = handleSignal(SIGINT, stop);
}

void runMainLoop() {
    CFRunLoopRun();
}

void exitProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}

} // namespace qk::platform
