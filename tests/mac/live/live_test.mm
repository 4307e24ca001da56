// The live end-to-end tests on macOS: the real qkscan on this Mac's real input. For each case of
// the tables (cases.h), target programs (qk-mac-target) show their windows, the helper is started
// with a pipe on its standard input, and the case's keys and clicks are posted with CGEventPost
// at kCGHIDEventTap, as from the hardware. Then what each window's text view received and every
// line the helper printed are compared with the case.
//
// Posting events needs the PostEvent permission and the helper's tap needs Accessibility (for
// the process that started the tests, which the system holds responsible for both); where they
// are missing, or there is no window server session, every case is skipped with the reason.
// Every wait is for a condition, with a deadline far beyond what it normally takes, so that a
// busy machine makes a case slower, not wrong.
#include <gtest/gtest.h>

#import <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <deque>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/live/record_text.h"
#include "tests/mac/live/cases.h"
#include "tests/mac/live/child.h"
#include "tests/mac/live/input.h"

namespace qk::live {

// Test names and messages show a case by its name.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

namespace {

constexpr double startSeconds = 60;  // a program starting, on a cold and busy machine
constexpr double arriveSeconds = 20; // input arriving where it should
constexpr double pollSeconds = 0.05; // between two looks at a window's record
// The longest a "front" step may take after the step before it, for the hold (released 0.1 s
// after its last key) still to be there when the other window comes to the front.
constexpr double frontInTime = 0.06;

// Where the windows go: side by side, so that a click in one never lands in another.
struct Placement {
    const char* name;
    const char* kind; // what qk-mac-target shows: "window" or "panel"
    int left, top;
};
constexpr Placement placements[] = {
    {"other", "window", 370, 140},
    {"main", "window", 40, 140},
    {"panel", "panel", 700, 140},
};

std::string tablesError; // why the tables could not be read, if they could not

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const char* table : {QKSCAN_SOURCE_DIR "/tests/live/cases.json",
                              QKSCAN_SOURCE_DIR "/tests/mac/live/cases.json"}) {
        std::string error;
        if (!readCases(table, cases, error)) tablesError += error + "\n";
    }
    return cases;
}

std::string messageLine(const std::string& event) {
    return "{\"event\":\"" + event + "\",\"message\":\"\"}";
}

struct Window {
    std::string name;
    bool panel = false; // a non-activating panel: it takes the key focus, never the front
    Child process;
    pid_t pid = 0;
    Point field; // the middle of its text view
    Point title; // a point in its title bar
};

// Why the cases cannot run on this Mac, or empty if they can.
std::string whyNotHere() {
    CFDictionaryRef session = CGSessionCopyCurrentDictionary();
    if (!session) return "no login session with a window server here";
    CFRelease(session);
    if (!AXIsProcessTrusted())
        return "the process running the tests is not trusted for Accessibility, so the helper it "
               "starts could not tap the keyboard";
    if (!CGPreflightPostEventAccess())
        return "the process running the tests may not post events (PostEvent access)";
    return {};
}

class CaseRun {
public:
    explicit CaseRun(const Case& c) : theCase(c) {}

    void run() {
        if (!startWindows() || !frontAtStart()) return;
        if (!startHelper()) return;
        for (const Step& step : theCase.steps)
            if (!perform(step)) return;
        for (Window& window : windows) {
            const std::string expected = expectedFor(window);
            waitForRecord(window, [&](const std::string& r) { return r == expected; });
        }
        if (!stopped) helper.writeLine("");
        EXPECT_EQ(helper.waitForExit(arriveSeconds), 0) << "the helper's exit status";
        settleAndCompare();
        compareLines();
        for (Window& window : windows)
            window.process.writeLine("quit");
        if (!late.empty() && !testing::Test::HasFailure()) GTEST_SKIP() << late;
    }

private:
    Window* windowCalled(const std::string& name) {
        for (Window& window : windows)
            if (window.name == name) return &window;
        return nullptr;
    }

    std::string expectedFor(const Window& window) const {
        const auto found = theCase.received.find(window.name);
        return found == theCase.received.end() ? std::string() : found->second;
    }

    bool startWindows() {
        for (const Placement& place : placements) {
            if (std::string(place.kind) == "panel" && theCase.keyFocus != "panel") continue;
            Window& window = windows.emplace_back();
            window.name = place.name;
            window.panel = std::string(place.kind) == "panel";
            std::string error;
            if (!window.process.start({QKSCAN_MAC_TARGET, place.kind, std::to_string(place.left),
                                       std::to_string(place.top)},
                                      error)) {
                ADD_FAILURE() << "the " << window.name << " window: " << error;
                return false;
            }
            const std::optional<std::string> ready = window.process.readLine(startSeconds);
            int pid = 0;
            if (!ready ||
                std::sscanf(ready->c_str(), "ready %d %lf %lf %lf %lf", &pid, &window.field.x,
                            &window.field.y, &window.title.x, &window.title.y) != 5) {
                ADD_FAILURE() << "the " << window.name
                              << " window did not come up: " << ready.value_or("(nothing)");
                return false;
            }
            window.pid = pid;
        }
        return true;
    }

    std::string ask(Window& window, const std::string& command) {
        window.process.writeLine(command);
        return window.process.readLine(startSeconds).value_or("");
    }

    // Whether `window` is where typing goes: its application active and it the key window, or a
    // panel with the key focus, whichever application is active.
    bool inFront(Window& window) {
        const std::string state = ask(window, "state");
        return window.panel ? state.size() == 9 && state.back() == '1' : state == "state 1 1";
    }

    // Brings `window` to the front (a panel: gives it the key focus), asked of its application; and
    // where the system does not let that happen, by a click in its title bar, as a person would.
    bool bringToFront(Window& window) {
        if (ask(window, "front") == "front 1") return true;
        if (!click(window.title)) return false;
        const double deadline = now() + arriveSeconds;
        while (now() < deadline) {
            if (inFront(window)) return true;
            pauseUntil(now() + pollSeconds);
        }
        return false;
    }

    // "main" in front with the key focus, or for a panel case "main" in front and the panel with
    // the key focus.
    bool frontAtStart() {
        Window* main = windowCalled("main");
        if (!main || !bringToFront(*main)) {
            ADD_FAILURE() << "the main window could not be brought to the front";
            return false;
        }
        keyFocus = main;
        if (theCase.keyFocus != "panel") return true;
        Window* panel = windowCalled("panel");
        if (!panel || !bringToFront(*panel)) {
            ADD_FAILURE() << "the panel did not take the key focus";
            return false;
        }
        const std::string state = ask(*main, "state");
        if (state.rfind("state 1 ", 0) != 0) {
            ADD_FAILURE() << "the main window's application did not stay in front: " << state;
            return false;
        }
        keyFocus = panel;
        return true;
    }

    bool startHelper() {
        std::string error;
        if (!helper.start({QKSCAN_BINARY}, error, !theCase.noInput)) {
            ADD_FAILURE() << "the helper: " << error;
            return false;
        }
        const std::optional<std::string> first = helper.readLine(startSeconds);
        if (!first) {
            ADD_FAILURE() << "the helper printed nothing";
            return false;
        }
        helperLines.push_back(*first);
        if (*first == messageLine("ready")) return true;
        // The tap itself refused although the process is trusted: where this Mac has not given
        // the runner Input Monitoring, the keyboard is not the helper's to tap.
        const bool refusedTap = first->find("Mac nepovolil") != std::string::npos;
        if (refusedTap && !CGPreflightListenEventAccess()) {
            skipWhy = "macOS did not let the helper's tap see the keyboard, and this runner has "
                      "no Input Monitoring: " +
                      *first;
            return false;
        }
        ADD_FAILURE() << "the helper did not start listening: " << *first;
        return false;
    }

    bool perform(const Step& step) {
        bool ok = true;
        switch (step.kind) {
        case Step::Kind::type:
            ok = typeText(step.text, step.speed == "person" ? personInterval : scannerInterval);
            break;
        case Step::Kind::click: {
            Window* window = windowCalled(step.window);
            ok = window && click(window->field);
            if (ok) keyFocus = window;
            break;
        }
        case Step::Kind::front: {
            Window* window = windowCalled(step.window);
            if (!window) {
                ok = false;
                break;
            }
            // From macOS 14 the application in front has to offer the front first. A click would
            // do it too, but a click is itself an event the helper acts on.
            if (keyFocus) ask(*keyFocus, "yield " + std::to_string(window->pid));
            if (ask(*window, "front") != "front 1") {
                skipWhy = "macOS did not bring the " + step.window +
                          " window to the front when "
                          "its application asked, with the front offered to it";
                return false;
            }
            const double took = now() - lastStep;
            if (took > frontInTime) {
                std::ostringstream why;
                why << "the " << step.window << " window came to the front only " << took
                    << " s after the step before, so the hold may have ended before it did";
                late = why.str();
            }
            keyFocus = window;
            break;
        }
        case Step::Kind::chord:
            ok = chord(step.keys);
            break;
        case Step::Kind::repeat:
            ok = step.text.size() == 1 && repeatKey(step.text[0], step.count, step.interval);
            break;
        case Step::Kind::stop:
            if (step.text == "line") {
                helper.writeLine("");
            } else if (step.text == "end-of-input") {
                helper.closeInput();
            } else if (step.text == "terminate") {
                helper.signal(SIGTERM);
            } else {
                ok = false;
            }
            stopped = true;
            break;
        case Step::Kind::suspend:
            helper.signal(SIGSTOP);
            pauseUntil(now() + step.seconds);
            helper.signal(SIGCONT);
            break;
        case Step::Kind::await:
            ok = awaitLine(messageLine(step.text));
            break;
        }
        if (!ok) ADD_FAILURE() << "a step could not be carried out (step " << stepsDone << ")";
        ++stepsDone;
        lastStep = now();
        return ok;
    }

    // Reads the helper's lines until `line` comes; false if it does not in time.
    bool awaitLine(const std::string& line) {
        const double deadline = now() + arriveSeconds;
        while (const std::optional<std::string> next = helper.readLine(deadline - now())) {
            helperLines.push_back(*next);
            if (*next == line) return true;
        }
        return false;
    }

    // What the window has received so far; nothing if it did not answer.
    std::optional<std::string> receivedBy(Window& window) {
        const std::string line = ask(window, "received");
        if (line.rfind("received ", 0) != 0) return std::nullopt;
        return unescapedRecord(line.substr(9));
    }

    template <typename Done> std::string waitForRecord(Window& window, Done done) {
        const double deadline = now() + arriveSeconds;
        for (;;) {
            const std::optional<std::string> record = receivedBy(window);
            if (!record || done(*record) || now() > deadline) return record.value_or("");
            pauseUntil(now() + pollSeconds);
        }
    }

    // With the helper gone, a key typed now goes straight to the window with the key focus; once
    // it has arrived, so has everything sent before it, and the records are final.
    void settleAndCompare() {
        for (Window& window : windows) {
            std::string record;
            if (&window == keyFocus) {
                if (!typeText("z", 0)) ADD_FAILURE() << "cannot type the closing key";
                record = waitForRecord(
                    window, [](const std::string& r) { return !r.empty() && r.back() == 'z'; });
                if (record.empty() || record.back() != 'z') {
                    ADD_FAILURE() << "a key typed into the " << window.name
                                  << " window never arrived: " << shownRecord(record);
                    continue;
                }
                record.pop_back();
            } else {
                record = receivedBy(window).value_or("(no answer)");
            }
            EXPECT_EQ(shownRecord(record), shownRecord(expectedFor(window)))
                << "what the " << window.name << " window received";
        }
    }

    void compareLines() {
        std::vector<std::string> lines = helperLines;
        for (const std::string& line : helper.remainingLines(arriveSeconds))
            lines.push_back(line);
        std::vector<std::string> expected;
        for (const std::string& event : theCase.lines)
            expected.push_back(messageLine(event));
        EXPECT_EQ(lines, expected) << "the helper's lines";
    }

public:
    std::string skipWhy; // set when the case cannot run on this Mac after all

private:
    const Case& theCase;
    std::deque<Window> windows; // never moved, so that pointers to them stay valid
    Window* keyFocus = nullptr;
    Child helper;
    std::vector<std::string> helperLines; // read so far
    bool stopped = false;
    int stepsDone = 0;
    double lastStep = 0;
    std::string late; // why the case may not have tested what it says
};

class Live : public testing::TestWithParam<Case> {};

TEST_P(Live, Case) {
    const Case& c = GetParam();
    RecordProperty("about", c.about);
    if (!c.cannotRun.empty())
        GTEST_SKIP() << "the macOS tests cannot run this case: " << c.cannotRun;
    if (!c.hosts.empty() && std::find(c.hosts.begin(), c.hosts.end(), "macos") == c.hosts.end())
        GTEST_SKIP() << "this case is only for other hosts";
    const std::string why = whyNotHere();
    if (!why.empty()) GTEST_SKIP() << why;
    CaseRun run(c);
    run.run();
    if (!run.skipWhy.empty()) GTEST_SKIP() << run.skipWhy;
}

std::string testName(const testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, Live, testing::ValuesIn(allCases()), testName);

// The tables are read whole, name each case once, and hold what macOS must show: the cases every
// host runs and the panel case of its own.
TEST(LiveTables, AreReadAndHoldTheCasesMacOSNeeds) {
    const std::vector<Case> cases = allCases();
    EXPECT_EQ(tablesError, "");
    std::set<std::string> names;
    for (const Case& c : cases) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name << " twice";
        EXPECT_FALSE(c.lines.empty()) << c.name << ": the helper says at least \"ready\"";
        EXPECT_EQ(c.lines.front(), "ready") << c.name;
    }
    for (const char* needed :
         {"clean-scan", "person-types-quit", "partial-scan", "click-during-hold",
          "stop-by-line-while-held", "person-types-quit-into-a-non-activating-panel"})
        EXPECT_EQ(names.count(needed), 1u) << needed;
}

} // namespace
} // namespace qk::live
