// The input channel of the test-only builds: lines of text on a descriptor, read as they arrive.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <unistd.h>

namespace qk::test {

// Splits what arrives on a descriptor into lines. Each byte is looked at once and the handled
// lines are cut off together, so that a line costs time in proportion to its length, however
// long it is.
class LineChannel {
public:
    // Reads what `fd` has and calls `onLine` with each complete, non-empty line (a std::string,
    // without its "\n"). False at the end of input or on an error.
    template <typename OnLine> bool readFrom(int fd, OnLine onLine) {
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end;
             (end = pending.find('\n', std::max(start, scanned))) != std::string::npos;
             start = end + 1) {
            std::string line = pending.substr(start, end - start);
            if (!line.empty()) onLine(line);
        }
        pending.erase(0, start);
        scanned = pending.size();
        return true;
    }

private:
    std::string pending;     // received but not yet a whole line
    std::size_t scanned = 0; // bytes of `pending` known to hold no line break
};

} // namespace qk::test
