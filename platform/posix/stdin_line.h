// Waiting for the parent's stop request on standard input.
#pragma once

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qk::platform {

// Blocks until standard input delivers a line, ends, or fails. The content is ignored, and a long
// line costs no memory.
inline void waitForStandardInputLine() {
    char buffer[256];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        if (std::memchr(buffer, '\n', static_cast<std::size_t>(got))) return;
    }
}

} // namespace qk::platform
