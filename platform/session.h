// The main-thread machinery of the listening session (and of the recorder): main loop, timer, the
// standard-input watcher thread, submission to the main thread, signal handling and exit. One
// implementation per host is linked in: macOS (run loop and dispatch), POSIX (poll), and the
// simulator's virtual time.
#pragma once

namespace qk::platform {

// Work run on the main thread, one piece at a time.
using Work = void (*)();

// Runs `tick` on the main thread every `interval` seconds, the first one interval from now.
void addRepeatingTimer(double interval, Work tick);

// Starts a thread that reads one line from standard input (its content ignored) and, once the read
// returns with a line, at end of input or on an error, submits `stop` to the main thread.
void startStopInputWatcher(Work stop);

// From now on the termination signal (SIGTERM) runs `stop` on the main thread instead of ending
// the process.
void handleTerminationSignal(Work stop);

// From now on the interrupt signal (SIGINT, Control-C in a terminal) runs `stop` on the main thread
// instead of ending the process. The listening session does not call it: there SIGINT keeps its
// default action.
void handleInterruptSignal(Work stop);

// Runs the main loop: tap callbacks, timer ticks and submitted work. Returns only if the loop ends.
void runMainLoop();

// Ends the process with `status`, standard output flushed.
[[noreturn]] void exitProcess(int status);

} // namespace qk::platform
