// The recorder as a process: the real POSIX main loop, standard-input watcher and signal handling
// stop it, whichever way, with the whole recording on standard output, which the real helper's
// self-test then reads. Key-downs are injected through the test-only recorder build.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/process.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 5s; // only a broken recorder makes a test wait this long

// A running recorder with pipes to its standard input, output and error and its key channel. With
// `stopSignalsBlocked` it starts with SIGTERM and SIGINT blocked, as a parent may start it, so
// that a signal sent at once waits for the recorder instead of finding it not yet started.
class Recorder {
public:
    explicit Recorder(std::vector<std::string> arguments, bool outputToDevFull = false,
                      bool stopSignalsBlocked = false) {
        int in[2], out[2], err[2], keys[2];
        EXPECT_EQ(pipe(in), 0);
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        EXPECT_EQ(pipe(keys), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        if (outputToDevFull) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
        } else {
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        }
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_adddup2(&actions, keys[0], 3);
        for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1], keys[0], keys[1]})
            if (fd > 3) posix_spawn_file_actions_addclose(&actions, fd);
        arguments.insert(arguments.begin(), QKSCAN_RECORD_INJECT_BINARY);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        if (stopSignalsBlocked) {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGTERM);
            sigaddset(&blocked, SIGINT);
            posix_spawnattr_setsigmask(&attributes, &blocked);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        }
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ), 0);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        for (const int fd : {in[0], out[1], err[1], keys[0]})
            close(fd);
        input = in[1];
        output = out[0];
        error = err[0];
        keyChannel = keys[1];
        std::signal(SIGPIPE, SIG_IGN);
    }

    ~Recorder() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (const int fd : {input, output, error, keyChannel})
            if (fd >= 0) close(fd);
    }

    void key(int code, double at) {
        const std::string line = R"({"at":)" + std::to_string(at) + R"(,"type":"keyDown","key":)" +
                                 std::to_string(code) + "}\n";
        EXPECT_EQ(write(keyChannel, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }

    // Moves the recorder's clock on without a key.
    void clock(double at) {
        const std::string line = R"({"at":)" + std::to_string(at) +
                                 R"(,"frontmost":501})"
                                 "\n";
        EXPECT_EQ(write(keyChannel, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    // Reads standard error until it holds `text`; false if it does not come in time.
    bool waitForError(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (errors.find(text) == std::string::npos) {
            if (!readSome(error, errors, deadline)) return false;
        }
        return true;
    }

    void send(const std::string& line) {
        EXPECT_EQ(write(input, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    void closeInput() {
        close(input);
        input = -1;
    }

    // Waits for the end; the exit status, or -1 if it was killed or did not end in time.
    int wait() {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (readSome(output, outputText, deadline)) {
        }
        while (readSome(error, errors, deadline)) {
        }
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(1000);
        }
        return -1;
    }

    pid_t pid = -1;
    std::string outputText, errors;

private:
    // Appends what `fd` has to `text`; false at its end or if nothing comes before `deadline`.
    static bool readSome(int fd, std::string& text,
                         std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) return false;
        text.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    int input = -1, output = -1, error = -1, keyChannel = -1;
};

const std::vector<int> scan = {12, 40, 2, 0, 17, 32, 46, 36}; // QKDATUM, Return

// A scan, then the beginning of another, then a quiet second and more: the verdict on the second
// sequence tells the test that every key has arrived.
void scanThenStartAnother(Recorder& recorder) {
    double at = 10;
    for (const int code : scan)
        recorder.key(code, at += 0.005);
    recorder.key(12, 20);
    recorder.key(40, 20.005);
    recorder.clock(21.5);
    EXPECT_TRUE(recorder.waitForError("Sequence 2 (2 keys): ")) << recorder.errors;
    EXPECT_NE(recorder.errors.find("Sequence 1 (8 keys): recognised."), std::string::npos);
}

std::string selfTest(const std::string& document) {
    const qk::test::Outcome outcome = qk::test::run({QKSCAN_BINARY, "--self-test"}, document);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return outcome.out;
}

TEST(RecorderProcess, EachStopWritesTheWholeRecording) {
    struct Stop {
        const char* title;
        void (*stop)(Recorder&);
    };
    const std::vector<Stop> stops = {
        {"a line on standard input", [](Recorder& r) { r.send("\n"); }},
        {"the end of standard input", [](Recorder& r) { r.closeInput(); }},
        {"SIGINT", [](Recorder& r) { kill(r.pid, SIGINT); }},
        {"SIGTERM", [](Recorder& r) { kill(r.pid, SIGTERM); }},
    };
    for (const Stop& s : stops) {
        SCOPED_TRACE(s.title);
        Recorder recorder({});
        ASSERT_TRUE(recorder.waitForError("recording for 30 s"));
        scanThenStartAnother(recorder);
        s.stop(recorder);
        EXPECT_EQ(recorder.wait(), 0) << recorder.errors;
        EXPECT_EQ(selfTest(recorder.outputText), "[[1,1,1,1,1,1,1,3],[1,1]]\n")
            << recorder.outputText;
        EXPECT_NE(recorder.errors.find("qkscan-record: 2 sequences, 10 keys."), std::string::npos)
            << recorder.errors;
    }
}

// A signal the moment the recorder starts, before it has set anything up, still gets the whole
// recording written: here an empty one.
TEST(RecorderProcess, ASignalAtOnceStillWritesTheRecording) {
    for (const int signo : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signo);
        Recorder recorder({}, false, true);
        kill(recorder.pid, signo);
        EXPECT_EQ(recorder.wait(), 0) << recorder.errors;
        EXPECT_EQ(recorder.outputText, "[]\n");
        EXPECT_NE(recorder.errors.find("no key was pressed"), std::string::npos) << recorder.errors;
    }
}

// The example key file, replayed as its README says, from descriptor 3 or the file named by
// QKSCAN_INJECT_EVENTS: a verdict for each of its six sequences and the whole recording.
TEST(RecorderProcess, ReplaysTheExampleKeyFile) {
    const std::string keys = QKSCAN_SOURCE_DIR "/examples/recorder/scans.keys";
    const std::vector<std::vector<std::string>> commands = {
        {"/bin/sh", "-c", "exec \"$0\" 3< \"$1\"", QKSCAN_RECORD_INJECT_BINARY, keys},
        {"/bin/sh", "-c", "QKSCAN_INJECT_EVENTS=\"$1\" exec \"$0\"", QKSCAN_RECORD_INJECT_BINARY,
         keys},
    };
    for (const std::vector<std::string>& command : commands) {
        SCOPED_TRACE(command[2]);
        const qk::test::Outcome outcome = qk::test::run(command, "");
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        for (const char* verdict :
             {"Sequence 1 (8 keys): recognised.", "Sequence 2 (8 keys): not recognised: too slow.",
              "Sequence 3 (8 keys): not recognised: another key where Enter should be.",
              "Sequence 4 (8 keys): not recognised: other keys than the code.",
              "Sequence 5 (8 keys): not recognised: Command was held down.",
              "Sequence 6 (4 keys): not a scan."})
            EXPECT_NE(outcome.err.find(verdict), std::string::npos) << verdict << outcome.err;
        EXPECT_EQ(selfTest(outcome.out), "[[1,1,1,1,1,1,1,3],[1,2,0,0,0,0,0,0],[1,1,1,1,1,1,1,2],"
                                         "[0,0,0,1,2,0,0,0],[0,0,0,0,0,0,0,0],[1,2,0,0]]\n");
    }
}

TEST(RecorderProcess, StopsOnceItsTimeIsUp) {
    Recorder recorder({"--seconds", "5"});
    ASSERT_TRUE(recorder.waitForError("recording for 5 s"));
    recorder.key(12, 4.95);
    recorder.key(40, 5.01); // the clock is past the end: the next timer tick stops the recording
    EXPECT_EQ(recorder.wait(), 0) << recorder.errors;
    EXPECT_EQ(selfTest(recorder.outputText), "[[1,1]]\n") << recorder.outputText;
}

TEST(RecorderProcess, BadArgumentsAndWriteErrors) {
    Recorder bad({"--seconds", "0"});
    EXPECT_EQ(bad.wait(), 64);
    EXPECT_EQ(bad.outputText, "");

    Recorder full({}, true);
    ASSERT_TRUE(full.waitForError("recording for"));
    kill(full.pid, SIGINT);
    EXPECT_EQ(full.wait(), 74);
    EXPECT_NE(full.errors.find("cannot write the recording"), std::string::npos) << full.errors;
}

} // namespace
