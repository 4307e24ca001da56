// qk-live: runs one case of the live tests (cases.json) against the helper on this machine's real
// input system: two target windows (qk-target), the helper started with a pipe on its standard
// input, input made with SendInput. It prints what it compared and exits 0 if everything matched,
// 1 if not, 2 if the case could not be run.
//
// Usage: qk-live <cases.json> <case name> <qkscan.exe> <qk-target.exe>
//
// Every wait is for a condition, with a deadline far beyond what it normally takes, so that a
// busy machine makes a case slower, not wrong.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/live/record_text.h"
#include "tests/live/win/cases.h"
#include "tests/live/win/child.h"
#include "tests/live/win/keyboard.h"

#include <tlhelp32.h>

namespace qk::live {
namespace {

constexpr double startSeconds = 60;  // a program starting, on a cold and busy machine
constexpr double arriveSeconds = 20; // input arriving where it should
constexpr double pollSeconds = 0.05; // between two looks at a window's record
// The longest a "front" step may take after the step before it, for the hold (released 0.1 s
// after its last key) still to be there when the other window comes to the front.
constexpr double frontInTime = 0.06;
constexpr int skipCode = 77; // CTest's SKIP_RETURN_CODE

struct Window {
    std::string name;
    Child process;
    HWND handle = nullptr;
    int x = 0, y = 0; // the middle of its text field, on the screen
};

double now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool startWindow(Window& window, const std::string& program, int left, std::string& error) {
    if (!window.process.start(L"\"" + widen(program) + L"\" " + std::to_wstring(left) + L" 60",
                              Child::Input::pipe, error))
        return false;
    const std::string ready = window.process.waitForLine("ready ", startSeconds);
    unsigned long pid = 0;
    unsigned long long handle = 0;
    if (std::sscanf(ready.c_str(), "ready %lu %llu %d %d", &pid, &handle, &window.x, &window.y) !=
        4) {
        error = "the " + window.name + " window did not come up";
        return false;
    }
    window.handle = reinterpret_cast<HWND>(static_cast<UINT_PTR>(handle));
    return true;
}

// What the window has received so far; empty with `ok` false if it did not answer.
std::string receivedBy(Window& window, bool& ok) {
    window.process.writeLine("received");
    const std::string line = window.process.waitForLine("received", startSeconds);
    ok = !line.empty();
    return line.size() > 9 ? unescapedRecord(line.substr(9)) : std::string();
}

// Waits until the window's record satisfies `done`; returns the last record seen.
template <typename Done> std::string waitForRecord(Window& window, Done done, double seconds) {
    const double deadline = now() + seconds;
    for (;;) {
        bool ok = false;
        const std::string record = receivedBy(window, ok);
        if (!ok || done(record) || now() > deadline) return record;
        Sleep(static_cast<DWORD>(pollSeconds * 1000));
    }
}

// Suspends (or resumes) every thread of process `pid`.
void suspendThreads(DWORD pid, bool suspend) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        if (const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            if (suspend) {
                SuspendThread(thread);
            } else {
                ResumeThread(thread);
            }
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
}

WORD keyCalled(const std::string& name) {
    if (name == "ctrl") return VK_CONTROL;
    if (name == "alt") return VK_MENU;
    if (name == "shift") return VK_SHIFT;
    return name.size() == 1 ? virtualKeyOf(name[0]) : 0;
}

class Run {
public:
    Run(const Case& c, std::string helperProgram, std::string targetProgram)
        : theCase(c), helperPath(std::move(helperProgram)), targetPath(std::move(targetProgram)) {
        main.name = "main";
        other.name = "other";
    }

    // 0 passed, 1 failed, 2 could not run.
    int run() {
        std::string error;
        if (!startWindow(other, targetPath, 420, error) ||
            !startWindow(main, targetPath, 60, error))
            return cannotRun(error);
        AllowSetForegroundWindow(ASFW_ANY);
        main.process.writeLine("front");
        if (main.process.waitForLine("front", startSeconds) != "front 1")
            return cannotRun("the main window could not be brought to the front");
        const Child::Input input = theCase.noInput ? Child::Input::none : Child::Input::pipe;
        if (!helper.start(L"\"" + widen(helperPath) + L"\"", input, error))
            return cannotRun("the helper: " + error);
        stopped = theCase.noInput;
        if (helper.waitForLine("", startSeconds).empty())
            return cannotRun("the helper printed nothing");
        for (const Step& step : theCase.steps)
            if (!perform(step)) return skipped ? skipCode : failed ? 1 : 2;
        for (Window* window : {&main, &other}) {
            const std::string expected = expectedFor(*window);
            waitForRecord(
                *window, [&](const std::string& record) { return record == expected; },
                arriveSeconds);
        }
        if (!stopped) helper.writeLine("");
        const int status = helper.waitForExit(arriveSeconds);
        if (status != 0) fail("the helper ended with status " + std::to_string(status));
        settleAndCompare();
        compareLines();
        for (Window* window : {&main, &other})
            window->process.writeLine("quit");
        return failed ? 1 : 0;
    }

private:
    int cannotRun(const std::string& why) {
        std::printf("cannot run case %s: %s\n", theCase.name.c_str(), why.c_str());
        return 2;
    }

    void fail(const std::string& what) {
        std::printf("FAIL %s: %s\n", theCase.name.c_str(), what.c_str());
        failed = true;
    }

    std::string expectedFor(const Window& window) const {
        const auto found = theCase.received.find(window.name);
        return found == theCase.received.end() ? std::string() : found->second;
    }

    Window* windowCalled(const std::string& name) {
        if (name == "main") return &main;
        if (name == "other") return &other;
        return nullptr;
    }

    bool perform(const Step& step) {
        if (step.kind == "type") {
            if (!typeText(step.text, step.speed == "person" ? personInterval : scannerInterval))
                return false;
        } else if (step.kind == "click") {
            Window* window = windowCalled(step.text);
            if (!window) return false;
            click(window->x, window->y);
        } else if (step.kind == "front") {
            Window* window = windowCalled(step.text);
            if (!window) return false;
            SetForegroundWindow(window->handle);
            const double took = now() - lastStep;
            if (took > frontInTime) {
                fail("the window came to the front only " + std::to_string(took) +
                     " s after the step before: the hold may have ended already");
                return false;
            }
        } else if (step.kind == "chord") {
            if (step.keys.size() != 2 || !keyCalled(step.keys[0]) || !keyCalled(step.keys[1]))
                return false;
            chord(keyCalled(step.keys[0]), keyCalled(step.keys[1]));
        } else if (step.kind == "repeat") {
            if (step.text.size() != 1 || !virtualKeyOf(step.text[0])) return false;
            repeatKey(virtualKeyOf(step.text[0]), step.count, step.interval);
        } else if (step.kind == "suspend") {
            suspendThreads(helper.pid(), true);
            Sleep(static_cast<DWORD>(step.seconds * 1000));
            suspendThreads(helper.pid(), false);
        } else if (step.kind == "await") {
            if (helper.waitForLine("{\"event\":\"" + step.text + "\"", arriveSeconds).empty()) {
                fail("the helper did not print \"" + step.text + "\"");
                return false;
            }
        } else if (step.kind == "stop") {
            if (step.text == "line") {
                helper.writeLine("");
            } else if (step.text == "end-of-input") {
                helper.closeInput();
            } else if (step.text == "terminate") {
                // Ctrl+Break for the helper's process group (it was started in one of its own).
                if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, helper.pid())) {
                    std::printf("skipped %s: no console control events here (error %lu)\n",
                                theCase.name.c_str(), GetLastError());
                    skipped = true;
                    return false;
                }
            } else {
                return false;
            }
            stopped = true;
        } else {
            std::printf("unknown step \"%s\" in case %s\n", step.kind.c_str(),
                        theCase.name.c_str());
            return false;
        }
        lastStep = now();
        return true;
    }

    // With the helper gone, a key typed now goes straight to the window in front; once it has
    // arrived, so has everything typed before it. The windows' records are then final.
    void settleAndCompare() {
        const HWND front = GetForegroundWindow();
        for (Window* window : {&main, &other}) {
            std::string record;
            if (window->handle == front) {
                typeText("z", 0);
                record = waitForRecord(
                    *window, [](const std::string& r) { return !r.empty() && r.back() == 'z'; },
                    arriveSeconds);
                if (record.empty() || record.back() != 'z') {
                    fail("a key typed into the " + window->name + " window never arrived");
                    continue;
                }
                record.pop_back();
            } else {
                bool ok = false;
                record = receivedBy(*window, ok);
            }
            const std::string expected = expectedFor(*window);
            std::printf("%s window: expected %s, received %s\n", window->name.c_str(),
                        shownRecord(expected).c_str(), shownRecord(record).c_str());
            if (record != expected)
                fail("the " + window->name + " window received the wrong input");
        }
    }

    void compareLines() {
        const std::vector<std::string> lines = helper.lines();
        std::vector<std::string> expected;
        for (const std::string& event : theCase.lines)
            expected.push_back("{\"event\":\"" + event + "\",\"message\":\"\"}");
        std::printf("helper printed %zu lines, expected %zu\n", lines.size(), expected.size());
        for (const std::string& line : lines)
            std::printf("  %s\n", line.c_str());
        if (lines != expected) fail("the helper printed other lines than expected");
    }

    const Case& theCase;
    std::string helperPath, targetPath;
    Window main, other;
    Child helper;
    bool stopped = false;
    bool failed = false;
    bool skipped = false;
    double lastStep = 0;
};

} // namespace
} // namespace qk::live

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: qk-live <cases.json> <case name> <qkscan.exe> <qk-target.exe>\n");
        return 2;
    }
    qk::live::Case theCase;
    std::string error;
    if (!qk::live::readCase(argv[1], argv[2], theCase, error)) {
        std::fprintf(stderr, "qk-live: %s\n", error.c_str());
        return 2;
    }
    const int result = qk::live::Run(theCase, argv[3], argv[4]).run();
    if (result != 77) std::printf("%s %s\n", result == 0 ? "PASS" : "FAIL", theCase.name.c_str());
    std::fflush(stdout);
    return result;
}
