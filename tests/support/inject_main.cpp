// qkscan-inject: a test-only build of the helper (never installed). It runs the real entry point,
// session set-up, POSIX main loop, standard-input watcher and SIGTERM handling, but its input
// events come from a channel the test feeds instead of the system:
//   fd 3  input: one step per line, as in simulator scenarios
//   ({"at":1.5,"type":"keyDown","key":12},
//         also {"at":2,"frontmost":777} and {"failCopies":1}). The helper's uptime clock is the
//         "at" of the latest line, so that a test decides when a hold goes stale.
//   fd 4  output: one line per post and per verdict, in the simulator's transcript format, the
//         step being the input line's number counted from 0
// The environment variables QKSCAN_INJECT_EVENTS and QKSCAN_INJECT_RECORD name files (or FIFOs) to
// use instead of fds 3 and 4, for when the helper is started by a parent that does not pass extra
// descriptors on. The process is trusted and its tap is allowed; the frontmost process starts as
// 501.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "app/entry.h"
#include "platform/posix/loop.h"
#include "platform/sim/world.h"
#include "platform/streams.h"
#include "sim/scenario.h"
#include "sim/transcript.h"
#include "tests/support/line_channel.h"

namespace {

using namespace qk;

int inputFd = 3;
int recordFd = 4;

test::LineChannel channel; // lines of steps as they arrive
std::int64_t lineNumber = 0;

void writeRecord(const Entry& entry) {
    std::string line;
    appendEntry(line, entry);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t wrote = write(recordFd, line.data() + done, line.size() - done);
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

void recordPost(const sim::Post& post) {
    Entry entry;
    entry.kind = post.kind == sim::PostKind::hid ? Entry::Kind::postHID : Entry::Kind::postProcess;
    entry.at = sim::world().now;
    entry.step = post.event.origin;
    entry.pid = post.pid;
    entry.userData = post.event.userData;
    writeRecord(entry);
}

void runLine(std::string& line) {
    const std::int64_t number = lineNumber++;
    Step step;
    std::string error;
    if (!readStep(line, step, error)) {
        std::fprintf(stderr, "qkscan-inject: line %lld: %s\n", static_cast<long long>(number),
                     error.c_str());
        return;
    }
    sim::world().now = step.at;
    // Stop steps are left out: the real stop paths are standard input and SIGTERM.
    if (changeWorld(step) || step.kind != Step::Kind::input) return;
    step.event.origin = number;
    Entry entry;
    entry.kind = Entry::Kind::verdict;
    entry.verdict = sim::deliver(step.event);
    entry.at = sim::world().now;
    entry.step = number;
    writeRecord(entry);
}

void onInputReadable() {
    if (!channel.readFrom(inputFd, runLine)) posix::unwatchFd(inputFd);
}

void watchInput() {
    posix::watchFd(inputFd, onInputReadable);
}

} // namespace

// Opens the file named by the environment variable `name` in place of `fd`, if it is set.
void openFromEnvironment(const char* name, int flags, int& fd) {
    const char* path = std::getenv(name);
    if (!path) return;
    fd = open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "qkscan-inject: cannot open %s\n", path);
        std::exit(EXIT_FAILURE);
    }
}

int main(int argc, char** argv) {
    // Before the channels are opened, so that neither can take a closed standard descriptor.
    platform::prepareStandardStreams();
    openFromEnvironment("QKSCAN_INJECT_EVENTS", O_RDONLY, inputFd);
    openFromEnvironment("QKSCAN_INJECT_RECORD", O_WRONLY | O_CREAT | O_APPEND, recordFd);
    sim::World& world = sim::world();
    world.onPost = recordPost;
    world.onAttach = watchInput;
    runHelper(argc, argv);
}
