// The transcript of a simulated session: what qkscan printed, posted and decided, in order.
#pragma once

#include <cstdint>
#include <string>

#include "platform/events.h"

namespace qk {

// One line of the transcript.
struct Entry {
    enum class Kind {
        out,         // a line qkscan wrote to its standard output (`text`, without "\n")
        postProcess, // qkscan posted a copy of input `step` to `pid`
        postHID,     // qkscan posted a copy of input `step` into the hardware stream
        verdict,     // the filter passed or dropped input `step` (or a re-entered copy of it)
        deliver,     // process `pid` (0: none) received input `step`
        exit,        // qkscan ended with `status`
    };
    Kind kind;
    double at = 0;
    std::int64_t step = -1;
    Pid pid = 0;
    std::int64_t userData = 0;
    Verdict verdict = Verdict::pass;
    int status = 0;
    std::string text;
};

// Appends one transcript line (with "\n"): a JSON object whose "at" is the time in seconds.
void appendEntry(std::string& out, const Entry& entry);

} // namespace qk
