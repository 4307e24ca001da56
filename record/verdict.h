// Why a recorded sequence was or was not recognised as the trigger, found from the key names and
// times alone (all a recording keeps), with the real matcher, and told in plain language with the
// scanner setting that most likely needs changing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "record/recording.h"

namespace qk {

enum class Finding {
    recognised,   // the matcher completed the trigger
    slow,         // the code's keys in their order, but a gap between letters over the limit
    noEnter,      // the code's letters in time, then no Enter in time
    otherSuffix,  // the code's letters in time, then another key in time where Enter should be
    prefix,       // the code and Enter in time, broken by keys before its Q
    otherLetters, // keys at a scanner's pace that are not the code's
    notAScan,     // keys at a person's pace that are not the code's
    commandHeld,  // the code and Enter in time, but keys of it came with Control, Option or Command
    repeated,     // the code and Enter in time, but keys of it came as autorepeats
};

// The time between key `after` and the next one (indices into the sequence, from 0).
struct Gap {
    double seconds = 0;
    std::size_t after = 0;
};

struct Diagnosis {
    Finding finding = Finding::notAScan;
    std::size_t recognitions = 0; // completed triggers in the sequence
    // The attempt the diagnosis is about: the Q from which the most keys follow the code
    // (Q K D A T U M ENTER) by name, or, once recognised, the Q of the first completed trigger.
    // Only meaningful if `hasQ`.
    bool hasQ = false;
    std::size_t start = 0;
    std::size_t matched = 0;     // keys from `start` that follow the code by name, up to 8
    std::string_view instead;    // the key after the matched ones; empty if there is none
    Gap slowest;                 // the slowest gap between the matched keys
    std::size_t slowGaps = 0;    // gaps between the matched letters over the limit
    double suffixGap = 0;        // from the M to the key after it, if both are there
    std::size_t prefixKeys = 0;  // keys just before `start`, at the attempt's pace
    std::size_t scanPaceRun = 0; // the longest run of keys each within the limit of the last
    bool azerty = false;         // the sequence holds the code as an AZERTY layout types it
    // Keys of the code or Enter recorded as OTHER: with Control, Option or Command held (and
    // which of them), or as autorepeats (and the first of these, by its own name).
    std::size_t chorded = 0;
    EventFlags chordFlags = 0;
    std::size_t repeats = 0;
    std::string_view firstRepeat;
};

// Diagnoses one sequence, fed to a fresh matcher as the self-test does.
Diagnosis diagnose(KeySequence keys);

// Appends the plain-language verdict for sequence `number` (from 1): one paragraph, wrapped to
// `width` columns, ending in "\n".
void describe(const Diagnosis& diagnosis, KeySequence keys, std::size_t number, std::string& out,
              std::size_t width = 80);

} // namespace qk
