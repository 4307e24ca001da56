#include "platform/streams.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace qk::platform {

// POSIX streams carry bytes as they are, so only closed descriptors and broken pipes need care.
void prepareStandardStreams() {
    // A write to a pipe nobody reads then fails with EPIPE, which the programs check.
    std::signal(SIGPIPE, SIG_IGN);
    constexpr int osError = 71; // EX_OSERR
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lower descriptors are open by now, so open() returns exactly `fd`. Read-only, so
        // that writes to a closed standard output or error still fail.
        if (open("/dev/null", O_RDONLY) != fd) {
            static const char message[] = "qkscan: cannot open /dev/null\n";
            [[maybe_unused]] const ssize_t wrote = write(2, message, sizeof message - 1);
            std::_Exit(osError);
        }
    }
}

} // namespace qk::platform
