// The verdicts in words, for the person at the scanner and whoever sets it up.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/trigger.h"
#include "record/verdict.h"

namespace qk {

namespace {

constexpr std::size_t listedKeys = 16; // keys listed in a verdict; the rest are left out

const double limitMs = gap * 1000;

std::string milliseconds(double seconds) {
    const double value = seconds * 1000;
    const char* format = "%.0f ms";
    if (value < 10) format = "%.1f ms";
    // Near the limit a whole number could round onto it and read as allowed.
    if (value != limitMs && value > limitMs - 0.5 && value < limitMs + 0.5) format = "%.3f ms";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    // A gap over the limit by less than the digits show would still read as the limit, which is
    // allowed; the matcher compares the exact difference, and so does this.
    if (seconds > gap && std::strtod(text, nullptr) <= limitMs)
        std::snprintf(text, sizeof text, "just over %.0f ms", limitMs);
    return text;
}

const std::string limit = milliseconds(gap);

// A key in a sentence.
std::string spoken(std::string_view name) {
    if (name == enterName) return "Enter";
    if (name == otherName) return "a key outside the code";
    return "the " + std::string(name);
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string between(KeySequence keys, const Gap& g) {
    return "between " + spoken(keys[g.after].name) + " and " + spoken(keys[g.after + 1].name);
}

// The names of keys [first, first + n), as the recording has them.
std::string names(KeySequence keys, std::size_t first, std::size_t n) {
    std::string text;
    for (std::size_t i = first; i < first + n && i < keys.size(); ++i) {
        if (!text.empty()) text += ' ';
        text += keys[i].name;
    }
    return text;
}

std::string prefixNote(const Diagnosis& d) {
    if (d.prefixKeys == 0) return "";
    return " " + count(d.prefixKeys, "key", "keys") +
           " came just before the Q, so the scanner seems to send a prefix, which reaches the "
           "application as typed: remove the prefix in the scanner's settings.";
}

std::string setSuffix() {
    return "Set the scanner's suffix to Enter (CR, carriage return).";
}

std::string recognised(const Diagnosis& d, KeySequence keys) {
    std::string text = "recognised";
    if (d.recognitions > 1) text += " " + std::to_string(d.recognitions) + " times";
    text += ". QKDATUM and Enter came in time; the slowest gap was " +
            milliseconds(d.slowest.seconds) + ", " + between(keys, d.slowest) + " (up to " + limit +
            " is allowed).";
    if (d.slowest.seconds > gap / 2)
        text += " That is little margin: set the scanner's inter-character delay to none (0 ms).";
    if (d.prefixKeys > 0) text += " But" + prefixNote(d);
    return text;
}

std::string slow(const Diagnosis& d, KeySequence keys) {
    const bool lateEnter = d.matched == barcode.size() + 1 && d.suffixGap > gap;
    const std::size_t lateGaps = d.slowGaps + (lateEnter ? 1 : 0);
    std::string text = "not recognised: too slow. The keys were the right ones, but ";
    if (lateGaps == 1) {
        text += "one gap was longer than the " + limit +
                " allowed: " + milliseconds(d.slowest.seconds) + ", " + between(keys, d.slowest) +
                ". If this happens only now and then, the computer was busy for a moment: scan "
                "again. If it keeps happening, set the scanner's inter-character delay to none "
                "(0 ms).";
    } else {
        text += std::to_string(lateGaps) + " gaps were longer than the " + limit +
                " allowed; the slowest was " + milliseconds(d.slowest.seconds) + ", " +
                between(keys, d.slowest) +
                ". The scanner waits between characters: set its inter-character delay to none "
                "(0 ms), or at most a few milliseconds.";
    }
    if (d.matched == barcode.size()) {
        text += d.instead.empty() ? " Also, nothing came after the M. "
                                  : " Also, " + spoken(d.instead) + " came where Enter should be. ";
        text += setSuffix();
    }
    return text + prefixNote(d);
}

std::string noEnter(const Diagnosis& d, KeySequence keys) {
    std::string text = "not recognised: no Enter after the code. QKDATUM came in time, but ";
    const std::size_t afterM = d.start + barcode.size();
    if (afterM >= keys.size()) {
        text += "nothing followed it: the scanner sends no Enter after the code. ";
    } else if (keys[afterM].name == enterName) {
        text += "Enter came only " + milliseconds(d.suffixGap) + " after the M (up to " + limit +
                " is allowed). If Enter was pressed by hand, the scanner sends none itself. ";
    } else {
        text += "no Enter came within " + limit + " (the next key, " + spoken(keys[afterM].name) +
                ", came " + milliseconds(d.suffixGap) + " after the M). ";
    }
    return text + setSuffix() + prefixNote(d);
}

std::string otherSuffix(const Diagnosis& d) {
    std::string text =
        "not recognised: another key where Enter should be. QKDATUM came in time, but then came ";
    text +=
        d.instead == otherName ? "a key outside the code (Tab, for example)" : spoken(d.instead);
    text += " instead of Enter. Set the scanner's suffix to Enter (CR, carriage return), not Tab "
            "or another key.";
    return text + prefixNote(d);
}

std::string prefix(const Diagnosis& d, KeySequence keys) {
    std::string text = "not recognised: keys before the Q got in the way. QKDATUM and Enter came "
                       "in time, but the keys just before them had already begun the code, and "
                       "this Q was taken as breaking it.";
    if (d.start > 0 && keys[d.start].at - keys[d.start - 1].at > gap)
        text += " The listening session forgets an unfinished code after 0.1 s, so there this "
                "scan may still have counted: scan once more on its own to be sure.";
    return text + " If the scanner sends a prefix, remove it in its settings; otherwise do not "
                  "type while scanning.";
}

std::string otherLetters(const Diagnosis& d, KeySequence keys) {
    std::string text = "not recognised: other keys than the code. " +
                       count(d.scanPaceRun, "key", "keys") + " came at a scanner's speed, but ";
    if (!d.hasQ) {
        text += "with no Q among them.";
    } else if (d.instead.empty()) {
        text += "the code stopped after " + names(keys, d.start, d.matched) + ".";
    } else {
        text += "after " + names(keys, d.start, d.matched) + " came " + spoken(d.instead) +
                " where " + spoken(barcode.substr(d.matched, 1)) + " should be.";
    }
    text += " Typed: " + names(keys, 0, listedKeys) + (keys.size() > listedKeys ? " ..." : "") +
            " (OTHER is any key outside the code).";
    if (const std::size_t renamed = d.chorded + d.repeats; renamed == 1) {
        text += " One of these keys is OTHER only because it came with Control, Option or Command "
                "held, or as a repeat.";
    } else if (renamed > 1) {
        text += " " + std::to_string(renamed) +
                " of these keys are OTHER only because they came with Control, Option or Command "
                "held, or as repeats.";
    }
    if (d.azerty)
        text += " These are exactly the keys a scanner set to the French or Belgian AZERTY "
                "layout types for QKDATUM.";
    return text + " If this was the QKDATUM barcode, set the scanner's keyboard layout (country) "
                  "to US, or to one with Q K D A T U M where US has them (German and other QWERTZ "
                  "layouts, UK). If you scanned another barcode, this is as it should be.";
}

// "Command", "Control and Option"...: the command modifiers among `flags`.
std::string modifierNames(EventFlags flags) {
    std::vector<std::string_view> names;
    if (flags & flags::control) names.push_back("Control");
    if (flags & flags::option) names.push_back("Option");
    if (flags & flags::command) names.push_back("Command");
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

std::string commandHeld(const Diagnosis& d) {
    const std::string held = modifierNames(d.chordFlags);
    const bool several = held.find(" and ") != std::string::npos;
    const std::string keys =
        d.chorded == 1 ? "one of its keys" : std::to_string(d.chorded) + " of its keys";
    return "not recognised: " + held + (several ? " were" : " was") +
           " held down. QKDATUM and Enter came in time, but " + keys + " came with " + held +
           " held. qkscan never takes a key pressed with Control, Option or Command as part of a "
           "scan (it is a shortcut), and the recording names such keys OTHER. Scan again without "
           "holding " +
           held +
           (several ? ". If nobody was holding them, the scanner sends them"
                    : ". If nobody was holding it, the scanner sends it") +
           " with the keys: reset its keyboard and prefix settings.";
}

std::string repeated(const Diagnosis& d) {
    std::string text = "not recognised: a key repeated. QKDATUM and Enter came in time, but ";
    text += d.repeats == 1 ? spoken(d.firstRepeat) + " came"
                           : count(d.repeats, "key", "keys") + ", the first " +
                                 spoken(d.firstRepeat) + ", came";
    return text + " as the repeat of a key held down, which qkscan takes for a person's typing and "
                  "never as part of a scan; the recording shows it as OTHER. If a key was held "
                  "down during the scan, scan again with the keyboard untouched.";
}

std::string notAScan() {
    return "not a scan. The keys came at a person's pace and are not the code: ordinary typing. "
           "If it was a scan of the QKDATUM barcode, check the scanner's keyboard layout (US) "
           "and its inter-character delay (none).";
}

std::string sentences(const Diagnosis& d, KeySequence keys) {
    switch (d.finding) {
    case Finding::recognised:
        return recognised(d, keys);
    case Finding::slow:
        return slow(d, keys);
    case Finding::noEnter:
        return noEnter(d, keys);
    case Finding::otherSuffix:
        return otherSuffix(d);
    case Finding::prefix:
        return prefix(d, keys);
    case Finding::otherLetters:
        return otherLetters(d, keys);
    case Finding::notAScan:
        return notAScan();
    case Finding::commandHeld:
        return commandHeld(d);
    case Finding::repeated:
        return repeated(d);
    }
    return "";
}

// Appends `text` in lines of at most `width` columns (a longer word gets a line of its own), the
// lines after the first indented, so that each paragraph stands out.
void appendWrapped(std::string& out, std::string_view text, std::size_t width) {
    constexpr std::string_view indent = "  ";
    std::size_t column = 0;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (word.empty()) continue;
        if (column > 0 && column + 1 + word.size() > width) {
            out += '\n';
            out += indent;
            column = indent.size();
        } else if (column > 0) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
    }
    out += '\n';
}

} // namespace

void describe(const Diagnosis& diagnosis, KeySequence keys, std::size_t number, std::string& out,
              std::size_t width) {
    const std::string text = "Sequence " + std::to_string(number) + " (" +
                             count(keys.size(), "key", "keys") + "): " + sentences(diagnosis, keys);
    appendWrapped(out, text, width);
}

} // namespace qk
