// A program the live tests start and talk to in lines: its standard input and output are pipes
// to the test, its standard error is the test's. Every wait has a deadline.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qk::live {

class Child {
public:
    Child() = default;
    ~Child(); // a child still running is killed
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts `arguments` (argument 0 the program's path), with its standard input a pipe from the
    // test, or closed if `withInput` is false; false with `error` set if it cannot.
    bool start(const std::vector<std::string>& arguments, std::string& error,
               bool withInput = true);

    void writeLine(const std::string& line);
    void closeInput();
    // Sends it `signal` (SIGTERM, SIGSTOP, SIGCONT...).
    void signal(int signal);

    // The next line of its standard output (without "\n"), or nothing if none comes within
    // `seconds` or the output ends first.
    std::optional<std::string> readLine(double seconds);
    // Every line it wrote so far that has not been read: its output is read to the end, which
    // comes when it has ended, or until `seconds` have passed.
    std::vector<std::string> remainingLines(double seconds);

    // Its exit status once it has ended; -1 if it ended by a signal or is still running after
    // `seconds`.
    int waitForExit(double seconds);

    pid_t pid() const { return process; }

private:
    pid_t process = -1;
    int input = -1;
    int output = -1;
    bool outputEnded = false;
    std::string buffer;
};

// Seconds on a monotonic clock.
double now();

} // namespace qk::live
