// The listening session's machinery on POSIX hosts: a poll loop on the main thread, a repeating
// timer, a watcher thread that hands the stop over through a pipe, and SIGTERM (and SIGINT, for the
// recorder) turned into work on the main loop through a self-pipe.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/loop.h"
#include "platform/posix/stdin_line.h"
#include "platform/session.h"

namespace qk {

namespace {

using platform::Work;

// Work submitted from another thread travels as the function's address through this pipe, so the
// submitting side touches no memory the main thread owns.
int submitRead = -1, submitWrite = -1;
// The signal handler writes the signal's number here, one byte per signal.
int signalRead = -1, signalWrite = -1;
Work onTermination = nullptr; // SIGTERM
Work onInterrupt = nullptr;   // SIGINT

Work tick = nullptr;
double tickInterval = 0;
double nextTick = 0;

struct Watch {
    int fd;
    void (*ready)();
};
std::vector<Watch> watches;

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void makePipe(int& readEnd, int& writeEnd) {
    if (readEnd >= 0) return;
    int ends[2];
    if (pipe(ends) != 0) {
        std::perror("qkscan: pipe");
        std::exit(EXIT_FAILURE);
    }
    for (const int fd : ends)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    readEnd = ends[0];
    writeEnd = ends[1];
}

void writeFully(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = write(fd, bytes, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        bytes += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
}

void submitToMain(Work work) {
    writeFully(submitWrite, &work, sizeof work);
}

extern "C" void onSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t wrote = write(signalWrite, &byte, 1);
    errno = saved;
}

void handleSignal(int signo) {
    makePipe(signalRead, signalWrite);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signo, &action, nullptr);
    // A parent may have started the process with the signal blocked; it would then never arrive.
    // One already pending is delivered here, to the handler.
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

Work stopWork = nullptr; // read by the watcher thread; written once before it starts

void* watchStandardInput(void*) {
    platform::waitForStandardInputLine();
    submitToMain(stopWork);
    return nullptr;
}

void runSubmitted() {
    Work work = nullptr;
    const ssize_t got = read(submitRead, &work, sizeof work);
    if (got == static_cast<ssize_t>(sizeof work) && work) work();
}

void runSignalled() {
    char bytes[16];
    const ssize_t got = read(signalRead, bytes, sizeof bytes);
    for (ssize_t i = 0; i < got; ++i) {
        const Work work = bytes[i] == SIGINT ? onInterrupt : onTermination;
        if (work) work();
    }
}

int pollTimeoutMs() {
    if (!tick) return -1;
    const double wait = nextTick - monotonicSeconds();
    return wait <= 0 ? 0 : static_cast<int>(std::ceil(wait * 1000));
}

void runTimerIfDue() {
    if (!tick) return;
    const double now = monotonicSeconds();
    if (now < nextTick) return;
    // Like a run-loop timer, a late tick does not cause a burst of catch-up ticks.
    nextTick += tickInterval;
    if (nextTick <= now) nextTick = now + tickInterval;
    tick();
}

} // namespace

namespace posix {

void watchFd(int fd, void (*ready)()) {
    watches.push_back({fd, ready});
}

void unwatchFd(int fd) {
    std::erase_if(watches, [fd](const Watch& watch) { return watch.fd == fd; });
}

} // namespace posix

namespace platform {

void addRepeatingTimer(double interval, Work work) {
    tick = work;
    tickInterval = interval;
    nextTick = monotonicSeconds() + interval;
}

void startStopInputWatcher(Work stop) {
    makePipe(submitRead, submitWrite);
    stopWork = stop;
    // The watcher never takes SIGTERM or SIGINT: it inherits a mask that blocks them, so the
    // signals always reach the main thread.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    pthread_t thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    const int failed = pthread_create(&thread, &attributes, watchStandardInput, nullptr);
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failed) submitToMain(stop); // no watcher, no way to be told to stop: stop now
}

void handleTerminationSignal(Work stop) {
    onTermination = stop;
    handleSignal(SIGTERM);
}

void handleInterruptSignal(Work stop) {
    onInterrupt = stop;
    handleSignal(SIGINT);
}

void runMainLoop() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        if (submitRead >= 0) fds.push_back({submitRead, POLLIN, 0});
        if (signalRead >= 0) fds.push_back({signalRead, POLLIN, 0});
        for (const Watch& watch : watches)
            fds.push_back({watch.fd, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), pollTimeoutMs());
        if (ready < 0 && errno != EINTR) return;
        runTimerIfDue();
        // One piece of work per wake-up; anything else ready is seen on the next round.
        for (const pollfd& fd : fds) {
            if (!(fd.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (fd.fd == submitRead) {
                runSubmitted();
            } else if (fd.fd == signalRead) {
                runSignalled();
            } else {
                for (const Watch& watch : watches)
                    if (watch.fd == fd.fd) {
                        watch.ready();
                        break;
                    }
            }
            break;
        }
    }
}

void exitProcess(int status) {
    std::fflush(stdout);
    std::exit(status);
}

} // namespace platform
} // namespace qk
