#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qk::test {

void initChildAttributes(posix_spawnattr_t& attributes) {
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
}

Outcome run(const std::vector<std::string>& arguments, const std::string& input,
            const Streams& streams) {
    int in[2], out[2], err[2], unread[2] = {-1, -1};
    if (pipe(in) || pipe(out) || pipe(err)) return {};
    if (streams.outputUnread) {
        if (pipe(unread)) return {};
        close(unread[0]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (streams.inputFile.empty()) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, streams.inputFile.c_str(), O_RDONLY, 0);
    }
    if (streams.outputClosed) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else if (streams.outputUnread) {
        posix_spawn_file_actions_adddup2(&actions, unread[1], 1);
        posix_spawn_file_actions_addclose(&actions, unread[1]);
    } else if (!streams.outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, streams.outputFile.c_str(), O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    initChildAttributes(attributes);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (unread[1] >= 0) close(unread[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    if (failed) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        outcome.err = "cannot start " + arguments[0];
        return outcome;
    }
    // Feed and drain at the same time, so that neither side blocks on a full pipe.
    std::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty() || !streams.inputFile.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3] = {{out[0], static_cast<short>(outOpen ? POLLIN : 0), 0},
                         {err[0], static_cast<short>(errOpen ? POLLIN : 0), 0},
                         {inFd, POLLOUT, 0}};
        if (poll(fds, inFd >= 0 ? 3 : 2, -1) < 0 && errno != EINTR) break;
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
            } else {
                (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(got));
            }
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t wrote = write(inFd, input.data() + written, input.size() - written);
            if (wrote > 0) written += static_cast<std::size_t>(wrote);
            if (wrote < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    return outcome;
}

} // namespace qk::test
