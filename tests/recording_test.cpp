// The recording: key-downs in, the self-test's input document out.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "app/self_test.h"
#include "intercept/event_filter.h"
#include "record/recording.h"

namespace qk {
namespace {

constexpr EventFlags shift = 0x20000;
constexpr EventFlags capsLock = 0x10000;

struct NameCase {
    KeyCode key;
    EventFlags flags;
    bool autorepeat;
    std::string_view name;
};

TEST(Recording, NamesKeysAsTheListeningSessionFeedsThem) {
    const std::vector<NameCase> cases = {
        {12, 0, false, "Q"},
        {40, 0, false, "K"},
        {2, 0, false, "D"},
        {0, 0, false, "A"},
        {17, 0, false, "T"},
        {32, 0, false, "U"},
        {46, 0, false, "M"},
        {36, 0, false, "ENTER"},
        {76, 0, false, "ENTER"},
        {48, 0, false, "OTHER"}, // Tab
        {11, 0, false, "OTHER"}, // B
        {41, 0, false, "OTHER"}, // the key right of L
        {12, shift, false, "Q"},
        {12, shift | capsLock, false, "Q"},
        // Never fed to the session's matcher: they break a trigger and cannot start one.
        {12, 0, true, "OTHER"},
        {36, 0, true, "OTHER"},
        {12, flags::command, false, "OTHER"},
        {12, flags::control | shift, false, "OTHER"},
        {36, flags::option, false, "OTHER"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " flags " << c.flags);
        EXPECT_EQ(recordedName(c.key, c.flags, c.autorepeat), c.name);
    }
}

// The names that appear in the document, in order.
std::vector<std::string> namesIn(const std::string& document) {
    std::vector<std::string> names;
    const std::string marker = "\"key\":\"";
    for (std::size_t at = document.find(marker); at != std::string::npos;
         at = document.find(marker, at)) {
        at += marker.size();
        names.push_back(document.substr(at, document.find('"', at) - at));
    }
    return names;
}

TEST(Recording, KeepsOnlyTheMatchersNamesWhateverIsTyped) {
    Recording recording;
    double at = 100;
    for (KeyCode key = 0; key < 128; ++key)
        for (const EventFlags flags : {EventFlags{0}, shift, flags::option})
            recording.keyDown(key, flags, false, at += 0.01);
    std::string document;
    recording.appendDocument(document);
    const std::vector<std::string> names = namesIn(document);
    ASSERT_EQ(names.size(), 128u * 3);
    const std::set<std::string> allowed = {"Q", "K", "D", "A", "T", "U", "M", "ENTER", "OTHER"};
    for (const std::string& name : names)
        EXPECT_TRUE(allowed.count(name)) << name;
    // Apart from the names, the document holds only numbers: the times.
    EXPECT_EQ(document.find("\"key\":1"), std::string::npos);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), allowed.size());
}

struct SplitCase {
    const char* title;
    std::vector<double> times;
    std::vector<std::size_t> sizes; // keys in each sequence
};

TEST(Recording, SplitsSequencesAtPausesOfMoreThanOneSecond) {
    const std::vector<SplitCase> cases = {
        {"no keys", {}, {}},
        {"one key", {5}, {1}},
        {"a pause of exactly one second does not split", {10, 11}, {2}},
        {"a pause just over one second splits", {10, std::nextafter(11.0, 12.0)}, {1, 1}},
        {"scans a few seconds apart", {1, 1.01, 1.02, 4, 4.01, 4.02, 4.03, 9}, {3, 4, 1}},
        {"slow typing stays one sequence", {1, 1.9, 2.8, 3.7}, {4}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.title);
        Recording recording;
        for (const double at : c.times)
            recording.keyDown(12, 0, false, at);
        ASSERT_EQ(recording.sequences(), c.sizes.size());
        for (std::size_t i = 0; i < c.sizes.size(); ++i)
            EXPECT_EQ(recording.sequence(i).size(), c.sizes[i]) << "sequence " << i;
        // All but the last are over; the last stays open until a pause or the end.
        EXPECT_EQ(recording.finished(), c.sizes.empty() ? 0 : c.sizes.size() - 1);
    }
}

TEST(Recording, EndsTheOpenSequenceAfterAQuietSecondOrAtTheEnd) {
    Recording recording;
    recording.keyDown(12, 0, false, 20);
    recording.endIfIdle(21); // exactly one second: still open
    EXPECT_EQ(recording.finished(), 0u);
    recording.endIfIdle(21.01);
    EXPECT_EQ(recording.finished(), 1u);
    recording.keyDown(40, 0, false, 21.02); // a new sequence, even though close in time
    EXPECT_EQ(recording.sequences(), 2u);
    EXPECT_EQ(recording.finished(), 1u);
    recording.end();
    EXPECT_EQ(recording.finished(), 2u);
    recording.end(); // nothing open: no change
    EXPECT_EQ(recording.finished(), 2u);
}

TEST(Recording, WritesTheSelfTestDocument) {
    Recording empty;
    std::string document;
    empty.appendDocument(document);
    EXPECT_EQ(document, "[]\n");

    Recording recording;
    recording.keyDown(12, shift, false, 1234.5);
    recording.keyDown(48, 0, false, 1234.625);
    recording.keyDown(36, 0, false, 1240.25);
    document.clear();
    recording.appendDocument(document);
    EXPECT_EQ(document, "[\n"
                        "[{\"key\":\"Q\",\"at\":1234.5},{\"key\":\"OTHER\",\"at\":1234.625}],\n"
                        "[{\"key\":\"ENTER\",\"at\":1240.25}]\n"
                        "]\n");
}

// Types `names` as key codes from `start`, each `step` after the last.
void type(Recording& recording, const std::vector<KeyCode>& keys, double start, double step) {
    double at = start;
    for (const KeyCode key : keys) {
        recording.keyDown(key, 0, false, at);
        at += step;
    }
}

const std::vector<KeyCode> code = {12, 40, 2, 0, 17, 32, 46, 36}; // QKDATUM, Return

TEST(Recording, DocumentGivesTheSelfTestTheSessionsOutcomes) {
    Recording recording;
    type(recording, code, 3000, 0.004);                           // a clean scan
    type(recording, code, 3010, 0.15);                            // too slow
    type(recording, {12, 40, 2, 0, 17, 32, 46, 48}, 3020, 0.004); // Tab as the suffix
    // The session feeds neither an autorepeat nor a Command chord to its matcher, so neither
    // can start the code.
    recording.keyDown(12, 0, true, 3030);
    type(recording, {40, 2, 0, 17, 32, 46, 36}, 3030.004, 0.004);
    recording.keyDown(12, flags::command, false, 3040);
    type(recording, {40, 2, 0, 17, 32, 46, 36}, 3040.004, 0.004);
    type(recording, {12, 40, 2}, 3050, 0.004); // stopped mid-scan
    std::string document, out, error;
    recording.appendDocument(document);
    ASSERT_EQ(selfTest(document, out, error), 0) << error;
    EXPECT_EQ(out, "[[1,1,1,1,1,1,1,3],[1,2,0,0,0,0,0,0],[1,1,1,1,1,1,1,2],"
                   "[0,0,0,0,0,0,0,0],[0,0,0,0,0,0,0,0],[1,1,1]]\n");
}

TEST(Recording, TimesAreWrittenExactlySoTheLimitFallsOnTheSameSide) {
    // The latest time whose difference from `start` is still in time, and the next double.
    const double start = 86399.123456789;
    double inTime = start + gap;
    while (inTime - start > gap)
        inTime = std::nextafter(inTime, 0.0);
    while (std::nextafter(inTime, 1e9) - start <= gap)
        inTime = std::nextafter(inTime, 1e9);
    const double late = std::nextafter(inTime, 1e9);
    for (const auto& [at, expected] :
         {std::pair{inTime, "[[1,1]]\n"}, std::pair{late, "[[1,2]]\n"}}) {
        Recording recording;
        recording.keyDown(12, 0, false, start);
        recording.keyDown(40, 0, false, at);
        std::string document, out, error;
        recording.appendDocument(document);
        ASSERT_EQ(selfTest(document, out, error), 0) << error;
        EXPECT_EQ(out, expected) << document;
    }
}

} // namespace
} // namespace qk
