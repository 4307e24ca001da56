#include "record/verdict.h"

#include <array>

#include "core/matcher.h"
#include "core/trigger.h"

namespace qk {

namespace {

// The code as the recording names it: the letters, then Enter.
constexpr std::size_t codeLength = barcode.size() + 1;

std::string_view codeKey(std::size_t position) {
    return position < barcode.size() ? barcode.substr(position, 1) : enterName;
}

// The matcher's own test, so that a gap counts as late exactly when it broke the trigger.
bool late(double seconds) {
    return seconds > gap;
}

// A run at least this long with every gap within the limit is a scanner's typing: scanners type
// the whole code and suffix that fast, people seldom more than a few keys in a row.
constexpr std::size_t scanPace = 6;

// The trigger typed by a scanner set to the French or Belgian AZERTY layout: to type Q and A it
// sends the keys that are A and Q on a US keyboard, and to type M the key right of L.
constexpr std::array<std::string_view, 7> azertyCode{"A", "K", "D", "Q", "T", "U", "OTHER"};

std::size_t matchedFrom(KeySequence keys, std::size_t start) {
    std::size_t matched = 0;
    while (matched < codeLength && start + matched < keys.size() &&
           keys[start + matched].name == codeKey(matched))
        ++matched;
    return matched;
}

std::size_t longestScanPaceRun(KeySequence keys) {
    std::size_t longest = keys.empty() ? 0 : 1, run = 1;
    for (std::size_t i = 1; i < keys.size(); ++i) {
        run = late(keys[i].at - keys[i - 1].at) ? 1 : run + 1;
        if (run > longest) longest = run;
    }
    return longest;
}

bool holdsAzertyCode(KeySequence keys) {
    for (std::size_t i = 0; i + azertyCode.size() <= keys.size(); ++i) {
        std::size_t k = 0;
        while (k < azertyCode.size() && keys[i + k].name == azertyCode[k])
            ++k;
        if (k == azertyCode.size()) return true;
    }
    return false;
}

// Runs the sequence through a fresh matcher; the index of the first key that completed the
// trigger, or keys.size() if none did.
std::size_t firstCompletion(KeySequence keys, std::size_t& recognitions) {
    Matcher matcher;
    std::size_t first = keys.size();
    recognitions = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (matcher.feed(keys[i].name, keys[i].at) != complete) continue;
        if (recognitions++ == 0) first = i;
    }
    return first;
}

// The Q from which the most keys follow the code by name; false if there is no Q.
bool bestAttempt(KeySequence keys, std::size_t& start, std::size_t& matched) {
    bool found = false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].name != codeKey(0)) continue;
        const std::size_t m = matchedFrom(keys, i);
        if (!found || m > matched) {
            found = true;
            start = i;
            matched = m;
        }
    }
    return found;
}

// The gaps between the attempt's matched keys, and the keys before it at the same pace.
void measureAttempt(KeySequence keys, Diagnosis& d) {
    const std::size_t letters = d.matched < barcode.size() ? d.matched : barcode.size();
    d.slowest = {0, d.start};
    for (std::size_t j = d.start; j + 1 < d.start + d.matched; ++j) {
        const double seconds = keys[j + 1].at - keys[j].at;
        if (seconds > d.slowest.seconds) d.slowest = {seconds, j};
        if (j + 1 < d.start + letters && late(seconds)) ++d.slowGaps;
    }
    const std::size_t afterLetters = d.start + letters;
    if (letters == barcode.size() && afterLetters < keys.size())
        d.suffixGap = keys[afterLetters].at - keys[afterLetters - 1].at;
    const double pace = late(d.slowest.seconds) ? d.slowest.seconds : gap;
    std::size_t first = d.start;
    while (first > 0 && keys[first].at - keys[first - 1].at <= pace)
        --first;
    d.prefixKeys = d.start - first;
}

Finding classifyAttempt(const Diagnosis& d, std::size_t keyCount) {
    if (d.matched < barcode.size())
        return d.scanPaceRun >= scanPace ? Finding::otherLetters : Finding::notAScan;
    if (d.slowGaps > 0) return Finding::slow;
    // The letters came in time; what follows the M decides.
    const bool keyAfterM = d.start + barcode.size() < keyCount;
    if (!keyAfterM || late(d.suffixGap)) return Finding::noEnter;
    if (d.matched < codeLength) return Finding::otherSuffix;
    // The code and Enter in time would complete on an idle matcher: the keys before the Q had
    // left the matcher part-way through an earlier start.
    return Finding::prefix;
}

// Counts the keys that were recorded as OTHER only for a command modifier or an autorepeat.
void countRenamed(KeySequence keys, Diagnosis& d) {
    for (const RecordedKey& key : keys) {
        if (!key.renamed()) continue;
        if (key.commands != 0) {
            ++d.chorded;
            d.chordFlags |= key.commands;
        } else {
            if (d.repeats++ == 0) d.firstRepeat = key.typed;
        }
    }
}

// Whether the trigger completes when those keys are fed by their own names: they alone kept it
// from being recognised.
bool recognisedAsTyped(KeySequence keys) {
    Matcher matcher;
    for (const RecordedKey& key : keys)
        if (matcher.feed(key.renamed() ? key.typed : key.name, key.at) == complete) return true;
    return false;
}

// The diagnosis from the names the matcher was fed.
Diagnosis diagnoseNames(KeySequence keys) {
    Diagnosis d;
    d.scanPaceRun = longestScanPaceRun(keys);
    d.azerty = holdsAzertyCode(keys);
    const std::size_t completion = firstCompletion(keys, d.recognitions);
    if (d.recognitions > 0) {
        d.hasQ = true;
        d.start = completion - barcode.size();
        d.matched = codeLength;
    } else {
        d.hasQ = bestAttempt(keys, d.start, d.matched);
    }
    if (!d.hasQ) {
        d.finding = d.scanPaceRun >= scanPace ? Finding::otherLetters : Finding::notAScan;
        return d;
    }
    if (d.start + d.matched < keys.size()) d.instead = keys[d.start + d.matched].name;
    measureAttempt(keys, d);
    d.finding = d.recognitions > 0 ? Finding::recognised : classifyAttempt(d, keys.size());
    return d;
}

} // namespace

Diagnosis diagnose(KeySequence keys) {
    Diagnosis d = diagnoseNames(keys);
    countRenamed(keys, d);
    // A scan typed with Command held reads as keys outside the code; the cause is the modifier or
    // the repeat, not the scanner's layout.
    if (d.finding != Finding::recognised && d.chorded + d.repeats > 0 && recognisedAsTyped(keys))
        d.finding = d.chorded > 0 ? Finding::commandHeld : Finding::repeated;
    return d;
}

} // namespace qk
