#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/matcher.h"
#include "core/trigger.h"

namespace qk {
namespace {

struct Key {
    const char* name;
    double at;
};

struct MatcherCase {
    const char* title;
    std::vector<Key> keys;
    std::vector<int> results;
};

// The trigger typed at scanner speed: each key `step` seconds after the previous one.
std::vector<Key> scan(double start, double step, const char* last = "ENTER") {
    std::vector<Key> keys;
    double at = start;
    for (const char* name : {"Q", "K", "D", "A", "T", "U", "M", last}) {
        keys.push_back({name, at});
        at += step;
    }
    return keys;
}

std::vector<Key> concat(std::vector<Key> a, const std::vector<Key>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<MatcherCase> cases = {
    {"clean scan", scan(0, 0.05), {1, 1, 1, 1, 1, 1, 1, 3}},
    {"clean scan, keypad name is the same ENTER", scan(100, 0.001), {1, 1, 1, 1, 1, 1, 1, 3}},
    {"difference exactly the double 0.1 is in time", {{"Q", 0}, {"K", 0.1}}, {1, 1}},
    {"0.11 is too slow", {{"Q", 0}, {"K", 0.11}}, {1, 2}},
    {"1.1 - 1.0 is a little over 0.1 in doubles", {{"Q", 1.0}, {"K", 1.1}}, {1, 2}},
    {"10.1 - 10.0 is a little under 0.1 in doubles", {{"Q", 10.0}, {"K", 10.1}}, {1, 1}},
    {"the pause is tested before Enter",
     {{"Q", 0},
      {"K", 0.01},
      {"D", 0.02},
      {"A", 0.03},
      {"T", 0.04},
      {"U", 0.05},
      {"M", 0.06},
      {"ENTER", 0.3}},
     {1, 1, 1, 1, 1, 1, 1, 2}},
    {"time going backwards counts as in time", {{"Q", 5}, {"K", 4}, {"D", 3.9}}, {1, 1, 1}},
    {"idle: Enter, other keys and later letters are ignored",
     {{"ENTER", 0}, {"OTHER", 0}, {"K", 0}, {"M", 0}, {"q", 0}, {"", 0}},
     {0, 0, 0, 0, 0, 0}},
    {"Enter too early", {{"Q", 0}, {"K", 0.01}, {"ENTER", 0.02}}, {1, 1, 2}},
    {"seven letters then another key", scan(0, 0.01, "OTHER"), {1, 1, 1, 1, 1, 1, 1, 2}},
    {"seven letters then a letter", scan(0, 0.01, "Q"), {1, 1, 1, 1, 1, 1, 1, 2}},
    {"a breaking Q does not restart the trigger", {{"Q", 0}, {"Q", 0.01}, {"K", 0.02}}, {1, 2, 0}},
    {"after a break the next Q starts again",
     {{"Q", 0}, {"X", 0.01}, {"Q", 0.02}, {"K", 0.03}},
     {1, 2, 1, 1}},
    {"a new trigger after a complete one",
     concat(scan(0, 0.01), scan(0.5, 0.01)),
     {1, 1, 1, 1, 1, 1, 1, 3, 1, 1, 1, 1, 1, 1, 1, 3}},
    {"letters out of order", {{"Q", 0}, {"D", 0.01}}, {1, 2}},
    {"key names are exact", {{"Q", 0}, {"k", 0.01}}, {1, 2}},
};

TEST(Matcher, FeedsSequencesAsTheTimingAndOrderRulesSay) {
    for (const MatcherCase& c : cases) {
        SCOPED_TRACE(c.title);
        Matcher matcher;
        std::vector<int> results;
        for (const Key& key : c.keys)
            results.push_back(matcher.feed(key.name, key.at));
        EXPECT_EQ(results, c.results);
    }
}

TEST(Matcher, IsIdleWithTimeZeroAfterCompletionAndBreak) {
    Matcher matcher;
    for (const Key& key : scan(3, 0.01))
        matcher.feed(key.name, key.at);
    EXPECT_EQ(matcher.index, 0);
    EXPECT_EQ(matcher.last, 0);

    EXPECT_EQ(matcher.feed("Q", 7), accepted);
    EXPECT_EQ(matcher.index, 1);
    EXPECT_EQ(matcher.last, 7);
    EXPECT_EQ(matcher.feed("X", 7.01), broken);
    EXPECT_EQ(matcher.index, 0);
    EXPECT_EQ(matcher.last, 0);
}

TEST(Matcher, IgnoredKeyChangesNothingAndResetOfIdleMatcherIsHarmless) {
    Matcher matcher;
    EXPECT_EQ(matcher.feed("K", 9), ignored);
    EXPECT_EQ(matcher.last, 0);
    matcher.reset();
    EXPECT_EQ(matcher.index, 0);
    EXPECT_EQ(matcher.last, 0);

    matcher.feed("Q", 2);
    matcher.feed("K", 2.05);
    matcher.reset();
    EXPECT_EQ(matcher.index, 0);
    EXPECT_EQ(matcher.last, 0);
    EXPECT_EQ(matcher.feed("D", 2.06), ignored);
}

TEST(KeyNames, NameKeysByCodeAlone) {
    struct Row {
        const KeyTable* table;
        KeyCode key;
        const char* name;
    };
    const KeyTable* mac = &macKeys;
    const KeyTable* windows = &windowsKeys;
    const Row rows[] = {
        {mac, 12, "Q"},         {mac, 40, "K"},         {mac, 2, "D"},
        {mac, 0, "A"},          {mac, 17, "T"},         {mac, 32, "U"},
        {mac, 46, "M"},         {mac, 36, "ENTER"},     {mac, 76, "ENTER"},
        {mac, 13, "OTHER"},     {mac, -1, "OTHER"},     {mac, 1LL << 40, "OTHER"},
        {mac, 0x51, "OTHER"},   {windows, 0x51, "Q"},   {windows, 0x4B, "K"},
        {windows, 0x44, "D"},   {windows, 0x41, "A"},   {windows, 0x54, "T"},
        {windows, 0x55, "U"},   {windows, 0x4D, "M"},   {windows, 0x0D, "ENTER"},
        {windows, 12, "OTHER"}, {windows, 0, "OTHER"},  {windows, 0x71, "OTHER"},
        {windows, 36, "OTHER"}, {windows, 76, "OTHER"}, {windows, 0x57, "OTHER"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(keyName(row.key, *row.table), row.name);
    }
}

} // namespace
} // namespace qk
