#include "tests/mac/live/child.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qk::live {

double now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

Child::~Child() {
    if (process > 0) {
        kill(process, SIGKILL);
        waitpid(process, nullptr, 0);
    }
    for (const int fd : {input, output})
        if (fd >= 0) close(fd);
}

bool Child::start(const std::vector<std::string>& arguments, std::string& error, bool withInput) {
    int in[2], out[2];
    if (pipe(in) != 0) {
        error = "no pipe";
        return false;
    }
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        error = "no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (withInput) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    } else {
        posix_spawn_file_actions_addclose(&actions, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    for (const int fd : {in[0], in[1], out[0], out[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int failed = posix_spawn(&process, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input = in[1];
    output = out[0];
    if (!withInput) closeInput();
    // A child that has gone must not end the test with SIGPIPE when it is written to.
    std::signal(SIGPIPE, SIG_IGN);
    if (failed) {
        process = -1;
        error = "cannot start " + arguments[0];
        return false;
    }
    return true;
}

void Child::writeLine(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (input >= 0 && done < text.size()) {
        const ssize_t wrote = write(input, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

void Child::signal(int signal) {
    if (process > 0) kill(process, signal);
}

void Child::closeInput() {
    if (input >= 0) close(input);
    input = -1;
}

std::optional<std::string> Child::readLine(double seconds) {
    const double deadline = now() + seconds;
    for (;;) {
        const std::size_t end = buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            return line;
        }
        const double left = deadline - now();
        if (outputEnded || left <= 0) return std::nullopt;
        pollfd ready{output, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(left * 1000) + 1);
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) continue; // the deadline is checked above
        char chunk[4096];
        const ssize_t got = read(output, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            outputEnded = true;
            continue;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::vector<std::string> Child::remainingLines(double seconds) {
    const double deadline = now() + seconds;
    std::vector<std::string> lines;
    while (std::optional<std::string> line = readLine(deadline - now()))
        lines.push_back(*line);
    if (!buffer.empty()) lines.push_back(buffer); // a last line without its "\n"
    buffer.clear();
    return lines;
}

int Child::waitForExit(double seconds) {
    const double deadline = now() + seconds;
    while (process > 0) {
        int status = 0;
        const pid_t done = waitpid(process, &status, WNOHANG);
        if (done == process) {
            process = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 && errno != EINTR) return -1;
        if (now() > deadline) return -1;
        usleep(5000);
    }
    return -1;
}

} // namespace qk::live
