// A child process of the live tests: its standard input a pipe the test writes to (or none at
// all), its standard output read line by line by a thread of its own, so that the test can wait
// for a line with a deadline.
#pragma once

#include <string>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace qk::live {

class Child {
public:
    enum class Input {
        pipe,
        none
    };

    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    // Starts `commandLine`; false (with `error` set) if it could not be started.
    bool start(const std::wstring& commandLine, Input input, std::string& error);

    void writeLine(const std::string& line);
    // Closes the child's standard input: it reads end of input.
    void closeInput();

    // Waits until the child has printed a line beginning with `prefix` that no earlier wait took,
    // and returns it; empty if `seconds` pass first or the output ends.
    std::string waitForLine(const std::string& prefix, double seconds);
    // Every line printed so far.
    std::vector<std::string> lines();

    // Waits for the child to end; its exit status, or -1 if it is still running after `seconds`.
    int waitForExit(double seconds);
    DWORD pid() const { return process.dwProcessId; }

private:
    static DWORD WINAPI readOutput(void* self);

    PROCESS_INFORMATION process{};
    HANDLE inputWrite = nullptr;
    HANDLE outputRead = nullptr;
    HANDLE reader = nullptr;
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr); // a line came, or the end
    CRITICAL_SECTION lock = [] {
        CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        return section;
    }();
    std::vector<std::string> received;
    std::size_t taken = 0; // lines already handed out by waitForLine
    bool ended = false;
};

// A wide string from UTF-8 (paths and arguments of the live tests are ASCII in practice).
std::wstring widen(const std::string& text);

} // namespace qk::live
