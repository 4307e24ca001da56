#include "record/recorder.h"

#include <cstdlib>
#include <memory>
#include <string_view>

#include "intercept/hold_buffer.h"
#include "parent/exit_status.h"
#include "platform/events.h"
#include "platform/listen.h"
#include "platform/session.h"
#include "record/recording.h"
#include "record/verdict.h"

namespace qk {

const char* const recorderUsage =
    "usage: qkscan-record [--seconds N]\n"
    "\n"
    "Records what a barcode scanner types, to find out why qkscan does not recognise a\n"
    "scan of QKDATUM. Scan the code once or a few times, a second apart. For each scan\n"
    "a verdict on standard error says whether it was recognised and, if not, which\n"
    "scanner setting to change. On stopping, the recording goes to standard output in\n"
    "the form that `qkscan --self-test` reads.\n"
    "\n"
    "Privacy: no characters and no key codes are recorded, only whether each key\n"
    "pressed was Q, K, D, A, T, U, M, Enter or any other key (OTHER), and when. It only\n"
    "listens: it cannot hold back, change or type a key.\n"
    "\n"
    "It stops after N seconds (default 30, at most 86400), on a line or the end of its\n"
    "standard input (press Enter), on Control-C or on SIGTERM.\n"
    "\n"
    "It needs the Input Monitoring permission (not Accessibility) for the app that\n"
    "starts it, such as Terminal: System Settings > Privacy & Security > Input\n"
    "Monitoring.\n"
    "\n"
    "Exit status: 0 once the recording is written, 2 without the permission, 64 for a\n"
    "bad option, 74 if the recording cannot be written.\n"
    "\n"
    "  --seconds N   stop after N seconds\n"
    "  --help        print this text\n";

namespace {

constexpr std::string_view usageLine = "usage: qkscan-record [--seconds N] [--help]";

// A plain decimal number: digits with at most one point, nothing else (no sign, exponent, hex,
// "inf" or "nan", which strtod would take).
bool isPlainNumber(std::string_view text) {
    bool digit = false, point = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

bool parseSeconds(std::string_view text, double& seconds, std::string& error) {
    const std::string copy(text);
    const double value = isPlainNumber(text) ? std::strtod(copy.c_str(), nullptr) : 0;
    if (!(value > 0) || value > longestRecording) {
        error =
            "--seconds wants a number of seconds above 0 and at most 86400, not \"" + copy + "\"";
        return false;
    }
    seconds = value;
    return true;
}

// Everything the recording needs while it runs: created afresh by each run.
struct Recorder {
    RecorderOptions options;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    Recording recording;
    std::size_t reported = 0; // sequences whose verdict has been written
    double deadline = 0;      // uptime at which the recording ends
    TapRef tap = nullptr;
    int tapDisabled = 0; // times the system turned the tap off
    int ticksToStop = 0; // counts down to a stop asked for on standard input; 0: none asked
};

// A line on standard input may be the Enter of a scan typed into this very terminal. Its key-down
// comes through the tap, the line through the watcher, in no set order, so the stop waits this
// many timer ticks for the key-down to be recorded.
constexpr int inputStopTicks = 3;

std::unique_ptr<Recorder> recorder;

// The tap's callback, on the main thread: quick, and without allocation but for the recording's
// occasional growth.
Verdict onEvent(EventType type, EventRef event) {
    if (type == types::tapDisabledByTimeout || type == types::tapDisabledByUserInput) {
        ++recorder->tapDisabled;
        platform::enableTap(recorder->tap);
        return Verdict::pass;
    }
    if (type != types::keyDown) return Verdict::pass;
    // A running qkscan re-posts keys it held back into the input stream when a click follows
    // them; they were recorded when they were typed.
    if (platform::readField(event, fields::sourceUserData) == marker) return Verdict::pass;
    recorder->recording.keyDown(
        platform::readField(event, fields::keyCode), platform::eventFlags(event),
        platform::readField(event, fields::autorepeat) != 0, platform::uptime());
    return Verdict::pass;
}

void reportFinished() {
    Recording& recording = recorder->recording;
    std::string text;
    for (; recorder->reported < recording.finished(); ++recorder->reported) {
        const KeySequence keys = recording.sequence(recorder->reported);
        text += '\n';
        describe(diagnose(keys), keys, recorder->reported + 1, text);
    }
    std::fputs(text.c_str(), recorder->err);
    std::fflush(recorder->err);
}

void reportEnd() {
    const Recording& recording = recorder->recording;
    std::FILE* err = recorder->err;
    std::fputc('\n', err);
    if (recording.keyCount() == 0) {
        std::fputs("qkscan-record: no key was pressed. If you did scan, check Input Monitoring; "
                   "while a password field has the focus, macOS shows keys to no one.\n",
                   err);
    } else {
        std::fprintf(err, "qkscan-record: %zu sequence%s, %zu key%s.\n", recording.sequences(),
                     recording.sequences() == 1 ? "" : "s", recording.keyCount(),
                     recording.keyCount() == 1 ? "" : "s");
    }
    if (recorder->tapDisabled > 0)
        std::fprintf(err,
                     "qkscan-record: macOS paused the recording %d time%s; keys may be missing.\n",
                     recorder->tapDisabled, recorder->tapDisabled == 1 ? "" : "s");
}

// From SIGINT, SIGTERM or the timer (at the end of the time, or a little after a line or the end
// of standard input), on the main thread.
[[noreturn]] void stop() {
    recorder->recording.end();
    reportFinished();
    reportEnd();
    std::string document;
    recorder->recording.appendDocument(document);
    std::FILE* out = recorder->out;
    std::fwrite(document.data(), 1, document.size(), out);
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fputs("qkscan-record: cannot write the recording to standard output\n", recorder->err);
        platform::exitProcess(ioError);
    }
    platform::exitProcess(0);
}

void tick() {
    const double now = platform::uptime();
    recorder->recording.endIfIdle(now);
    reportFinished();
    if (now >= recorder->deadline) stop();
    if (recorder->ticksToStop > 0 && --recorder->ticksToStop == 0) stop();
}

void stopFromInput() {
    if (recorder->ticksToStop == 0) recorder->ticksToStop = inputStopTicks;
}

[[noreturn]] void refuse() {
    std::fputs("qkscan-record: not allowed to listen to the keyboard. Allow the app that started "
               "it (Terminal, for example) in System Settings > Privacy & Security > Input "
               "Monitoring, then quit and reopen that app.\n",
               recorder->err);
    platform::exitProcess(permissionMissing);
}

void startListening() {
    if (!platform::listenAccess() && !platform::requestListenAccess()) refuse();
    // Before the tap exists, so that the first key is not stamped late by the clock's first read.
    platform::prepareEventServices();
    constexpr std::uint64_t keyDowns = 1ULL << types::keyDown;
    std::uint64_t granted = 0;
    recorder->tap = platform::createListenTap(keyDowns, onEvent, granted);
    // A tap that does not get the key-downs would record nothing, and without a run-loop source
    // nothing would service it: both are as good as refused.
    if (!recorder->tap || (granted & keyDowns) == 0 || !platform::attachTap(recorder->tap))
        refuse();
    platform::enableTap(recorder->tap);
}

} // namespace

bool parseRecorderArguments(int argc, const char* const* argv, RecorderOptions& options,
                            std::string& error) {
    options = RecorderOptions();
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            options.help = true;
        } else if (argument == "--seconds") {
            if (i + 1 == argc) {
                error = "--seconds wants a number of seconds";
                return false;
            }
            if (!parseSeconds(argv[++i], options.seconds, error)) return false;
        } else if (argument.starts_with("--seconds=")) {
            if (!parseSeconds(argument.substr(10), options.seconds, error)) return false;
        } else {
            error = "unknown argument \"" + std::string(argument) + "\"";
            return false;
        }
    }
    return true;
}

void runRecorder(int argc, char** argv, std::FILE* out, std::FILE* err) {
    recorder = std::make_unique<Recorder>();
    recorder->out = out;
    recorder->err = err;
    std::string error;
    if (!parseRecorderArguments(argc, argv, recorder->options, error)) {
        std::fprintf(err, "qkscan-record: %s (%.*s)\n", error.c_str(),
                     static_cast<int>(usageLine.size()), usageLine.data());
        platform::exitProcess(usageError);
    }
    if (recorder->options.help) {
        std::fputs(recorderUsage, out);
        std::fflush(out);
        platform::exitProcess(std::ferror(out) ? ioError : 0);
    }
    // Before anything can be recorded, so that a signal at any moment afterwards still writes the
    // whole recording. One that comes while the permission is asked for waits for the main loop.
    platform::handleTerminationSignal(stop);
    platform::handleInterruptSignal(stop);
    startListening();
    recorder->deadline = platform::uptime() + recorder->options.seconds;
    platform::addRepeatingTimer(recorderTick, tick);
    platform::startStopInputWatcher(stopFromInput);
    std::fprintf(err,
                 "qkscan-record: recording for %g s. Scan the QKDATUM barcode, one scan at a\n"
                 "  time, a second apart; press Enter here or Control-C to stop sooner. Only\n"
                 "  Q K D A T U M, Enter and OTHER (any other key) are recorded, with times.\n",
                 recorder->options.seconds);
    std::fflush(err);
    platform::runMainLoop();
    stop();
}

} // namespace qk
