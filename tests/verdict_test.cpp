// The verdicts: which finding a sequence gets, the facts behind it, and what the text names.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/matcher.h"
#include "record/verdict.h"

namespace qk {
namespace {

struct Typed {
    std::string_view name;
    double after; // seconds after the previous key (the first: after the sequence's start)
    // Pressed with these of Control, Option and Command, or as an autorepeat: then recorded as
    // OTHER, as the recorder does.
    EventFlags commands = 0;
    bool autorepeat = false;
};

constexpr double fast = 0.004; // a scanner's pace

std::vector<Typed> code(double step = fast, std::string_view suffix = "ENTER") {
    std::vector<Typed> keys;
    for (const std::string_view name : {"Q", "K", "D", "A", "T", "U", "M"})
        keys.push_back({name, keys.empty() ? 0 : step});
    if (!suffix.empty()) keys.push_back({suffix, step});
    return keys;
}

// Keys [first, last) of `keys`.
std::vector<Typed> part(const std::vector<Typed>& keys, std::size_t first, std::size_t last) {
    return std::vector<Typed>(keys.begin() + static_cast<std::ptrdiff_t>(first),
                              keys.begin() + static_cast<std::ptrdiff_t>(last));
}

std::vector<Typed> operator+(std::vector<Typed> a, const std::vector<Typed>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The names a recording holds: the ones the trigger header defines.
std::string_view stored(std::string_view name) {
    if (name == "ENTER") return enterName;
    if (name == "OTHER") return otherName;
    for (const Letter& letter : letters)
        if (letter.name == name) return letter.name;
    ADD_FAILURE() << "not a recorded name: " << name;
    return otherName;
}

std::vector<RecordedKey> keysOf(const std::vector<Typed>& typed, double start) {
    std::vector<RecordedKey> keys;
    double at = start;
    for (const Typed& t : typed) {
        at += t.after;
        const bool renamed = t.commands != 0 || t.autorepeat;
        keys.push_back(
            {renamed ? otherName : stored(t.name), at, stored(t.name), t.commands, t.autorepeat});
    }
    return keys;
}

// The code typed with `commands` held from key `first` on, or with key `first` an autorepeat.
std::vector<Typed> held(EventFlags commands, std::size_t first = 0) {
    std::vector<Typed> keys = code();
    for (std::size_t i = first; i < keys.size(); ++i)
        keys[i].commands = commands;
    return keys;
}
std::vector<Typed> repeating(std::size_t which) {
    std::vector<Typed> keys = code();
    keys[which].autorepeat = true;
    return keys;
}

struct Case {
    const char* title;
    std::vector<Typed> keys;
    Finding finding;
    std::vector<std::string> says; // each must be in the verdict's text
    // Facts checked when given.
    std::optional<std::size_t> recognitions = {};
    std::optional<std::size_t> slowestAfter = {};
    std::optional<std::size_t> slowGaps = {};
    std::optional<std::size_t> prefixKeys = {};
    std::optional<std::string_view> instead = {};
    bool azerty = false;
    double start = 5000; // uptime of the sequence's start
};

std::vector<Typed> slowEverywhere() {
    std::vector<Typed> keys = code(0.15);
    keys[4].after = 0.152; // A to T
    return keys;
}

std::vector<Typed> oneSlowGap() {
    std::vector<Typed> keys = code();
    keys[2].after = 0.13; // K to D
    return keys;
}

std::vector<Typed> withClean(std::size_t index, double after) {
    std::vector<Typed> keys = code();
    keys[index].after = after;
    return keys;
}

const std::vector<Case> cases = {
    // Recognised.
    {"a clean scan",
     withClean(4, 0.012),
     Finding::recognised,
     {"recognised.", "12 ms, between the A and the T"},
     1,
     3,
     {},
     0},
    {"two scans within a second",
     code() + std::vector<Typed>{{"Q", 0.3}} + part(code(), 1, 8),
     Finding::recognised,
     {"recognised 2 times"},
     2},
    {"a gap of exactly the double 0.1 is in time",
     withClean(1, 0.1),
     Finding::recognised,
     {"the slowest gap was 100 ms, between the Q and the K", "little margin"},
     1,
     0,
     {},
     {},
     {},
     false,
     0},
    {"a prefix before a recognised scan",
     std::vector<Typed>{{"OTHER", 0}, {"OTHER", fast}, {"OTHER", fast}, {"Q", fast}} +
         part(code(), 1, 8),
     Finding::recognised,
     {"recognised.", "3 keys came just before the Q", "remove the prefix"},
     1,
     {},
     {},
     3},
    {"typing half a second before a scan is no prefix",
     std::vector<Typed>{{"OTHER", 0}, {"Q", 0.5}} + part(code(), 1, 8),
     Finding::recognised,
     {"recognised."},
     1,
     {},
     {},
     0},
    // Too slow.
    {"an inter-character delay",
     slowEverywhere(),
     Finding::slow,
     {"too slow", "7 gaps", "152 ms, between the A and the T", "inter-character delay"},
     0,
     3,
     6},
    {"one slow gap",
     oneSlowGap(),
     Finding::slow,
     {"one gap", "130 ms, between the K and the D", "scan again", "inter-character delay"},
     0,
     1,
     1},
    {"the smallest gap over the limit is late, and not shown as the limit",
     withClean(1, std::nextafter(0.1, 1.0)),
     Finding::slow,
     {"longer than the 100 ms allowed: just over 100 ms, between the Q and the K"},
     0,
     0,
     1,
     {},
     {},
     false,
     0},
    {"keys 0.1 s apart on the clock, 1.0 then 1.1, are a hair over the limit, and said to be",
     withClean(1, 0.1),
     Finding::slow,
     {"longer than the 100 ms allowed: just over 100 ms, between the Q and the K"},
     0,
     0,
     1,
     {},
     {},
     false,
     1.0},
    {"Enter a hair over the limit after the M",
     withClean(7, 0.1),
     Finding::noEnter,
     {"Enter came only just over 100 ms after the M (up to 100 ms is allowed)"},
     0,
     {},
     0,
     {},
     {},
     false,
     1.0},
    {"slow and with Tab for Enter",
     code(0.15, "OTHER"),
     Finding::slow,
     {"inter-character delay", "came where Enter should be", "suffix to Enter"},
     0,
     {},
     6,
     {},
     "OTHER"},
    // The suffix.
    {"no suffix",
     code(fast, ""),
     Finding::noEnter,
     {"no Enter", "nothing followed it", "suffix to Enter (CR"},
     0,
     {},
     0,
     0,
     ""},
    {"no suffix, and a gap of exactly the double 0.1, which is in time",
     part(withClean(1, 0.1), 0, 7),
     Finding::noEnter,
     {"nothing followed it"},
     0,
     0,
     0,
     {},
     {},
     false,
     0},
    {"Enter pressed by hand",
     withClean(7, 0.6),
     Finding::noEnter,
     {"Enter came only 600 ms after the M", "suffix to Enter"},
     0},
    {"another key long after the M",
     code(fast, "") + std::vector<Typed>{{"OTHER", 0.4}},
     Finding::noEnter,
     {"no Enter came within 100 ms", "400 ms after the M", "suffix to Enter"},
     0},
    {"Tab for Enter",
     code(fast, "OTHER"),
     Finding::otherSuffix,
     {"instead of Enter", "Tab", "suffix to Enter"},
     0,
     {},
     0,
     0,
     "OTHER"},
    {"a letter where Enter should be",
     code(fast, "K"),
     Finding::otherSuffix,
     {"the K instead of Enter"},
     0,
     {},
     {},
     {},
     "K"},
    {"no suffix and a prefix",
     std::vector<Typed>{{"OTHER", 0}, {"Q", fast}} + part(code(), 1, 7),
     Finding::noEnter,
     {"suffix to Enter", "1 key came just before the Q"},
     0,
     {},
     {},
     1},
    // Keys before the Q.
    {"a Q in the prefix",
     std::vector<Typed>{{"Q", 0}} + withClean(0, fast),
     Finding::prefix,
     {"keys before the Q", "remove it"},
     0,
     {},
     0,
     1},
    {"a Q typed half a second before",
     std::vector<Typed>{{"Q", 0}} + withClean(0, 0.5),
     Finding::prefix,
     {"keys before the Q", "forgets an unfinished code after 0.1 s"},
     0},
    // Other letters.
    {"the code as an AZERTY layout types it",
     {{"A", 0},
      {"K", fast},
      {"D", fast},
      {"Q", fast},
      {"T", fast},
      {"U", fast},
      {"OTHER", fast},
      {"ENTER", fast}},
     Finding::otherLetters,
     {"after Q came the T where the K should be", "Typed: A K D Q T U OTHER ENTER", "AZERTY",
      "keyboard layout (country) to US"},
     0,
     {},
     {},
     {},
     "T",
     true},
    {"letters in another order",
     {{"Q", 0},
      {"D", fast},
      {"K", fast},
      {"A", fast},
      {"T", fast},
      {"U", fast},
      {"M", fast},
      {"ENTER", fast}},
     Finding::otherLetters,
     {"after Q came the D where the K should be", "keyboard layout"},
     0,
     {},
     {},
     {},
     "D"},
    {"no Q at scanner speed",
     {{"OTHER", 0},
      {"OTHER", fast},
      {"OTHER", fast},
      {"A", fast},
      {"K", fast},
      {"OTHER", fast},
      {"M", fast},
      {"ENTER", fast}},
     Finding::otherLetters,
     {"with no Q among them", "keyboard layout", "another barcode"}},
    {"the code cut short at scanner speed",
     part(code(), 0, 6),
     Finding::otherLetters,
     {"the code stopped after Q K D A T U"},
     0,
     {},
     {},
     {},
     ""},
    // Keys the session never takes as part of a scan.
    {"a scan with Command held",
     held(flags::command),
     Finding::commandHeld,
     {"Command was held down", "8 of its keys came with Command held",
      "Scan again without holding Command"}},
    {"Control and Option held from the D on",
     held(flags::control | flags::option, 2),
     Finding::commandHeld,
     {"Control and Option were held down", "6 of its keys came with Control and Option held"}},
    {"the Q an autorepeat",
     repeating(0),
     Finding::repeated,
     {"a key repeated", "the Q came as the repeat of a key held down"}},
    {"Enter an autorepeat", repeating(7), Finding::repeated, {"Enter came as the repeat"}},
    {"Command held with the wrong layout: the layout is still the cause",
     {{"A", 0, flags::command},
      {"K", fast, flags::command},
      {"D", fast, flags::command},
      {"Q", fast, flags::command},
      {"T", fast, flags::command},
      {"U", fast, flags::command},
      {"OTHER", fast, flags::command},
      {"ENTER", fast, flags::command}},
     Finding::otherLetters,
     {"keyboard layout (country) to US",
      "7 of these keys are OTHER only because they came with Control, Option or Command held"}},
    // Not a scan.
    {"a word with Q typed by a person",
     {{"Q", 0}, {"U", 0.2}, {"OTHER", 0.18}, {"T", 0.25}},
     Finding::notAScan,
     {"not a scan", "ordinary typing"}},
    {"typing without a Q", {{"OTHER", 0}, {"OTHER", 0.2}, {"A", 0.3}}, Finding::notAScan, {}},
    {"the Enter that stops the recording", {{"ENTER", 0}}, Finding::notAScan, {"not a scan"}},
    {"a few fast keys are no scan",
     {{"Q", 0}, {"U", fast}, {"OTHER", fast}, {"T", fast}},
     Finding::notAScan,
     {}},
};

std::string verdictOf(const std::vector<RecordedKey>& keys, std::size_t number = 1) {
    std::string text;
    describe(diagnose(keys), keys, number, text);
    return text;
}

// The paragraph on one line, for looking up phrases that wrapping may have split.
std::string unwrapped(std::string text) {
    for (std::size_t at; (at = text.find("\n  ")) != std::string::npos;)
        text.replace(at, 3, " ");
    return text;
}

TEST(Verdict, FindsWhyASequenceWasOrWasNotRecognised) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const std::vector<RecordedKey> keys = keysOf(c.keys, c.start);
        const Diagnosis d = diagnose(keys);
        EXPECT_EQ(static_cast<int>(d.finding), static_cast<int>(c.finding));
        if (c.recognitions) {
            EXPECT_EQ(d.recognitions, *c.recognitions);
        }
        if (c.slowestAfter) {
            EXPECT_EQ(d.slowest.after, *c.slowestAfter);
        }
        if (c.slowGaps) {
            EXPECT_EQ(d.slowGaps, *c.slowGaps);
        }
        if (c.prefixKeys) {
            EXPECT_EQ(d.prefixKeys, *c.prefixKeys);
        }
        if (c.instead) {
            EXPECT_EQ(d.instead, *c.instead);
        }
        EXPECT_EQ(d.azerty, c.azerty);
        const std::string text = unwrapped(verdictOf(keys));
        for (const std::string& phrase : c.says)
            EXPECT_NE(text.find(phrase), std::string::npos) << "missing \"" << phrase << "\" in\n"
                                                            << text;
    }
}

TEST(Verdict, RecognisedExactlyWhenTheSelfTestsMatcherCompletes) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const std::vector<RecordedKey> keys = keysOf(c.keys, c.start);
        Matcher matcher;
        bool completed = false;
        for (const RecordedKey& key : keys)
            completed = matcher.feed(key.name, key.at) == complete || completed;
        EXPECT_EQ(diagnose(keys).finding == Finding::recognised, completed);
    }
}

TEST(Verdict, IsOneParagraphNumberedAndWrapped) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const std::vector<RecordedKey> keys = keysOf(c.keys, c.start);
        const std::string text = verdictOf(keys, 12);
        EXPECT_EQ(text.rfind("Sequence 12 (" + std::to_string(keys.size()) + " key", 0), 0u)
            << text;
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        std::istringstream lines(text);
        bool first = true;
        for (std::string line; std::getline(lines, line); first = false) {
            EXPECT_LE(line.size(), 80u) << line;
            EXPECT_FALSE(line.empty()) << "a blank line inside the paragraph";
            if (!first) {
                EXPECT_EQ(line.rfind("  ", 0), 0u) << "not indented: " << line;
            }
        }
    }
}

TEST(Verdict, ListsAtMostSixteenKeys) {
    std::vector<Typed> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({i == 0 ? "Q" : "OTHER", fast});
    const std::string text = verdictOf(keysOf(many, 100));
    EXPECT_NE(text.find(" ..."), std::string::npos) << text;
    std::size_t others = 0;
    for (std::size_t at = text.find("OTHER"); at != std::string::npos;
         at = text.find("OTHER", at + 1))
        ++others;
    EXPECT_EQ(others, 15u + 1u) << text; // 15 listed after the Q, and the note on OTHER
}

} // namespace
} // namespace qk
