// qkscan-record-inject: a test-only build of the recorder (never installed). It runs the real
// recorder on the POSIX main loop, standard-input watcher and signal handling, but its key-downs
// come from fd 3, or the file named by QKSCAN_INJECT_EVENTS, one step per line as in simulator
// scenarios ({"at":1.5,"type":"keyDown","key":12}). Its uptime clock is the "at" of the latest
// line, 0 before the first; a line of another step, such as {"at":30,"frontmost":501}, only moves
// the clock on. Input Monitoring is granted. examples/recorder/README.md shows it at work.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/posix/loop.h"
#include "platform/sim/world.h"
#include "platform/streams.h"
#include "record/recorder.h"
#include "sim/scenario.h"
#include "tests/support/line_channel.h"

namespace {

using namespace qk;

int inputFd = 3;
test::LineChannel channel; // lines of steps as they arrive

void runLine(std::string& line) {
    Step step;
    std::string error;
    if (!readStep(line, step, error)) return;
    sim::world().now = step.at;
    // Other steps only move the clock on.
    if (step.kind == Step::Kind::input) sim::deliver(step.event);
}

void onInputReadable() {
    if (!channel.readFrom(inputFd, runLine)) posix::unwatchFd(inputFd);
}

void watchInput() {
    posix::watchFd(inputFd, onInputReadable);
}

} // namespace

int main(int argc, char** argv) {
    platform::prepareStandardStreams();
    if (const char* path = std::getenv("QKSCAN_INJECT_EVENTS")) {
        inputFd = open(path, O_RDONLY | O_CLOEXEC);
        if (inputFd < 0) {
            std::fprintf(stderr, "qkscan-record-inject: cannot open %s\n", path);
            return EXIT_FAILURE;
        }
    }
    sim::world().onAttach = watchInput;
    runRecorder(argc, argv, stdout, stderr);
}
