#include "record/recording.h"

#include "intercept/event_filter.h"
#include "json/text.h"

namespace qk {

std::string_view recordedName(KeyCode key, EventFlags flags, bool autorepeat) {
    // The listening session never feeds an autorepeated key-down, nor one chorded with Control,
    // Option or Command, to its matcher: such a key ends a trigger in progress and cannot start
    // one. "OTHER" does exactly that in the self-test, so the document gets the session's outcome
    // (a held-down key is a person's, never a scanner's). Leaving these keys out would instead
    // let a self-test recognise a code the session broke off.
    if (autorepeat || (flags & commandModifiers) != 0) return otherName;
    return keyName(key);
}

Recording::Recording() {
    keys.reserve(1 << 14);
    starts.reserve(1 << 10);
}

void Recording::keyDown(KeyCode key, EventFlags flags, bool autorepeat, double at) {
    endIfIdle(at);
    if (!open) {
        starts.push_back(keys.size());
        open = true;
    }
    keys.push_back({recordedName(key, flags, autorepeat), at, keyName(key),
                    flags & commandModifiers, autorepeat});
}

void Recording::endIfIdle(double now) {
    if (open && now - keys.back().at > sequencePause) open = false;
}

void Recording::end() {
    open = false;
}

KeySequence Recording::sequence(std::size_t index) const {
    const std::size_t first = starts[index];
    const std::size_t last = index + 1 < starts.size() ? starts[index + 1] : keys.size();
    return KeySequence(keys).subspan(first, last - first);
}

void Recording::appendDocument(std::string& out) const {
    if (starts.empty()) {
        out += "[]\n";
        return;
    }
    out += "[\n";
    for (std::size_t index = 0; index < starts.size(); ++index) {
        out += index == 0 ? "[" : ",\n[";
        const KeySequence keysOfSequence = sequence(index);
        for (std::size_t k = 0; k < keysOfSequence.size(); ++k) {
            out += k == 0 ? "{\"key\":" : ",{\"key\":";
            appendJsonString(out, keysOfSequence[k].name);
            out += ",\"at\":";
            // The uptime itself, not the time since the start: differences of these doubles are
            // exactly those the session's matcher computed, so a gap at the limit stays on the
            // same side of it.
            appendJsonNumber(out, keysOfSequence[k].at);
            out += '}';
        }
        out += ']';
    }
    out += "\n]\n";
}

} // namespace qk
