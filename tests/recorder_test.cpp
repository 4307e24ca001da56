// qkscan-record's driver on the simulated platform: arguments, permission, the listen-only tap,
// every way of stopping, and the document it leaves, also as the real helper's self-test reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/self_test.h"
#include "app/session.h"
#include "intercept/hold_buffer.h"
#include "platform/sim/listen.h"
#include "platform/sim/session.h"
#include "platform/sim/world.h"
#include "record/recorder.h"
#include "tests/support/process.h"

namespace qk {
namespace {

// What the simulated main loop does; it ends by stopping the recorder one way or another.
std::function<void()> script;

void runScript() {
    if (script) script();
}

std::string contents(std::FILE* file) {
    std::fflush(file);
    const long end = std::ftell(file);
    std::rewind(file);
    std::string text(static_cast<std::size_t>(end), '\0');
    const std::size_t got = std::fread(text.data(), 1, text.size(), file);
    text.resize(got);
    std::fseek(file, 0, SEEK_END);
    return text;
}

struct Recorded {
    int status = -1;
    std::string out, err;
};

class RecorderTest : public testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        sim::resetListenAccess();
        sim::resetSessionHooks();
        sim::sessionHooks().mainLoop = runScript;
        script = nullptr;
        if (err) std::fclose(err);
        err = std::tmpfile();
        ASSERT_NE(err, nullptr);
    }
    void TearDown() override {
        script = nullptr;
        if (err) std::fclose(err);
        err = nullptr;
    }

    // Runs the recorder with `arguments` (after the program's name) and the main loop `body`.
    Recorded record(std::vector<std::string> arguments, std::function<void()> body,
                    std::FILE* out = nullptr) {
        script = std::move(body);
        std::FILE* ownOut = out ? nullptr : std::tmpfile();
        if (!out) out = ownOut;
        arguments.insert(arguments.begin(), "qkscan-record");
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        Recorded run;
        try {
            runRecorder(static_cast<int>(arguments.size()), argv.data(), out, err);
        } catch (const sim::ProcessExit& exit) {
            run.status = exit.status;
        }
        if (ownOut) {
            run.out = contents(ownOut);
            std::fclose(ownOut);
        }
        run.err = contents(err);
        return run;
    }

    std::string errorSoFar() { return contents(err); }

    std::FILE* err = nullptr;
};

// Hands the tap a key-down at `at`.
void press(KeyCode key, double at, EventFlags flags = 0, bool autorepeat = false,
           std::int64_t userData = 0) {
    sim::world().now = at;
    sim::Event event;
    event.type = types::keyDown;
    event.key = key;
    event.flags = flags;
    event.autorepeat = autorepeat ? 1 : 0;
    event.userData = userData;
    sim::deliver(event);
}

void typeKeys(const std::vector<KeyCode>& keys, double start, double step) {
    for (std::size_t i = 0; i < keys.size(); ++i)
        press(keys[i], start + static_cast<double>(i) * step);
}

const std::vector<KeyCode> scan = {12, 40, 2, 0, 17, 32, 46, 36}; // QKDATUM, Return

// The timer as the main loop runs it, once at `at`.
void tickAt(double at) {
    sim::world().now = at;
    sim::sessionHooks().tick();
}

// A line or the end of standard input: the stop comes a few ticks later.
void stopByLine() {
    sim::sessionHooks().stopFromInput();
    for (int tick = 0; tick < 10; ++tick)
        tickAt(sim::world().now);
    ADD_FAILURE() << "no stop ten ticks after the line";
}

std::string selfTestOf(std::string document) {
    std::string out, error;
    EXPECT_EQ(selfTest(document, out, error), 0) << error << document;
    return out;
}

TEST_F(RecorderTest, ReadsItsArguments) {
    struct Good {
        std::vector<const char*> arguments;
        double seconds;
        bool help;
    };
    for (const Good& c : std::vector<Good>{{{}, 30, false},
                                           {{"--seconds", "5"}, 5, false},
                                           {{"--seconds=0.5"}, 0.5, false},
                                           {{"--seconds", "86400"}, 86400, false},
                                           {{"--seconds", "2", "--seconds", "7"}, 7, false},
                                           {{"--help"}, 30, true}}) {
        std::vector<const char*> argv = {"qkscan-record"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        RecorderOptions options;
        std::string error;
        ASSERT_TRUE(
            parseRecorderArguments(static_cast<int>(argv.size()), argv.data(), options, error))
            << error;
        EXPECT_EQ(options.seconds, c.seconds);
        EXPECT_EQ(options.help, c.help);
    }
}

TEST_F(RecorderTest, RefusesBadArgumentsWithAUsageLineBeforeAskingForAnything) {
    const std::vector<std::vector<std::string>> bad = {
        {"--seconds"},           {"--seconds", "0"},    {"--seconds", "-1"},
        {"--seconds", "abc"},    {"--seconds", "1e3"},  {"--seconds", "inf"},
        {"--seconds", "nan"},    {"--seconds", "0x10"}, {"--seconds", "86400.5"},
        {"--seconds", ""},       {"--seconds", "."},    {"--seconds="},
        {"--seconds", "5", "x"}, {"--check"},           {"-s", "5"},
    };
    for (const std::vector<std::string>& arguments : bad) {
        SetUp();
        SCOPED_TRACE(testing::PrintToString(arguments));
        const Recorded run = record(arguments, [] { FAIL() << "the recorder ran"; });
        EXPECT_EQ(run.status, usageError);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find("qkscan-record: "), 0u) << run.err;
        EXPECT_NE(run.err.find("usage: qkscan-record [--seconds N]"), std::string::npos);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(sim::listenAccess().checks + sim::listenAccess().requests, 0);
    }
}

TEST_F(RecorderTest, HelpSaysWhatIsRecordedAndNeedsNoPermission) {
    const Recorded run = record({"--help"}, [] { FAIL() << "the recorder ran"; });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, recorderUsage);
    EXPECT_NE(run.out.find("no characters and no key codes are recorded"), std::string::npos);
    EXPECT_NE(run.out.find("Input Monitoring"), std::string::npos);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(sim::listenAccess().checks, 0);
}

TEST_F(RecorderTest, AsksForInputMonitoringOnlyWhenItIsMissing) {
    struct Case {
        const char* title;
        bool allowed, grantedOnRequest, tapAllowed, tapKeysAllowed, sourceAllowed;
        int requests, status;
    };
    for (const Case& c : std::vector<Case>{
             {"allowed", true, false, true, true, true, 0, 0},
             {"granted when asked", false, true, true, true, true, 1, 0},
             {"refused", false, false, true, true, true, 1, permissionMissing},
             {"allowed, but the tap is refused", true, false, false, true, true, 0,
              permissionMissing},
             {"allowed, but the tap gets no key-downs", true, false, true, false, true, 0,
              permissionMissing},
             {"a tap without a run-loop source", true, false, true, true, false, 0,
              permissionMissing},
         }) {
        SetUp();
        SCOPED_TRACE(c.title);
        sim::listenAccess().allowed = c.allowed;
        sim::listenAccess().grantedOnRequest = c.grantedOnRequest;
        sim::world().tapAllowed = c.tapAllowed;
        sim::world().tapKeysAllowed = c.tapKeysAllowed;
        sim::world().sourceAllowed = c.sourceAllowed;
        const Recorded run = record({}, [] { stopByLine(); });
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(sim::listenAccess().checks, 1);
        EXPECT_EQ(sim::listenAccess().requests, c.requests);
        // Never the Accessibility checks of the listening session.
        EXPECT_EQ(sim::world().plainTrustChecks + sim::world().promptingTrustChecks, 0);
        if (c.status == permissionMissing) {
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find("System Settings > Privacy & Security > Input Monitoring"),
                      std::string::npos)
                << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        } else {
            EXPECT_EQ(run.out, "[]\n");
        }
    }
}

TEST_F(RecorderTest, ListensOnlyToKeyDownsWithAListenOnlyTap) {
    const Recorded run = record({}, [] {
        EXPECT_TRUE(sim::listenAccess().listenOnlyTap);
        EXPECT_EQ(sim::world().tapMask, 1ULL << types::keyDown);
        // The clock's first read, before the tap exists rather than at the first key.
        EXPECT_TRUE(sim::world().preparedBeforeTap);
        EXPECT_TRUE(sim::world().tapAttached);
        EXPECT_EQ(sim::world().tapEnables, 1);
        stopByLine();
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("recording for 30 s"), std::string::npos) << run.err;
}

bool signalsHandledAtAttach = false;
void noteSignalHandling() {
    const sim::SessionHooks& hooks = sim::sessionHooks();
    signalsHandledAtAttach = hooks.stopFromSignal && hooks.stopFromInterrupt;
}

// SIGTERM and SIGINT are handled before the tap can hand over a key, so that a signal at any
// moment of a recording writes it whole.
TEST_F(RecorderTest, HandlesTheSignalsBeforeAnythingCanBeRecorded) {
    signalsHandledAtAttach = false;
    sim::world().onAttach = noteSignalHandling;
    const Recorded run = record({}, [] { sim::sessionHooks().stopFromSignal(); });
    EXPECT_TRUE(signalsHandledAtAttach);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[]\n");
}

// Two scans, the second stopped in its middle, by each way of stopping.
TEST_F(RecorderTest, WritesACompleteDocumentHoweverItIsStopped) {
    struct Case {
        const char* title;
        std::vector<std::string> arguments;
        std::function<void()> stop;
    };
    const std::vector<Case> stops = {
        {"a line or the end of standard input", {}, [] { stopByLine(); }},
        {"SIGTERM", {}, [] { sim::sessionHooks().stopFromSignal(); }},
        {"SIGINT", {}, [] { sim::sessionHooks().stopFromInterrupt(); }},
        {"the end of the time", {"--seconds", "20"}, [] { tickAt(120.0); }},
        {"the main loop returning", {}, [] {}},
    };
    for (const Case& c : stops) {
        SetUp();
        SCOPED_TRACE(c.title);
        sim::world().now = 100;
        const Recorded run = record(c.arguments, [&] {
            typeKeys(scan, 101, 0.005);
            typeKeys({12, 40, 2}, 110, 0.005);
            c.stop();
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(selfTestOf(run.out), "[[1,1,1,1,1,1,1,3],[1,1,1]]\n") << run.out;
        EXPECT_NE(run.err.find("Sequence 1 (8 keys): recognised."), std::string::npos);
        EXPECT_NE(run.err.find("Sequence 2 (3 keys): "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("qkscan-record: 2 sequences, 11 keys."), std::string::npos);
    }
}

TEST_F(RecorderTest, ALineStopsAFewTicksLaterSoThatTheScansOwnEnterIsRecorded) {
    sim::world().now = 59;
    const Recorded run = record({}, [] {
        typeKeys({12, 40, 2, 0, 17, 32, 46}, 60, 0.005);
        sim::sessionHooks().stopFromInput(); // the line of the Enter typed into this terminal ...
        tickAt(60.04);
        sim::sessionHooks().stopFromInput(); // (a second request changes nothing)
        press(36, 60.045);                   // ... comes before its key-down
        tickAt(60.1);
        tickAt(60.2);
        ADD_FAILURE() << "still recording";
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(selfTestOf(run.out), "[[1,1,1,1,1,1,1,3]]\n");
}

TEST_F(RecorderTest, StopsWhenTheTimeIsUpAndNotBefore) {
    sim::world().now = 50;
    const Recorded run = record({"--seconds", "2.5"}, [] {
        EXPECT_DOUBLE_EQ(sim::sessionHooks().tickInterval, recorderTick);
        tickAt(52.4);
        tickAt(52.45);
        press(12, 52.47);
        tickAt(52.5); // 2.5 s after the start
        ADD_FAILURE() << "still recording";
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[\n[{\"key\":\"Q\",\"at\":52.47}]\n]\n");
}

TEST_F(RecorderTest, GivesEachVerdictOnceItsSequenceHasBeenQuietForASecond) {
    const Recorded run = record({}, [this] {
        typeKeys(scan, 10, 0.005);
        const double last = 10 + 7 * 0.005;
        tickAt(last + 0.5);
        EXPECT_EQ(errorSoFar().find("Sequence 1"), std::string::npos);
        tickAt(last + 1.05);
        EXPECT_NE(errorSoFar().find("Sequence 1 (8 keys): recognised."), std::string::npos);
        tickAt(last + 2);
        typeKeys({12, 40}, 20, 0.2);
        sim::sessionHooks().stopFromInterrupt();
    });
    EXPECT_EQ(run.status, 0);
    // Each verdict once, in order.
    const std::size_t first = run.err.find("Sequence 1 ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(run.err.find("Sequence 1 ", first + 1), std::string::npos);
    EXPECT_GT(run.err.find("Sequence 2 (2 keys): "), first);
}

TEST_F(RecorderTest, RecordsWhatTheSessionWouldFeedItsMatcher) {
    const Recorded run = record({}, [] {
        press(12, 30, 0, true);            // an autorepeated Q
        press(40, 30.01, flags::command);  // Command-K
        press(2, 30.02, 0x20000);          // Shift-D
        press(0, 30.03, 0, false, marker); // a running qkscan's own replay: left out
        sim::Event up;                     // key-ups are not key-downs
        up.type = types::keyUp;
        up.key = 17;
        sim::deliver(up);
        stopByLine();
    });
    EXPECT_EQ(run.out, "[\n[{\"key\":\"OTHER\",\"at\":30},{\"key\":\"OTHER\",\"at\":30.01},"
                       "{\"key\":\"D\",\"at\":30.02}]\n]\n");
}

// A scan typed with Command held is told as such, not as a scanner on the wrong layout; the
// document still holds nothing but the names the matcher is fed.
TEST_F(RecorderTest, SaysWhenAModifierOrARepeatKeptAScanFromBeingRecognised) {
    const Recorded run = record({}, [] {
        for (std::size_t i = 0; i < scan.size(); ++i)
            press(scan[i], 50 + 0.005 * static_cast<double>(i), flags::command);
        typeKeys(scan, 60, 0.005);
        press(12, 70, 0, true);
        for (std::size_t i = 1; i < scan.size(); ++i)
            press(scan[i], 70 + 0.005 * static_cast<double>(i));
        stopByLine();
    });
    EXPECT_NE(run.err.find("Sequence 1 (8 keys): not recognised: Command was held down."),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Sequence 2 (8 keys): recognised."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Sequence 3 (8 keys): not recognised: a key repeated."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("layout"), std::string::npos) << run.err;
    EXPECT_EQ(selfTestOf(run.out), "[[0,0,0,0,0,0,0,0],[1,1,1,1,1,1,1,3],[0,0,0,0,0,0,0,0]]\n");
    EXPECT_EQ(run.out.find("Command"), std::string::npos);
}

TEST_F(RecorderTest, ReEnablesTheTapWhenTheSystemTurnsItOff) {
    const Recorded run = record({}, [] {
        press(12, 40);
        for (const EventType type : {types::tapDisabledByTimeout, types::tapDisabledByUserInput}) {
            sim::Event disabled;
            disabled.type = type;
            sim::deliver(disabled);
        }
        EXPECT_EQ(sim::world().tapEnables, 3);
        press(40, 40.01);
        stopByLine();
    });
    EXPECT_EQ(selfTestOf(run.out), "[[1,1]]\n");
    EXPECT_NE(run.err.find("paused the recording 2 times"), std::string::npos) << run.err;
}

TEST_F(RecorderTest, SaysSoWhenNoKeyWasPressed) {
    const Recorded run = record({}, [] { sim::sessionHooks().stopFromSignal(); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[]\n");
    EXPECT_NE(run.err.find("no key was pressed"), std::string::npos) << run.err;
}

TEST_F(RecorderTest, AFailedWriteOfTheDocumentIsAnIOError) {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full here";
    const Recorded run = record(
        {},
        [] {
            typeKeys(scan, 10, 0.005);
            stopByLine();
        },
        full);
    std::fclose(full);
    EXPECT_EQ(run.status, ioError);
    EXPECT_NE(run.err.find("qkscan-record: cannot write the recording to standard output\n"),
              std::string::npos)
        << run.err;
}

TEST_F(RecorderTest, TheHelpersSelfTestAcceptsTheDocumentUnchanged) {
    const Recorded run = record({}, [] {
        typeKeys(scan, 1000, 0.005);                           // recognised
        typeKeys(scan, 1010, 0.15);                            // too slow
        typeKeys({12, 40, 2, 0, 17, 32, 46, 48}, 1020, 0.005); // Tab for Enter
        typeKeys({0, 40, 2, 12, 17, 32, 41, 36}, 1030, 0.005); // AZERTY
        typeKeys({12, 40, 2, 0}, 1040, 0.005);                 // stopped mid-scan
        sim::sessionHooks().stopFromInterrupt();
    });
    ASSERT_EQ(run.status, 0);
    const test::Outcome outcome = test::run({QKSCAN_BINARY, "--self-test"}, run.out);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out, "[[1,1,1,1,1,1,1,3],[1,2,0,0,0,0,0,0],[1,1,1,1,1,1,1,2],"
                           "[0,0,0,1,2,0,0,0],[1,1,1,1]]\n");
}

} // namespace
} // namespace qk
