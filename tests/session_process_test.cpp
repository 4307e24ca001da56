// The listening session as a process: the real main loop, standard-input watcher thread and
// SIGTERM handling, with input events injected through the test-only helper build.
#include <gtest/gtest.h>

#include <cerrno>
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

constexpr auto patience = 5s; // generous: only a broken helper makes a test wait this long

// What the helper's standard input is: the test's pipe, /dev/null (at end of file from the start),
// or a closed descriptor.
enum class Input {
    pipe,
    devNull,
    closed
};

// What the helper's standard output is: the test's pipe, a full disk, or a closed descriptor.
enum class Output {
    pipe,
    devFull,
    closed
};

// A running helper with pipes to its standard input, output and error and to the event channel.
// It starts with SIGPIPE at its default action, as a parent application would start it.
class Helper {
public:
    explicit Helper(const char* binary, Input stdinKind = Input::pipe,
                    Output stdoutKind = Output::pipe) {
        int in[2], out[2], err[2], events[2], records[2];
        EXPECT_EQ(pipe(in), 0);
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        EXPECT_EQ(pipe(events), 0);
        EXPECT_EQ(pipe(records), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        switch (stdinKind) {
        case Input::pipe:
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
            break;
        case Input::devNull:
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            break;
        case Input::closed:
            posix_spawn_file_actions_addclose(&actions, 0);
            break;
        }
        switch (stdoutKind) {
        case Output::pipe:
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
            break;
        case Output::devFull:
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
            break;
        case Output::closed:
            posix_spawn_file_actions_addclose(&actions, 1);
            break;
        }
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_adddup2(&actions, events[0], 3);
        posix_spawn_file_actions_adddup2(&actions, records[1], 4);
        for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1], events[0], events[1],
                             records[0], records[1]})
            if (fd > 4) posix_spawn_file_actions_addclose(&actions, fd);
        posix_spawnattr_t attributes;
        qk::test::initChildAttributes(attributes);
        char* argv[] = {const_cast<char*>(binary), nullptr};
        EXPECT_EQ(posix_spawn(&pid, binary, &actions, &attributes, argv, environ), 0);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        close(events[0]);
        close(records[1]);
        input = in[1];
        output = out[0];
        error = err[0];
        eventChannel = events[1];
        recordChannel = records[0];
        std::signal(SIGPIPE, SIG_IGN);
    }

    ~Helper() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (const int fd : {input, output, error, eventChannel, recordChannel})
            if (fd >= 0) close(fd);
    }

    void send(const std::string& line) { writeAll(input, line + "\n"); }
    void closeInput() {
        close(input);
        input = -1;
    }
    // The parent stops reading: its end of the helper's standard output is closed.
    void closeOutput() {
        close(output);
        output = -1;
    }
    void inject(const std::string& step) { writeAll(eventChannel, step + "\n"); }

    // The next line of standard output, or "" if none comes in time.
    std::string nextLine() { return readLine(output, outputBuffer); }
    // The next record of the event channel (a verdict or a post), or "" if none comes in time.
    std::string nextRecord() { return readLine(recordChannel, recordBuffer); }

    // Waits for the helper to end; its exit status, or -1 if it was killed or did not end in time.
    int wait() {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                pid = -1;
                if (WIFSIGNALED(status)) signalled = WTERMSIG(status);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(1000);
        }
        return -1;
    }

    // Everything left on standard output once the helper has ended.
    std::string rest() {
        std::string text = outputBuffer;
        for (std::string line; !(line = readLine(output, outputBuffer)).empty();)
            text += line + "\n";
        return text;
    }

    // Everything written to standard error once the helper has ended.
    std::string errors() {
        std::string text;
        for (std::string line; !(line = readLine(error, errorBuffer)).empty();)
            text += line + "\n";
        return text + errorBuffer;
    }

    pid_t pid = -1;
    int signalled = 0;

private:
    static void writeAll(int fd, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
            if (wrote <= 0) return;
            done += static_cast<std::size_t>(wrote);
        }
    }

    static std::string readLine(int fd, std::string& buffer) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (;;) {
            const std::size_t end = buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return "";
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return "";
            char chunk[4096];
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got <= 0) return "";
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    int input = -1, output = -1, error = -1, eventChannel = -1, recordChannel = -1;
    std::string outputBuffer, errorBuffer, recordBuffer;
};

const std::string readyLine = R"({"event":"ready","message":""})";
const std::string dispatchLine = R"({"event":"dispatch-date","message":""})";

// A record without its "at", which is the helper's clock reading.
std::string withoutTime(const std::string& record) {
    const std::size_t comma = record.find(',');
    return comma == std::string::npos ? record : "{" + record.substr(comma + 1);
}

std::string key(const char* type, int code, double at) {
    return R"({"at":)" + std::to_string(at) + R"(,"type":")" + type + R"(","key":)" +
           std::to_string(code) + "}";
}

std::string verdict(int step, const char* what) {
    return R"({"step":)" + std::to_string(step) + R"(,"verdict":")" + what + R"("})";
}

std::string replayed(int step) {
    return R"({"post":"pid","pid":501,"step":)" + std::to_string(step) +
           R"(,"userData":89383961313614})";
}

enum class Stop {
    line,
    eof,
    sigterm
};

void stop(Helper& helper, Stop how) {
    switch (how) {
    case Stop::line:
        helper.send("stop");
        break;
    case Stop::eof:
        helper.closeInput();
        break;
    case Stop::sigterm:
        kill(helper.pid, SIGTERM);
        break;
    }
}

TEST(SessionProcess, RecognisedTriggerPrintsDispatchDate) {
    Helper helper(QKSCAN_INJECT_BINARY);
    ASSERT_EQ(helper.nextLine(), readyLine);
    const int codes[] = {12, 40, 2, 0, 17, 32, 46, 36};
    double at = 1;
    for (const int code : codes) {
        helper.inject(key("keyDown", code, at));
        helper.inject(key("keyUp", code, at + 0.002));
        at += 0.004;
    }
    EXPECT_EQ(helper.nextLine(), dispatchLine);
    // Every key of the scan is dropped, the Return key-up through the swallowed key-ups, and
    // nothing is posted back.
    for (int step = 0; step < 16; ++step)
        EXPECT_EQ(withoutTime(helper.nextRecord()), verdict(step, "drop"));
    helper.send("");
    EXPECT_EQ(helper.wait(), 0);
    EXPECT_EQ(helper.rest(), "");
}

// Each way the parent stops the helper replays what is held before the process ends with 0.
TEST(SessionProcess, EachStopReplaysTheHoldThenExitsZero) {
    for (const Stop how : {Stop::line, Stop::eof, Stop::sigterm}) {
        SCOPED_TRACE(static_cast<int>(how));
        Helper helper(QKSCAN_INJECT_BINARY);
        ASSERT_EQ(helper.nextLine(), readyLine);
        // The helper's clock is the time of the latest injected line, so the hold cannot go
        // stale while the test waits.
        helper.inject(key("keyDown", 12, 1.0));
        helper.inject(key("keyUp", 12, 1.01));
        EXPECT_EQ(withoutTime(helper.nextRecord()), verdict(0, "drop"));
        EXPECT_EQ(withoutTime(helper.nextRecord()), verdict(1, "drop"));
        stop(helper, how);
        EXPECT_EQ(withoutTime(helper.nextRecord()), replayed(0));
        EXPECT_EQ(withoutTime(helper.nextRecord()), replayed(1));
        EXPECT_EQ(helper.wait(), 0);
        EXPECT_EQ(helper.signalled, 0);
        EXPECT_EQ(helper.rest(), ""); // no message on stop
    }
}

// Only SIGTERM is a stop: SIGINT keeps its default action and ends the process.
TEST(SessionProcess, SigintEndsTheProcessByItsDefaultAction) {
    Helper helper(QKSCAN_INJECT_BINARY);
    ASSERT_EQ(helper.nextLine(), readyLine);
    kill(helper.pid, SIGINT);
    EXPECT_EQ(helper.wait(), -1);
    EXPECT_EQ(helper.signalled, SIGINT);
}

TEST(SessionProcess, StaleHoldIsReleasedByTheTimer) {
    Helper helper(QKSCAN_INJECT_BINARY);
    ASSERT_EQ(helper.nextLine(), readyLine);
    helper.inject(key("keyDown", 12, 5.0));
    EXPECT_EQ(withoutTime(helper.nextRecord()), verdict(0, "drop"));
    helper.inject(R"({"at":5.2,"frontmost":501})"); // only moves the clock on
    EXPECT_EQ(withoutTime(helper.nextRecord()), replayed(0));
    helper.closeInput();
    EXPECT_EQ(helper.wait(), 0);
}

// Standard input at end of file, or closed when the helper starts, is a stop: "ready", then exit 0.
// (Closed, the helper's own pipes must not take descriptor 0 and be read as standard input.)
TEST(SessionProcess, InputAtEndOrClosedGivesReadyThenExitsZero) {
    for (const Input kind : {Input::devNull, Input::closed}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Helper helper(QKSCAN_INJECT_BINARY, kind);
        EXPECT_EQ(helper.nextLine(), readyLine);
        EXPECT_EQ(helper.wait(), 0);
        EXPECT_EQ(helper.rest(), "");
    }
}

const std::string lostMessageLine = "qkscan: cannot write a message to standard output; stopping\n";

// A message that cannot be written stops the session: one line on standard error and status 74,
// never a death by SIGPIPE nor a session that goes on swallowing scans nobody hears of.
TEST(SessionProcess, ReadyThatCannotBeWrittenEndsTheSessionWith74) {
    for (const Output kind : {Output::devFull, Output::closed}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Helper helper(QKSCAN_INJECT_BINARY, Input::pipe, kind);
        EXPECT_EQ(helper.wait(), 74); // by itself: its standard input stays open
        EXPECT_EQ(helper.errors(), lostMessageLine);
    }
}

// The parent stops reading while the session runs. What is held is given back before the
// process ends, as on an orderly stop.
TEST(SessionProcess, AParentThatStopsReadingEndsTheSessionAfterTheHoldIsReplayed) {
    {
        SCOPED_TRACE("the next dispatch-date is lost");
        Helper helper(QKSCAN_INJECT_BINARY);
        ASSERT_EQ(helper.nextLine(), readyLine);
        helper.closeOutput();
        const int codes[] = {12, 40, 2, 0, 17, 32, 46, 36};
        double at = 1;
        for (const int code : codes) {
            helper.inject(key("keyDown", code, at));
            helper.inject(key("keyUp", code, at + 0.002));
            at += 0.004;
        }
        // Up to the M's key-up everything is withheld; the process ends inside the filter at
        // Return, whose verdict is never written.
        for (int step = 0; step < 14; ++step)
            EXPECT_EQ(withoutTime(helper.nextRecord()), verdict(step, "drop"));
        EXPECT_EQ(helper.wait(), 74);
        EXPECT_EQ(helper.signalled, 0);
        EXPECT_EQ(helper.nextRecord(), "");
        EXPECT_EQ(helper.errors(), lostMessageLine);
    }
    {
        SCOPED_TRACE("the ready after a disabled tap is lost");
        Helper helper(QKSCAN_INJECT_BINARY);
        ASSERT_EQ(helper.nextLine(), readyLine);
        helper.closeOutput();
        helper.inject(key("keyDown", 12, 1.0));
        EXPECT_EQ(withoutTime(helper.nextRecord()), verdict(0, "drop"));
        helper.inject(R"({"at":1.01,"type":"tapDisabledByTimeout"})");
        EXPECT_EQ(withoutTime(helper.nextRecord()), replayed(0));
        EXPECT_EQ(helper.wait(), 74);
        EXPECT_EQ(helper.signalled, 0);
        EXPECT_EQ(helper.nextRecord(), "");
        EXPECT_EQ(helper.errors(), lostMessageLine);
    }
}

TEST(SessionProcess, CheckModeOfTheTestBuildReportsPermission) {
    const qk::test::Outcome outcome = qk::test::run({QKSCAN_INJECT_BINARY, "--check"}, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "{\"event\":\"permission-present\",\"message\":\"\"}\n");
}

// Without an input-event service the shipped helper can never be trusted.
TEST(ShippedHelperWithoutInputEvents, ReportsPermissionRequired) {
    // Other arguments are ignored, wherever they stand.
    for (const char* other : {"--verbose", "check", "-c"}) {
        const qk::test::Outcome check = qk::test::run({QKSCAN_BINARY, other, "--check"}, "");
        EXPECT_EQ(check.status, 0);
        EXPECT_EQ(check.out, "{\"event\":\"permission-required\",\"message\":\"\"}\n");
    }

    const qk::test::Outcome listen = qk::test::run({QKSCAN_BINARY}, "");
    EXPECT_EQ(listen.status, 2);
    EXPECT_EQ(listen.out.rfind("{\"event\":\"permission-required\",\"message\":\"Na Macu", 0), 0u);
    EXPECT_EQ(listen.out.find('\n'), listen.out.size() - 1);
}

// Its one message cannot be written, in check mode or listening: as in `(sleep 1; qkscan) | true`,
// where the reader is gone before qkscan writes, or on a full disk or a closed standard output.
TEST(ShippedHelperWithoutInputEvents, AnAnswerThatCannotBeWrittenIsStatus74) {
    qk::test::Streams unread, full, closed;
    unread.outputUnread = true;
    full.outputFile = "/dev/full";
    closed.outputClosed = true;
    for (const qk::test::Streams& streams : {unread, full, closed}) {
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{QKSCAN_BINARY, "--check"}, {QKSCAN_BINARY}}) {
            SCOPED_TRACE(command.size() == 2 ? "check" : "listening");
            const qk::test::Outcome outcome = qk::test::run(command, "", streams);
            EXPECT_EQ(outcome.signal, 0);
            EXPECT_EQ(outcome.status, 74);
            EXPECT_EQ(outcome.err, lostMessageLine);
        }
    }
}

} // namespace
