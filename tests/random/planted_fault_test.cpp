// The checker catches the faults it guards against. Each fault is planted in the transcript of a
// correct run the way a faulty filter or session would leave it (an event delivered twice or not
// at all, replays to the wrong process or without the marker, a trigger reported twice, missed or
// leaked, a hold kept too long or grown too big, a stop that loses what was held), first in small
// hand-written sessions where the promise it breaks is pinned, then across random sessions.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/simulator.h"
#include "tests/random/session_generator.h"
#include "tests/random/session_invariants.h"

namespace qk::soak {
namespace {

using Transcript = std::vector<Entry>;

constexpr std::string_view dispatchDate = R"({"event":"dispatch-date","message":""})";

bool isDispatch(const Entry& entry) {
    return entry.kind == Entry::Kind::out && entry.text == dispatchDate;
}

bool markedInput(const Scenario& scenario, std::int64_t step) {
    return step >= 0 && static_cast<std::size_t>(step) < scenario.steps.size() &&
           scenario.steps[static_cast<std::size_t>(step)].event.userData == marker;
}

std::vector<std::size_t> positionsWhere(const Transcript& transcript,
                                        const std::function<bool(std::size_t)>& wanted) {
    std::vector<std::size_t> found;
    for (std::size_t p = 0; p < transcript.size(); ++p)
        if (wanted(p)) found.push_back(p);
    return found;
}

// The post lines of each release: a run of posts (with their deliver lines) at one point.
std::vector<std::pair<std::size_t, std::size_t>> releases(const Transcript& transcript) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        const Entry::Kind kind = transcript[p].kind;
        if (kind != Entry::Kind::postProcess && kind != Entry::Kind::postHID) continue;
        std::size_t end = p;
        while (end < transcript.size() &&
               (transcript[end].kind == kind ||
                (kind == Entry::Kind::postProcess && transcript[end].kind == Entry::Kind::deliver)))
            ++end;
        runs.emplace_back(p, end);
        p = end - 1;
    }
    return runs;
}

// A fault planted in a correct run's transcript; false where the run offers no place for it.
using Plant = bool (*)(const Scenario&, Transcript&, Rng&);

// Some process receives an event twice.
bool deliverTwice(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto delivers = positionsWhere(
        transcript, [&](std::size_t p) { return transcript[p].kind == Entry::Kind::deliver; });
    if (delivers.empty()) return false;
    const std::size_t p = rng.pick(delivers);
    transcript.insert(transcript.begin() + static_cast<std::ptrdiff_t>(p) + 1, transcript[p]);
    return true;
}

// Two events reach one process in the wrong order.
bool swapDeliveries(const Scenario& scenario, Transcript& transcript, Rng& rng) {
    const auto delivers = positionsWhere(transcript, [&](std::size_t p) {
        return transcript[p].kind == Entry::Kind::deliver &&
               !markedInput(scenario, transcript[p].step);
    });
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0; i < delivers.size(); ++i)
        for (std::size_t j = i + 1; j < delivers.size() && j < i + 8; ++j)
            if (transcript[delivers[i]].pid == transcript[delivers[j]].pid &&
                transcript[delivers[i]].step != transcript[delivers[j]].step)
                pairs.emplace_back(delivers[i], delivers[j]);
    if (pairs.empty()) return false;
    const auto [a, b] = rng.pick(pairs);
    std::swap(transcript[a].step, transcript[b].step);
    for (const std::size_t p : {a, b})
        if (p > 0 && transcript[p - 1].kind == Entry::Kind::postProcess)
            transcript[p - 1].step = transcript[p].step;
    return true;
}

// An event never reaches its process: neither passed on nor posted back.
bool loseDelivery(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto delivers = positionsWhere(
        transcript, [&](std::size_t p) { return transcript[p].kind == Entry::Kind::deliver; });
    if (delivers.empty()) return false;
    std::size_t p = rng.pick(delivers);
    std::size_t count = 1;
    if (p > 0 && transcript[p - 1].kind == Entry::Kind::postProcess) {
        --p;
        ++count;
    }
    const auto first = transcript.begin() + static_cast<std::ptrdiff_t>(p);
    transcript.erase(first, first + static_cast<std::ptrdiff_t>(count));
    return true;
}

// Withheld events are posted to a process other than the one they were typed into.
bool misroutePost(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto posts = positionsWhere(
        transcript, [&](std::size_t p) { return transcript[p].kind == Entry::Kind::postProcess; });
    if (posts.empty()) return false;
    const std::size_t p = rng.pick(posts);
    transcript[p].pid += 1000;
    transcript[p + 1].pid = transcript[p].pid;
    return true;
}

// A hold is posted to the application in front when it is released rather than the one it was
// typed into.
bool postToFrontmost(const Scenario& scenario, Transcript& transcript, Rng& rng) {
    std::vector<std::pair<std::size_t, Pid>> candidates;
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        if (transcript[p].kind != Entry::Kind::postProcess) continue;
        Pid front = scenario.frontmost;
        for (const Step& step : scenario.steps) {
            if (step.at > transcript[p].at || step.kind == Step::Kind::stop) break;
            if (step.kind == Step::Kind::frontmost) front = step.pid;
        }
        if (front != transcript[p].pid && front >= 1) candidates.emplace_back(p, front);
    }
    if (candidates.empty()) return false;
    const auto [p, front] = rng.pick(candidates);
    transcript[p].pid = front;
    transcript[p + 1].pid = front;
    return true;
}

// An event is posted back without the marker.
bool forgetMarker(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto posts = positionsWhere(transcript, [&](std::size_t p) {
        return transcript[p].kind == Entry::Kind::postProcess ||
               transcript[p].kind == Entry::Kind::postHID;
    });
    if (posts.empty()) return false;
    transcript[rng.pick(posts)].userData = 0;
    return true;
}

// One trigger is reported twice.
bool dispatchTwice(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto lines =
        positionsWhere(transcript, [&](std::size_t p) { return isDispatch(transcript[p]); });
    if (lines.empty()) return false;
    const std::size_t p = rng.pick(lines);
    transcript.insert(transcript.begin() + static_cast<std::ptrdiff_t>(p), transcript[p]);
    return true;
}

// A trigger is reported while some other key is handled.
bool dispatchForNothing(const Scenario&, Transcript& transcript, Rng& rng) {
    std::vector<bool> seen;
    std::vector<std::size_t> firstVerdicts;
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        const Entry& entry = transcript[p];
        if (entry.kind != Entry::Kind::verdict || entry.step < 0) continue;
        const auto step = static_cast<std::size_t>(entry.step);
        if (step >= seen.size()) seen.resize(step + 1, false);
        if (seen[step]) continue;
        seen[step] = true;
        if (p == 0 || !isDispatch(transcript[p - 1])) firstVerdicts.push_back(p);
    }
    if (firstVerdicts.empty()) return false;
    const std::size_t p = rng.pick(firstVerdicts);
    Entry line;
    line.kind = Entry::Kind::out;
    line.at = transcript[p].at;
    line.text = dispatchDate;
    transcript.insert(transcript.begin() + static_cast<std::ptrdiff_t>(p), line);
    return true;
}

// A trigger goes unreported (its keys are swallowed all the same).
bool missDispatch(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto lines =
        positionsWhere(transcript, [&](std::size_t p) { return isDispatch(transcript[p]); });
    if (lines.empty()) return false;
    transcript.erase(transcript.begin() + static_cast<std::ptrdiff_t>(rng.pick(lines)));
    return true;
}

// A key-down of a recognised trigger reaches the application after all.
bool leakTriggerKey(const Scenario& scenario, Transcript& transcript, Rng& rng) {
    const auto lines =
        positionsWhere(transcript, [&](std::size_t p) { return isDispatch(transcript[p]); });
    if (lines.empty()) return false;
    std::size_t p = rng.pick(lines);
    while (p < transcript.size() && transcript[p].kind != Entry::Kind::verdict)
        ++p;
    if (p == transcript.size()) return false;
    // The trigger's M: the last key-down before its Enter that is fed to the trigger.
    std::int64_t m = transcript[p].step;
    while (--m >= 0) {
        const Step& step = scenario.steps[static_cast<std::size_t>(m)];
        if (step.kind == Step::Kind::input && step.event.type == types::keyDown &&
            step.event.userData != marker)
            break;
    }
    if (m < 0) return false;
    for (std::size_t q = 0; q < p; ++q) {
        if (transcript[q].kind != Entry::Kind::verdict || transcript[q].step != m) continue;
        Entry deliver;
        deliver.kind = Entry::Kind::deliver;
        deliver.at = transcript[q].at;
        deliver.step = m;
        deliver.pid = scenario.frontmost;
        transcript.insert(transcript.begin() + static_cast<std::ptrdiff_t>(q) + 1, deliver);
        return true;
    }
    return false;
}

// Withheld events are posted back later than the stale-hold timer allows.
bool releaseLate(const Scenario&, Transcript& transcript, Rng& rng) {
    const auto runs = releases(transcript);
    if (runs.empty()) return false;
    const auto [begin, end] = rng.pick(runs);
    for (std::size_t p = begin; p < end; ++p)
        transcript[p].at += 0.2;
    return true;
}

// A hold grows past its limit: the release due at the key-down that filled it comes after it.
bool overfillHold(const Scenario&, Transcript& transcript, Rng&) {
    for (const auto& [begin, end] : releases(transcript)) {
        if ((end - begin) / 2 < heldAfterKeyDown + 1 || end == transcript.size()) continue;
        if (transcript[end].kind != Entry::Kind::verdict) continue;
        const Entry verdict = transcript[end];
        transcript.erase(transcript.begin() + static_cast<std::ptrdiff_t>(end));
        transcript.insert(transcript.begin() + static_cast<std::ptrdiff_t>(begin), verdict);
        return true;
    }
    return false;
}

// The stop ends the process without posting back what was held.
bool stopWithoutFlush(const Scenario&, Transcript& transcript, Rng&) {
    if (transcript.empty() || transcript.back().kind != Entry::Kind::exit) return false;
    const double stop = transcript.back().at;
    std::size_t p = transcript.size() - 1;
    while (p > 0 && transcript[p - 1].at == stop &&
           (transcript[p - 1].kind == Entry::Kind::postProcess ||
            transcript[p - 1].kind == Entry::Kind::deliver))
        --p;
    // Deliver lines there may also be of an event passed at the same moment: skip to the posts.
    while (p < transcript.size() - 1 && transcript[p].kind != Entry::Kind::postProcess)
        ++p;
    if (p == transcript.size() - 1) return false;
    transcript.erase(transcript.begin() + static_cast<std::ptrdiff_t>(p), transcript.end() - 1);
    return true;
}

// The session ends with a failure status.
bool exitWithFailure(const Scenario&, Transcript& transcript, Rng&) {
    if (transcript.empty() || transcript.back().kind != Entry::Kind::exit) return false;
    transcript.back().status = 1;
    return true;
}

// An event that came after the stop is still handled.
bool handleAfterStop(const Scenario& scenario, Transcript& transcript, Rng&) {
    std::size_t stop = 0;
    while (stop < scenario.steps.size() && scenario.steps[stop].kind != Step::Kind::stop)
        ++stop;
    for (std::size_t i = stop + 1; i < scenario.steps.size(); ++i) {
        if (scenario.steps[i].kind != Step::Kind::input) continue;
        Entry verdict;
        verdict.kind = Entry::Kind::verdict;
        verdict.at = transcript.back().at;
        verdict.step = static_cast<std::int64_t>(i);
        transcript.insert(transcript.end() - 1, verdict);
        return true;
    }
    return false;
}

struct Fault {
    const char* name;
    Plant plant;
    std::vector<int> caughtBy; // the promises that may report it; the first is the one it breaks
};

const std::vector<Fault> faults{
    {"an event delivered twice", deliverTwice, {deliveredOnceInOrder}},
    {"two events of one process swapped", swapDeliveries, {deliveredOnceInOrder}},
    {"an event lost", loseDelivery, {nothingElseLost}},
    {"withheld events posted to another process", misroutePost, {withheldGoHomeMarked}},
    {"withheld events posted to the application now in front",
     postToFrontmost,
     {withheldGoHomeMarked}},
    {"an event posted without the marker", forgetMarker, {withheldGoHomeMarked}},
    {"a trigger reported twice", dispatchTwice, {triggersRecognised}},
    {"a trigger reported for another key", dispatchForNothing, {triggersRecognised}},
    // Outside the recognition promise's scans a missed trigger shows as its keys going missing.
    {"a trigger missed", missDispatch, {triggersRecognised, nothingElseLost}},
    {"a key of a trigger leaked", leakTriggerKey, {triggersRecognised}},
    {"a hold released too late", releaseLate, {holdsBounded}},
    {"a hold grown past its limit", overfillHold, {holdsBounded}},
    {"a stop that loses the hold", stopWithoutFlush, {stopReleasesAll}},
    {"a failure status at the stop", exitWithFailure, {stopReleasesAll}},
    {"an event handled after the stop", handleAfterStop, {stopReleasesAll}},
};

const Fault& fault(std::string_view name) {
    return *std::find_if(faults.begin(), faults.end(),
                         [&](const Fault& f) { return f.name == name; });
}

Scenario fromJson(std::string json) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(readScenario(json, scenario, error)) << error;
    return scenario;
}

// A scanner types the trigger with Shift around the letters; then the person types x, and a Q
// just before the parent stops the helper.
Scenario scan() {
    return fromJson(R"({"steps":[
    {"at":0.5,"type":"flagsChanged","key":56,"flags":131072},
    {"at":0.504,"type":"keyDown","key":12,"flags":131072},
    {"at":0.506,"type":"keyUp","key":12,"flags":131072},
    {"at":0.508,"type":"keyDown","key":40,"flags":131072},
    {"at":0.51,"type":"keyUp","key":40,"flags":131072},
    {"at":0.512,"type":"keyDown","key":2,"flags":131072},
    {"at":0.514,"type":"keyUp","key":2,"flags":131072},
    {"at":0.516,"type":"keyDown","key":0,"flags":131072},
    {"at":0.518,"type":"keyUp","key":0,"flags":131072},
    {"at":0.52,"type":"keyDown","key":17,"flags":131072},
    {"at":0.522,"type":"keyUp","key":17,"flags":131072},
    {"at":0.524,"type":"keyDown","key":32,"flags":131072},
    {"at":0.526,"type":"keyUp","key":32,"flags":131072},
    {"at":0.528,"type":"keyDown","key":46,"flags":131072},
    {"at":0.53,"type":"keyUp","key":46,"flags":131072},
    {"at":0.532,"type":"flagsChanged","key":56},
    {"at":0.536,"type":"keyDown","key":36},
    {"at":0.538,"type":"keyUp","key":36},
    {"at":0.8,"type":"keyDown","key":7},
    {"at":0.85,"type":"keyUp","key":7},
    {"at":1.0,"type":"keyDown","key":12},
    {"at":1.05,"stop":"line"},
    {"at":1.06,"type":"keyUp","key":12}
]})");
}

// A person types "quit" (the Q is held until the U), clicks while a Q is held, holds a Q until the
// timer lets it go, types x in another application, and a Q there just before a third application
// comes to the front.
Scenario person() {
    return fromJson(R"({"steps":[
    {"at":0.5,"type":"keyDown","key":12},
    {"at":0.53,"type":"keyUp","key":12},
    {"at":0.56,"type":"keyDown","key":32},
    {"at":0.59,"type":"keyUp","key":32},
    {"at":0.62,"type":"keyDown","key":34},
    {"at":0.65,"type":"keyUp","key":34},
    {"at":0.68,"type":"keyDown","key":17},
    {"at":0.71,"type":"keyUp","key":17},
    {"at":1.0,"type":"keyDown","key":12},
    {"at":1.03,"type":"keyUp","key":12},
    {"at":1.06,"type":"leftMouseDown"},
    {"at":1.5,"type":"keyDown","key":12},
    {"at":2.0,"frontmost":502},
    {"at":2.1,"type":"keyDown","key":7},
    {"at":2.12,"type":"keyUp","key":7},
    {"at":2.5,"type":"keyDown","key":12},
    {"at":2.52,"frontmost":777},
    {"at":2.53,"type":"keyDown","key":7}
]})");
}

// A Q, then 99 Shift changes within a few hundredths of a second, then K: the hold reaches its
// limit of 101 events at the K and is posted back.
Scenario flood() {
    std::string json = R"({"steps":[{"at":0.5,"type":"keyDown","key":12})";
    for (int i = 0; i < 99; ++i)
        json += R"(,{"at":)" + std::to_string(0.5 + 0.0004 * (i + 1)) +
                R"(,"type":"flagsChanged","key":56,"flags":)" + (i % 2 ? "0" : "131072") + "}";
    json += R"(,{"at":0.56,"type":"keyDown","key":40}]})";
    return fromJson(json);
}

struct PinnedCase {
    const char* fault;
    Scenario (*scenario)();
};

TEST(PlantedFaults, EachPromiseCatchesTheFaultItGuardsAgainst) {
    const std::vector<PinnedCase> cases{
        {"an event delivered twice", scan},
        {"two events of one process swapped", person},
        {"an event lost", person},
        {"withheld events posted to another process", person},
        {"withheld events posted to the application now in front", person},
        {"an event posted without the marker", person},
        {"a trigger reported twice", scan},
        {"a trigger reported for another key", person},
        {"a trigger missed", scan},
        {"a key of a trigger leaked", scan},
        {"a hold released too late", person},
        {"a hold grown past its limit", flood},
        {"a stop that loses the hold", scan},
        {"a failure status at the stop", scan},
        {"an event handled after the stop", scan},
    };
    for (const PinnedCase& c : cases) {
        SCOPED_TRACE(c.fault);
        const Fault& planted = fault(c.fault);
        const Scenario scenario = c.scenario();
        const Transcript correct = simulate(scenario);
        ASSERT_EQ(describe(checkSession(scenario, correct)), "");
        for (std::uint64_t seed = 1; seed <= 5; ++seed) {
            Transcript faulty = correct;
            Rng rng(seed);
            ASSERT_TRUE(planted.plant(scenario, faulty, rng));
            const std::vector<Violation> violations = checkSession(scenario, faulty);
            EXPECT_TRUE(violates(violations, planted.caughtBy.front())) << describe(violations);
        }
    }
}

// A failed copy excuses the loss of the one event it was taken of, and a hold that began with no
// frontmost application excuses the loss of its own events only.
TEST(PlantedFaults, LossesBeyondTheExcusesAreCaught) {
    // The Q's copy fails; the x typed after it must arrive.
    const Scenario copies = fromJson(R"({"steps":[
        {"at":0.4,"failCopies":1},
        {"at":0.5,"type":"keyDown","key":12},
        {"at":0.53,"type":"keyUp","key":12},
        {"at":0.56,"type":"keyDown","key":7}
    ]})");
    Transcript transcript = simulate(copies);
    ASSERT_EQ(describe(checkSession(copies, transcript)), "");
    Rng rng(1);
    ASSERT_TRUE(loseDelivery(copies, transcript, rng));
    EXPECT_TRUE(violates(checkSession(copies, transcript), nothingElseLost));

    // A hold that began without a frontmost application may vanish; an idle key there may not.
    const Scenario nowhere = fromJson(R"({"frontmost":0,"steps":[
        {"at":0.5,"type":"keyDown","key":12},
        {"at":0.53,"type":"keyUp","key":12},
        {"at":0.56,"type":"keyDown","key":7},
        {"at":0.9,"type":"keyDown","key":14}
    ]})");
    transcript = simulate(nowhere);
    ASSERT_EQ(describe(checkSession(nowhere, transcript)), "");
    const auto idleKey = std::find_if(transcript.begin(), transcript.end(), [](const Entry& e) {
        return e.kind == Entry::Kind::deliver && e.step == 3;
    });
    ASSERT_NE(idleKey, transcript.end());
    transcript.erase(idleKey);
    EXPECT_TRUE(violates(checkSession(nowhere, transcript), nothingElseLost));
}

// Every fault is caught wherever it is planted in random sessions. Holds with no frontmost
// application are left out here: the events of such a hold may vanish, and within a transcript
// one of them going missing looks the same as a fault (the test above bounds that excuse).
TEST(PlantedFaults, CaughtWhereverPlantedInRandomSessions) {
    Options options;
    options.noFrontmost = false;
    std::vector<int> planted(faults.size(), 0);
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        const Scenario scenario = generateSession(seed, options);
        const Transcript correct = simulate(scenario);
        // A run that already breaks a promise is RandomSessions.KeepEveryPromise's to report.
        if (!checkSession(scenario, correct).empty()) continue;
        Rng rng(seed);
        for (std::size_t f = 0; f < faults.size(); ++f) {
            Transcript faulty = correct;
            if (!faults[f].plant(scenario, faulty, rng)) continue;
            ++planted[f];
            const std::vector<Violation> violations = checkSession(scenario, faulty);
            const bool caught = std::any_of(faults[f].caughtBy.begin(), faults[f].caughtBy.end(),
                                            [&](int i) { return violates(violations, i); });
            EXPECT_TRUE(caught) << faults[f].name << ", seed " << seed << "\n"
                                << describe(violations);
        }
    }
    for (std::size_t f = 0; f < faults.size(); ++f)
        EXPECT_GT(planted[f], 0) << "no random session had room for: " << faults[f].name;
}

} // namespace
} // namespace qk::soak
