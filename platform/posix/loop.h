// Extra hooks of the POSIX main loop, for event sources that live on a file descriptor.
#pragma once

namespace qk::posix {

// Calls `ready` on the main thread whenever `fd` is readable, until unwatchFd.
void watchFd(int fd, void (*ready)());
void unwatchFd(int fd);

} // namespace qk::posix
