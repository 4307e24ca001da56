#include <functional>
#include <optional>

#include "platform/sim/session.h"
#include "tests/filter_support.h"

namespace qk::test {
namespace {

using Verdict::drop;
using Verdict::pass;

// One line of a script: an event with the verdict it must get, or a change of the world.
struct Row {
    enum class Do {
        event,
        frontmost,
        failCopies,
        tick
    };
    Do what = Do::event;
    double at = 0;
    sim::Event event;
    Verdict verdict = pass;
    int value = 0; // frontmost process, or number of copies to fail
};

Row ev(double at, sim::Event event, Verdict verdict) {
    return {Row::Do::event, at, event, verdict, 0};
}
Row front(Pid pid) {
    return {Row::Do::frontmost, 0, {}, pass, pid};
}
Row failCopies(int count) {
    return {Row::Do::failCopies, 0, {}, pass, count};
}
Row tick(double at) {
    return {Row::Do::tick, at, {}, pass, 0};
}

// The scanner's keys for the trigger code, each pressed and released `step` seconds apart,
// from `start`, with `flags` on every letter (Shift for capitals).
std::vector<Row> letters(double start, double step, EventFlags flags, Verdict verdict = drop) {
    std::vector<Row> rows;
    double at = start;
    for (const KeyCode key : {keys::q, keys::k, keys::d, keys::a, keys::t, keys::u, keys::m}) {
        rows.push_back(ev(at, keyDown(key, flags), verdict));
        rows.push_back(ev(at + step / 2, keyUp(key, flags), verdict));
        at += step;
    }
    return rows;
}

std::vector<Row> allButLast(std::vector<Row> rows) {
    rows.pop_back();
    return rows;
}

std::vector<Row> join(std::initializer_list<std::vector<Row>> parts) {
    std::vector<Row> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::string ready = R"({"event":"ready","message":""})"
                          "\n";
const std::string dispatch = R"({"event":"dispatch-date","message":""})"
                             "\n";

struct Scenario {
    const char* title;
    std::vector<Row> rows;
    std::vector<std::string> posts; // see FilterTest::posts
    std::vector<std::string> lines; // emitted
};

const std::vector<Scenario> scenarios = {
    {"a scanner types the code with Shift around it",
     join({{ev(0, modifiers(keys::shift, shiftFlag), pass)},
           letters(0.004, 0.004, shiftFlag),
           {ev(0.032, modifiers(keys::shift, 0), drop), ev(0.036, keyDown(keys::returnKey), drop),
            ev(0.038, keyUp(keys::returnKey), drop), ev(0.5, keyUp(keys::returnKey), pass)}}),
     {"501:#15"}, // only the Shift-up goes back
     {dispatch}},
    {"keypad Enter completes the code too",
     join({letters(0, 0.01, 0),
           {ev(0.07, keyDown(keys::keypadEnter), drop), ev(0.08, keyUp(keys::keypadEnter), drop)}}),
     {},
     {dispatch}},
    {"two scans in a row are both recognised",
     join({letters(0, 0.01, 0),
           {ev(0.07, keyDown(keys::returnKey), drop)},
           letters(0.3, 0.01, 0),
           {ev(0.37, keyDown(keys::returnKey), drop)}}),
     {},
     {dispatch, dispatch}},
    {"a person types Q then W: Q-down, Q-up and W-down are replayed in order, W-up passes",
     {ev(0, keyDown(keys::q), drop), ev(0.05, keyUp(keys::q), drop),
      ev(0.09, keyDown(keys::w), drop), ev(0.12, keyUp(keys::w), pass)},
     {"501:#0", "501:#1", "501:#2"},
     {}},
    {"Enter before the whole code breaks and is replayed with the rest",
     {ev(0, keyDown(keys::q), drop), ev(0.01, keyDown(keys::k), drop),
      ev(0.02, keyDown(keys::returnKey), drop)},
     {"501:#0", "501:#1", "501:#2"},
     {}},
    {"a pause over 0.1 s ends the hold before the next key is looked at",
     {ev(0, keyDown(keys::q), drop), ev(0.15, keyDown(keys::k), pass)},
     {"501:#0"},
     {}},
    {"the timer releases a hold only once its last key is more than 0.1 s old",
     {ev(0.125, keyDown(keys::q), drop), tick(0.225), ev(0.225, keyDown(keys::k), drop), tick(0.4),
      ev(0.41, keyDown(keys::d), pass)},
     {"501:#0", "501:#1"},
     {}},
    {"keys pass while nothing is held",
     {ev(0, keyDown(keys::k), pass), ev(0, keyUp(keys::k), pass),
      ev(0, keyDown(keys::returnKey), pass), ev(0, modifiers(keys::shift, shiftFlag), pass),
      ev(0, keyUp(keys::q), pass), ev(0, pointer(types::rightMouseDown), pass)},
     {},
     {}},
    {"Control on Q while idle passes at once",
     {ev(0, keyDown(keys::q, flags::control), pass), ev(0.01, keyDown(keys::k), pass)},
     {},
     {}},
    {"pressing Control during a hold is taken and flushes it",
     {ev(0, keyDown(keys::q), drop), ev(0.03, modifiers(keys::control, flags::control), drop),
      ev(0.05, modifiers(keys::control, 0), pass)},
     {"501:#0", "501:#1"},
     {}},
    {"Shift pressed during a hold is only held",
     {ev(0, keyDown(keys::q), drop), ev(0.01, modifiers(keys::shift, shiftFlag), drop),
      ev(0.02, keyDown(keys::w, shiftFlag), drop)},
     {"501:#0", "501:#1", "501:#2"},
     {}},
    {"an Option or Command chord during a hold flushes it",
     {ev(0, keyDown(keys::q), drop), ev(0.01, keyDown(keys::k, flags::option), drop),
      ev(0.02, keyDown(keys::q), drop), ev(0.03, keyDown(keys::k, flags::command), drop)},
     {"501:#0", "501:#1", "501:#2", "501:#3"},
     {}},
    {"an autorepeated key-down during a hold flushes it, even of the next letter",
     {ev(0, keyDown(keys::q), drop), ev(0.03, autorepeated(keys::k), drop)},
     {"501:#0", "501:#1"},
     {}},
    {"an autorepeated Q while idle passes",
     {ev(0, autorepeated(keys::q), pass), ev(0.01, keyDown(keys::k), pass)},
     {},
     {}},
    {"a click in the same application re-posts the held keys, then a copy of the click",
     {ev(0, keyDown(keys::q), drop), ev(0.03, keyUp(keys::q), drop),
      ev(0.05, pointer(types::leftMouseDown), drop), ev(0.06, keyDown(keys::k), pass)},
     {"hid:#0", "hid:#1", "hid:#2"},
     {}},
    {"a scroll or another button does the same",
     {ev(0, keyDown(keys::q), drop), ev(0.01, pointer(types::scrollWheel), drop),
      ev(0.02, keyDown(keys::q), drop), ev(0.03, pointer(types::otherMouseDown), drop)},
     {"hid:#0", "hid:#1", "hid:#2", "hid:#3"},
     {}},
    {"a click on a stale hold the timer has not flushed yet is still re-posted ahead of it",
     {ev(0, keyDown(keys::q), drop), ev(0.5, pointer(), drop)},
     {"hid:#0", "hid:#1"},
     {}},
    {"a click after another application came to the front: held keys go back, the click passes",
     {ev(0, keyDown(keys::q), drop), front(777), ev(0.02, pointer(), pass)},
     {"501:#0"},
     {}},
    {"another application coming to the front ends the hold at the next key",
     {ev(0, keyDown(keys::q), drop), front(777), ev(0.01, keyDown(keys::k), pass)},
     {"501:#0"},
     {}},
    {"no application coming to the front ends the hold too",
     {ev(0, keyDown(keys::q), drop), front(0), ev(0.01, keyUp(keys::q), pass)},
     {"501:#0"},
     {}},
    {"a key-up of a key pressed before the hold is held and replayed on a break",
     {ev(0, keyDown(keys::x), pass), ev(0.01, keyDown(keys::q), drop),
      ev(0.02, keyUp(keys::x), drop), ev(0.03, keyDown(keys::w), drop)},
     {"501:#1", "501:#2", "501:#3"},
     {}},
    {"on completion such a key-up is discarded with the code's keys",
     join({{ev(0, keyDown(keys::x), pass)},
           letters(0.01, 0.01, 0),
           {ev(0.075, keyUp(keys::x), drop), ev(0.08, keyDown(keys::returnKey), drop)}}),
     {},
     {dispatch}},
    {"keys still down at completion lose their next key-up, only once",
     join({allButLast(letters(0, 0.01, 0)),
           {ev(0.07, keyDown(keys::returnKey), drop), ev(0.08, keyUp(keys::returnKey), drop),
            ev(0.09, keyUp(keys::m), drop), ev(0.5, keyUp(keys::returnKey), pass),
            ev(0.5, keyUp(keys::m), pass)}}),
     {},
     {dispatch}},
    {"a swallowed key-up is dropped before the staleness test, leaving a stale hold in place",
     join({letters(0, 0.01, 0),
           {ev(0.07, keyDown(keys::returnKey), drop), ev(0.2, keyDown(keys::q), drop),
            ev(0.5, keyUp(keys::returnKey), drop), ev(0.5, pointer(), drop)}}),
     {"hid:#15", "hid:#17"},
     {dispatch}},
    {"events carrying the marker pass untouched and change nothing",
     {ev(0, keyDown(keys::q), drop), ev(0.01, marked(keyDown(keys::w)), pass),
      ev(0.02, marked(pointer()), pass), ev(0.03, marked(keyUp(keys::returnKey)), pass),
      ev(0.04, keyDown(keys::k), drop), ev(0.05, keyDown(keys::x), drop)},
     {"501:#0", "501:#4", "501:#5"},
     {}},
    {"a failed copy of the first key loses only that key; the hold goes on without it",
     {failCopies(1), ev(0, keyDown(keys::q), drop), ev(0.01, keyDown(keys::k), drop),
      ev(0.02, keyDown(keys::w), drop)},
     {"501:#1", "501:#2"},
     {}},
    {"a trigger whose first copy failed still expires, so a later scan is recognised",
     join({{failCopies(1), ev(0, keyDown(keys::q), drop), tick(0.2)},
           letters(1.0, 0.01, 0),
           {ev(1.07, keyDown(keys::returnKey), drop)}}),
     {},
     {dispatch}},
    {"the key-up of a key whose copy failed is held with the trigger, not left to be swallowed",
     join({{failCopies(1), ev(0, keyDown(keys::q), drop), ev(0.002, keyUp(keys::q), drop)},
           {ev(0.01, keyDown(keys::k), drop), ev(0.02, keyDown(keys::d), drop),
            ev(0.03, keyDown(keys::a), drop), ev(0.04, keyDown(keys::t), drop),
            ev(0.05, keyDown(keys::u), drop), ev(0.06, keyDown(keys::m), drop),
            ev(0.07, keyDown(keys::returnKey), drop),
            ev(1.0, keyDown(keys::q, flags::control), pass), ev(1.01, keyUp(keys::q), pass)}}),
     {},
     {dispatch}},
    {"a failed copy mid-hold loses only that copy",
     {ev(0, keyDown(keys::q), drop), failCopies(1), ev(0.01, keyDown(keys::k), drop),
      ev(0.02, keyDown(keys::w), drop)},
     {"501:#0", "501:#2"},
     {}},
    {"a failed copy of a click drops the click after the held keys are re-posted",
     {ev(0, keyDown(keys::q), drop), failCopies(1), ev(0.01, pointer(), drop)},
     {"hid:#0"},
     {}},
    {"a hold begun with no frontmost application is released unposted",
     {front(0), ev(0, keyDown(keys::q), drop), ev(0.01, keyDown(keys::w), drop),
      ev(0.02, keyUp(keys::w), pass)},
     {},
     {}},
    {"a trigger completed with no frontmost application posts nothing but is reported",
     join({{front(0), ev(0, modifiers(keys::shift, shiftFlag), pass)},
           letters(0.01, 0.01, shiftFlag),
           {ev(0.075, modifiers(keys::shift, 0), drop), ev(0.08, keyDown(keys::returnKey), drop)}}),
     {},
     {dispatch}},
    {"the process noted at the first key gets the replay",
     {front(42), ev(0, keyDown(keys::q), drop), ev(0.01, keyDown(keys::k), drop),
      ev(0.02, keyDown(keys::x), drop)},
     {"42:#0", "42:#1", "42:#2"},
     {}},
};

class EventFilter : public FilterTest {
protected:
    void play(const std::vector<Row>& rows) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            SCOPED_TRACE("row " + std::to_string(i));
            switch (row.what) {
            case Row::Do::event:
                EXPECT_EQ(feed(row.at, row.event), row.verdict);
                break;
            case Row::Do::frontmost:
                sim::world().frontmost = row.value;
                break;
            case Row::Do::failCopies:
                sim::world().failCopies = row.value;
                break;
            case Row::Do::tick:
                sim::world().now = row.at;
                staleHoldCheck();
                break;
            }
        }
    }
};

TEST_F(EventFilter, Scenarios) {
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.title);
        TearDown();
        SetUp();
        play(scenario.rows);
        EXPECT_EQ(posts(), scenario.posts);
        EXPECT_EQ(emitted, scenario.lines);
        flush(); // end any hold the script leaves, so no copy outlives the case
    }
}

// Replays carry the withheld copies unchanged but for the marker.
TEST_F(EventFilter, ReplayedEventsAreTheWithheldCopiesWithTheMarker) {
    sim::Event q = keyDown(keys::q, shiftFlag | 0x100);
    q.autorepeat = 0;
    feed(0, q);
    feed(0.01, keyUp(keys::q, shiftFlag));
    feed(0.02, keyDown(keys::w, 0x8));
    ASSERT_EQ(sim::world().posts.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        sim::Event expected = inputs[i];
        expected.userData = marker;
        const sim::Event& got = sim::world().posts[i].event;
        EXPECT_EQ(got.type, expected.type);
        EXPECT_EQ(got.key, expected.key);
        EXPECT_EQ(got.flags, expected.flags);
        EXPECT_EQ(got.autorepeat, expected.autorepeat);
        EXPECT_EQ(got.userData, marker);
    }
}

// The timer releases a lone Q a little over 0.1 s after it, never at exactly 0.1 s.
TEST_F(EventFilter, StaleHoldCheckUsesStrictlyGreaterInDoubles) {
    feed(0.125, keyDown(keys::q));
    sim::world().now = 0.225; // 0.225 - 0.125 is exactly the double 0.1
    staleHoldCheck();
    EXPECT_TRUE(posts().empty());
    EXPECT_EQ(held.size(), 1u);
    sim::world().now = 0.235;
    staleHoldCheck();
    EXPECT_EQ(posts(), std::vector<std::string>{"501:#0"});
    EXPECT_TRUE(held.empty());
    EXPECT_EQ(matcher.index, 0);
}

// Either notice releases the hold first. Then, while the permissions are there, the tap is enabled
// again and "ready" said again; once they are gone, the tap is given up, the parent told what is
// missing, and the process ends with status 2.
TEST_F(EventFilter, TapDisabledReleasesTheHoldThenReenablesOrGivesUp) {
    std::string restart;
    ASSERT_TRUE(formatMessage(restart, messages::permissionRequiredRestart.event,
                              messages::permissionRequiredRestart.message));
    int token = 0;
    for (const bool permitted : {true, false}) {
        for (const EventType type : {types::tapDisabledByTimeout, types::tapDisabledByUserInput}) {
            SCOPED_TRACE(testing::Message()
                         << (permitted ? "permitted, " : "not permitted, ") << "type " << type);
            sim::resetWorld();
            sim::world().trusted = permitted;
            emitted.clear();
            tap = reinterpret_cast<TapRef>(&token);
            feed(0, keyDown(keys::q));
            sim::Event notice;
            notice.type = type;
            std::optional<int> status;
            try {
                EXPECT_EQ(feed(0.01, notice), pass);
            } catch (const sim::ProcessExit& exit) {
                status = exit.status;
            }
            EXPECT_EQ(sim::world().permissionChecks, 1);
            EXPECT_EQ(posts(), std::vector<std::string>{"501:#" + std::to_string(nextOrigin - 2)});
            EXPECT_TRUE(held.empty());
            if (permitted) {
                EXPECT_EQ(status, std::nullopt);
                EXPECT_EQ(sim::world().tapEnables, 1);
                EXPECT_FALSE(sim::world().tapRemoved);
                EXPECT_EQ(emitted, std::vector<std::string>{ready});
                EXPECT_NE(tap, nullptr);
            } else {
                EXPECT_EQ(status, 2);
                EXPECT_EQ(sim::world().tapEnables, 0);
                EXPECT_TRUE(sim::world().tapRemoved);
                EXPECT_EQ(emitted, std::vector<std::string>{restart});
                EXPECT_EQ(tap, nullptr);
            }
        }
    }
    tap = nullptr; // before the session stores its tap there is nothing to re-enable
    sim::resetWorld();
    sim::Event notice;
    notice.type = types::tapDisabledByTimeout;
    EXPECT_EQ(feed(0, notice), pass);
    EXPECT_EQ(sim::world().tapEnables, 0);
}

// The hold is capped at 101 events, counted after a key-down is taken, before the result: a
// completing Return that brings the hold to 101 releases everything instead.
TEST_F(EventFilter, HoldCapIsTestedBeforeTheResult) {
    struct Case {
        int modifierChanges;
        bool recognised;
    };
    for (const Case c : {Case{92, true}, Case{93, false}}) {
        SCOPED_TRACE(c.modifierChanges);
        TearDown();
        SetUp();
        feed(0, keyDown(keys::q));
        for (int i = 0; i < c.modifierChanges; ++i)
            feed(0.001, modifiers(keys::shift, i % 2 ? shiftFlag : 0));
        for (const KeyCode key : {keys::k, keys::d, keys::a, keys::t, keys::u, keys::m})
            feed(0.002, keyDown(key));
        EXPECT_EQ(held.size(), static_cast<std::size_t>(7 + c.modifierChanges));
        EXPECT_EQ(feed(0.003, keyDown(keys::returnKey)), drop);
        EXPECT_TRUE(held.empty());
        if (c.recognised) {
            EXPECT_EQ(emitted, std::vector<std::string>{dispatch});
            EXPECT_EQ(sim::world().posts.size(), static_cast<std::size_t>(c.modifierChanges));
            EXPECT_TRUE(swallowedUps.contains(keys::returnKey));
        } else {
            EXPECT_TRUE(emitted.empty());
            EXPECT_EQ(sim::world().posts.size(), 101u);
            EXPECT_EQ(sim::world().posts.back().event.key, keys::returnKey);
            EXPECT_TRUE(swallowedUps.empty());
        }
    }
}

// Completion: every key still down is swallowed, held key-ups take their keys out of `down`.
TEST_F(EventFilter, CompletionSwallowsExactlyTheKeysStillDown) {
    feed(0, keyDown(keys::q));
    feed(0.01, keyDown(keys::k));
    feed(0.015, keyUp(keys::q));
    for (const KeyCode key : {keys::d, keys::a, keys::t, keys::u, keys::m})
        feed(0.02, keyDown(key));
    feed(0.03, keyDown(keys::returnKey));
    EXPECT_EQ(emitted, std::vector<std::string>{dispatch});
    for (const KeyCode key :
         {keys::k, keys::d, keys::a, keys::t, keys::u, keys::m, keys::returnKey})
        EXPECT_TRUE(swallowedUps.contains(key)) << key;
    EXPECT_FALSE(swallowedUps.contains(keys::q));
    EXPECT_TRUE(down.empty());
}

} // namespace
} // namespace qk::test
