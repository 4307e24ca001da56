// A recording of key-downs kept as the self-test's input document: for each key only the name the
// matcher uses and its time, in sequences split at pauses. Time is given by the caller.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/trigger.h"
#include "platform/events.h"

namespace qk {

// A pause longer than this, in seconds, ends a sequence. A scan takes a small fraction of it, so
// scans made one at a time each get a sequence, and each its own fresh matcher in the self-test.
inline constexpr double sequencePause = 1.0;

struct RecordedKey {
    std::string_view name; // one of the names keyName gives; never the key code or a character
    double at;             // uptime, seconds
    // What made a key of the code, or Enter, be recorded as OTHER: it came with Control, Option
    // or Command held (`commands`, those flags), or as an autorepeat. `typed` is then the name
    // keyName gives the key itself. For the verdicts only: the document holds `name` and `at`.
    std::string_view typed = {};
    EventFlags commands = 0;
    bool autorepeat = false;

    bool renamed() const { return !typed.empty() && typed != name; }
};

using KeySequence = std::span<const RecordedKey>;

class Recording {
public:
    // Room for a long recording is reserved up front, so that a key-down seldom allocates.
    Recording();

    // Records a key-down of `key` at uptime `at`, with its modifier `flags` and whether it is an
    // autorepeat. It starts a new sequence if the last key came more than sequencePause earlier.
    void keyDown(KeyCode key, EventFlags flags, bool autorepeat, double at);
    // Ends the open sequence if its last key came more than sequencePause before `now`.
    void endIfIdle(double now);
    // Ends the open sequence, if any: the recording stops.
    void end();

    std::size_t sequences() const { return starts.size(); } // the open one included
    std::size_t finished() const { return open ? starts.size() - 1 : starts.size(); }
    std::size_t keyCount() const { return keys.size(); }
    KeySequence sequence(std::size_t index) const;

    // Appends the whole recording as the self-test's input document, one sequence a line, "\n"
    // at the end. An open sequence is written as it stands.
    void appendDocument(std::string& out) const;

private:
    std::vector<RecordedKey> keys;
    std::vector<std::size_t> starts; // index of each sequence's first key in `keys`
    bool open = false;
};

// The name a key-down is recorded with.
std::string_view recordedName(KeyCode key, EventFlags flags, bool autorepeat);

} // namespace qk
