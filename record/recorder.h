// qkscan-record: records the keys a scanner types as the self-test's input document, and says for
// each sequence whether the trigger was recognised and, if not, which scanner setting to change.
#pragma once

#include <cstdio>
#include <string>

namespace qk {

// The longest recording --seconds allows, in seconds: a day.
inline constexpr double longestRecording = 24 * 60 * 60;

// Interval of the recorder's timer, which ends quiet sequences and the recording, in seconds.
inline constexpr double recorderTick = 0.1;

struct RecorderOptions {
    double seconds = 30; // how long to record
    bool help = false;
};

// Reads the command line (argument 0 is the program's name). On bad usage returns false with one
// line in `error` saying what is wrong.
bool parseRecorderArguments(int argc, const char* const* argv, RecorderOptions& options,
                            std::string& error);

// The text --help prints: what is recorded and what is not, how it stops, the permission.
extern const char* const recorderUsage;

// Checks and if need be requests the Input Monitoring permission, listens to key-downs until a
// line or the end of standard input, SIGINT, SIGTERM or the end of the time, then writes the
// recording to `out`. Verdicts and messages go to `err`. Never returns.
[[noreturn]] void runRecorder(int argc, char** argv, std::FILE* out, std::FILE* err);

} // namespace qk
