// Runs a program as a child process for process-level tests: feeds its standard input, collects
// its standard output and standard error, and reports how it ended.
#pragma once

#include <spawn.h>
#include <string>
#include <vector>

namespace qk::test {

struct Outcome {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 if it ended by a signal
    int signal = 0;  // the signal that ended it, if any
};

// Where the child's standard input comes from and its standard output goes, when not from and to
// the test's pipes.
struct Streams {
    std::string inputFile;     // standard input read from this file (`input` is then unused)
    std::string outputFile;    // standard output written to this file
    bool outputClosed = false; // the child starts with standard output closed
    bool outputUnread = false; // standard output is a pipe whose reader has already gone
};

// Initialises spawn attributes that start a child with SIGPIPE at its default action, as a shell
// or a parent application would start it, whatever this process does with the signal. The caller
// destroys them with posix_spawnattr_destroy.
void initChildAttributes(posix_spawnattr_t& attributes);

// Runs `program` with `arguments` (argument 0 included), writes `input` to its standard input and
// closes it, and waits for it to end. The child starts with SIGPIPE at its default action, as a
// shell or a parent application would start it, whatever this process does with the signal.
Outcome run(const std::vector<std::string>& arguments, const std::string& input,
            const Streams& streams = {});

} // namespace qk::test
