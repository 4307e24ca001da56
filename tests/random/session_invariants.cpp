#include "tests/random/session_invariants.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string_view>

namespace qk::soak {

namespace {

// Slack for comparing times that went through different sums of doubles.
constexpr double slack = 1e-9;

constexpr EventFlags commandFlags = 0x40000 | 0x80000 | 0x100000; // Control, Option, Command

// The trigger as a US keyboard types it: Q K D A T U M, then Return or keypad Enter.
constexpr std::array<std::int64_t, 7> letterKeys{12, 40, 2, 0, 17, 32, 46};
constexpr std::int64_t returnKey = 36;
constexpr std::int64_t keypadEnterKey = 76;
constexpr int enterPosition = 7;
constexpr std::int64_t qKey = letterKeys[0];

// A hold begins with a Q; its accepted keys come at most `gap` apart and the Enter ends it, so
// nothing typed later than this after its Q can belong to it.
constexpr double longestHold = 7 * gap + tick;

// Most events a scan can bring along (letters, Enter, their key-ups, Shift changes) with room to
// spare; a longer run of keys is not the scan the recognition promise speaks of.
constexpr std::size_t longestScan = 40;

constexpr std::string_view readyLine = R"({"event":"ready","message":""})";
constexpr std::string_view dispatchDateLine = R"({"event":"dispatch-date","message":""})";

// Place of `key` in the trigger: 0 to 6 for the letters, 7 for either Enter, -1 otherwise.
int triggerPosition(std::int64_t key) {
    if (key == returnKey || key == keypadEnterKey) return enterPosition;
    for (std::size_t i = 0; i < letterKeys.size(); ++i)
        if (letterKeys[i] == key) return static_cast<int>(i);
    return -1;
}

bool isPointer(EventType type) {
    return type == types::leftMouseDown || type == types::rightMouseDown ||
           type == types::otherMouseDown || type == types::scrollWheel;
}

bool isTapDisabled(EventType type) {
    return type == types::tapDisabledByTimeout || type == types::tapDisabledByUserInput;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// What the checker learns about one scenario step.
struct StepInfo {
    bool input = false;        // an input event that reached the tap (it came before any stop)
    bool marked = false;       // it arrived carrying the marker
    bool tapDisabled = false;  // a tap-disabled notification
    bool plainKeyDown = false; // a key-down the trigger can use: no Control, Option or Command,
                               // not autorepeated, not marked
    Pid frontmost = 0;         // the frontmost process when it came
    long verdictAt = -1;       // transcript position of its first verdict
    Verdict verdict = Verdict::pass;
    std::vector<long> deliveries; // transcript positions of its deliver lines
    std::vector<long> dispatches; // dispatch-date lines printed while it was handled
    int trigger = -1;             // the recognised trigger it is a key event of
    bool swallowedUp = false;     // the key-up a trigger left to be dropped once
    bool endsTrigger = false;     // the Enter of a recognised trigger
};

struct Trigger {
    std::array<std::size_t, 8> keys; // the steps of Q K D A T U M and Enter
};

// Withheld events posted back at one go: one flush, one replay or one re-post through the
// hardware stream.
struct Batch {
    long begin = 0;
    long end = 0; // one past its last entry
    bool hid = false;
    std::vector<std::size_t> steps;
};

class Checker {
public:
    Checker(const Scenario& run, const std::vector<Entry>& lines)
        : scenario(run), transcript(lines) {}

    std::vector<Violation> run(Tally& tally);

private:
    const Scenario& scenario;
    const std::vector<Entry>& transcript;
    std::vector<StepInfo> steps;
    std::size_t stopIndex = 0;
    double stopTime = 0;
    std::vector<Trigger> triggers;
    std::vector<Batch> batches;
    std::vector<Violation> violations;
    Tally* tally = nullptr;

    void fail(int invariant, std::string what) {
        violations.push_back(Violation{invariant, std::move(what)});
    }
    const sim::Event& event(std::size_t step) const { return scenario.steps[step].event; }
    double at(std::size_t step) const { return scenario.steps[step].at; }
    std::string name(std::size_t step) const;
    std::string where(long position) const;
    bool handled(std::int64_t step) const {
        return step >= 0 && static_cast<std::size_t>(step) < steps.size() &&
               steps[static_cast<std::size_t>(step)].input;
    }

    void readScenarioSteps();
    void checkRefusedSession();
    void readTranscript();
    void checkExit();
    void findTriggers();
    std::optional<Trigger> triggerEndingAt(std::size_t enter) const;
    void claimTriggerKeys(const Trigger& trigger, int index);
    void checkDeliveredOnceInOrder();
    void checkWithheldGoHome();
    void checkNothingElseLost();
    std::vector<bool> failedCopies() const;
    bool inHoldWithoutFrontmost(std::size_t step) const;
    bool heldAtStop(std::size_t step) const;
    void checkScansRecognised();
    std::optional<std::size_t> scannerSpeedTrigger(std::size_t q) const;
    bool nothingHeldBefore(std::size_t q) const;
    void checkHoldsBounded();
};

std::string Checker::name(std::size_t step) const {
    const sim::Event& e = event(step);
    std::string text = "step " + std::to_string(step) + " (" + std::string(typeName(e.type));
    if (e.type == types::keyDown || e.type == types::keyUp || e.type == types::flagsChanged)
        text += " " + std::to_string(e.key);
    return text + " at " + number(at(step)) + ")";
}

std::string Checker::where(long position) const {
    return "transcript line " + std::to_string(position + 1) + " (at " +
           number(transcript[static_cast<std::size_t>(position)].at) + ")";
}

void Checker::readScenarioSteps() {
    const std::size_t count = scenario.steps.size();
    steps.assign(count, StepInfo());
    stopIndex = count;
    for (std::size_t i = 0; i < count; ++i) {
        if (scenario.steps[i].kind == Step::Kind::stop) {
            stopIndex = i;
            break;
        }
    }
    // Without a stop step the parent closes standard input half a second after the last step.
    stopTime = stopIndex < count ? at(stopIndex) : (count ? scenario.steps.back().at : 0) + 0.5;
    Pid frontmost = scenario.frontmost;
    for (std::size_t i = 0; i < stopIndex; ++i) {
        const Step& step = scenario.steps[i];
        StepInfo& info = steps[i];
        info.frontmost = frontmost;
        if (step.kind == Step::Kind::frontmost) frontmost = step.pid;
        if (step.kind != Step::Kind::input) continue;
        const sim::Event& e = step.event;
        info.input = true;
        info.marked = e.userData == marker;
        info.tapDisabled = isTapDisabled(e.type);
        info.plainKeyDown = e.type == types::keyDown && !info.marked &&
                            (e.flags & commandFlags) == 0 && e.autorepeat == 0;
    }
}

// Without the permission or the tap there is no listening session: nothing may be handled.
void Checker::checkRefusedSession() {
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        const Entry& entry = transcript[p];
        if (entry.kind != Entry::Kind::out && entry.kind != Entry::Kind::exit)
            fail(stopReleasesAll,
                 where(static_cast<long>(p)) + ": an event was handled although no tap was set up");
    }
    if (transcript.empty() || transcript.back().kind != Entry::Kind::exit ||
        transcript.back().status != 2)
        fail(stopReleasesAll, "a session that could not tap input did not end with status 2");
}

void Checker::readTranscript() {
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        const long position = static_cast<long>(p);
        const Entry& entry = transcript[p];
        switch (entry.kind) {
        case Entry::Kind::out:
            if (entry.text == dispatchDateLine) {
                // Printed while a key-down was handled: that key-down's verdict follows.
                std::size_t q = p + 1;
                while (q < transcript.size() && transcript[q].kind != Entry::Kind::verdict)
                    ++q;
                // A verdict on an event handled before is one the helper posted itself.
                if (q == transcript.size() || !handled(transcript[q].step) ||
                    steps[static_cast<std::size_t>(transcript[q].step)].verdictAt >= 0) {
                    fail(triggersRecognised,
                         where(position) + ": dispatch-date printed while no key was typed");
                } else {
                    steps[static_cast<std::size_t>(transcript[q].step)].dispatches.push_back(
                        position);
                }
            } else if (entry.text != readyLine) {
                fail(triggersRecognised,
                     where(position) + ": unexpected line to the parent: " + entry.text);
            }
            break;
        case Entry::Kind::verdict:
            if (!handled(entry.step)) {
                const bool afterStop = entry.step >= static_cast<std::int64_t>(stopIndex) &&
                                       entry.step < static_cast<std::int64_t>(steps.size());
                fail(afterStop ? stopReleasesAll : deliveredOnceInOrder,
                     where(position) + ": a verdict on step " + std::to_string(entry.step) +
                         (afterStop ? ", which came after the stop" : ", which is no input"));
            } else {
                StepInfo& info = steps[static_cast<std::size_t>(entry.step)];
                if (info.verdictAt < 0) {
                    info.verdictAt = position;
                    info.verdict = entry.verdict;
                }
            }
            break;
        case Entry::Kind::deliver:
            if (!handled(entry.step) || steps[static_cast<std::size_t>(entry.step)].tapDisabled) {
                fail(deliveredOnceInOrder, where(position) + ": process " +
                                               std::to_string(entry.pid) + " received step " +
                                               std::to_string(entry.step) +
                                               ", which is no input event of the session");
            } else {
                steps[static_cast<std::size_t>(entry.step)].deliveries.push_back(position);
            }
            break;
        case Entry::Kind::postProcess:
        case Entry::Kind::postHID: {
            const bool hid = entry.kind == Entry::Kind::postHID;
            if (entry.userData != marker)
                fail(withheldGoHomeMarked, where(position) + ": step " +
                                               std::to_string(entry.step) +
                                               " posted without the marker (userData " +
                                               std::to_string(entry.userData) + ")");
            if (!hid && entry.pid < 1)
                fail(withheldGoHomeMarked,
                     where(position) + ": step " + std::to_string(entry.step) +
                         " posted to no process (pid " + std::to_string(entry.pid) + ")");
            long end = position + 1;
            if (!hid) {
                const bool delivered =
                    p + 1 < transcript.size() && transcript[p + 1].kind == Entry::Kind::deliver &&
                    transcript[p + 1].step == entry.step && transcript[p + 1].pid == entry.pid;
                if (!delivered)
                    fail(withheldGoHomeMarked,
                         where(position) + ": step " + std::to_string(entry.step) + " posted to " +
                             std::to_string(entry.pid) + " did not arrive there");
                end = position + 2;
            }
            if (batches.empty() || batches.back().end != position || batches.back().hid != hid)
                batches.push_back(Batch{position, position, hid, {}});
            batches.back().end = end;
            if (handled(entry.step))
                batches.back().steps.push_back(static_cast<std::size_t>(entry.step));
            break;
        }
        case Entry::Kind::exit:
            break;
        }
    }
}

void Checker::checkExit() {
    long exits = 0;
    for (const Entry& entry : transcript)
        exits += entry.kind == Entry::Kind::exit;
    if (exits != 1 || transcript.back().kind != Entry::Kind::exit) {
        fail(stopReleasesAll, "the transcript does not end with the one exit line");
        return;
    }
    const Entry& exit = transcript.back();
    if (exit.status != 0)
        fail(stopReleasesAll, "the session ended with status " + std::to_string(exit.status));
    if (exit.at != stopTime)
        fail(stopReleasesAll,
             "the session ended at " + number(exit.at) + ", the stop came at " + number(stopTime));
}

// The eight key-downs a recognised trigger consists of, found from its Enter backwards; none if
// what was typed before the Enter is no trigger.
std::optional<Trigger> Checker::triggerEndingAt(std::size_t enter) const {
    Trigger trigger{};
    trigger.keys[enterPosition] = enter;
    int wanted = enterPosition - 1;
    for (std::size_t j = enter; j-- > 0 && wanted >= 0;) {
        const StepInfo& info = steps[j];
        if (!info.input || info.marked) continue;
        // A click or a disabled tap in between ends any trigger in progress.
        if (info.tapDisabled || isPointer(event(j).type)) return std::nullopt;
        if (info.plainKeyDown) trigger.keys[static_cast<std::size_t>(wanted--)] = j;
    }
    if (wanted >= 0) return std::nullopt;
    for (std::size_t k = 0; k < trigger.keys.size(); ++k) {
        if (triggerPosition(event(trigger.keys[k]).key) != static_cast<int>(k)) return std::nullopt;
        if (k > 0 && at(trigger.keys[k]) - at(trigger.keys[k - 1]) > gap) return std::nullopt;
    }
    return trigger;
}

void Checker::findTriggers() {
    for (std::size_t r = 0; r < stopIndex; ++r) {
        StepInfo& info = steps[r];
        if (info.dispatches.empty()) continue;
        if (info.dispatches.size() > 1)
            fail(triggersRecognised, "dispatch-date printed " +
                                         std::to_string(info.dispatches.size()) +
                                         " times for the trigger ending at " + name(r));
        const bool enter = info.verdictAt > info.dispatches.front() && info.plainKeyDown &&
                           triggerPosition(event(r).key) == enterPosition;
        const std::optional<Trigger> trigger = enter ? triggerEndingAt(r) : std::nullopt;
        if (!trigger) {
            fail(triggersRecognised, "dispatch-date printed at " + name(r) +
                                         ", which does not end a trigger typed in time");
            continue;
        }
        info.endsTrigger = true;
        triggers.push_back(*trigger);
        claimTriggerKeys(*trigger, static_cast<int>(triggers.size() - 1));
    }
    if (tally) tally->triggers += static_cast<long>(triggers.size());
}

// The key events of a recognised trigger are swallowed: its key-downs and the key-ups that came
// while it was typed. A key still down when it completed has its next key-up dropped once.
void Checker::claimTriggerKeys(const Trigger& trigger, int index) {
    const std::size_t first = trigger.keys.front();
    const std::size_t enter = trigger.keys.back();
    for (std::size_t j = first; j <= enter; ++j) {
        StepInfo& info = steps[j];
        if (!info.input || info.marked) continue;
        const EventType type = event(j).type;
        if (!info.plainKeyDown && type != types::keyUp) continue;
        info.trigger = index;
        for (const long delivery : info.deliveries)
            fail(triggersRecognised, name(j) + " of the trigger ending at " + name(enter) +
                                         " reached process " +
                                         std::to_string(transcript[delivery].pid));
    }
    for (const std::size_t down : trigger.keys) {
        const std::int64_t key = event(down).key;
        bool released = false;
        for (std::size_t j = down + 1; j <= enter && !released; ++j)
            released = steps[j].input && !steps[j].marked && event(j).type == types::keyUp &&
                       event(j).key == key;
        if (released) continue;
        for (std::size_t j = enter + 1; j < stopIndex; ++j) {
            if (steps[j].input && !steps[j].marked && event(j).type == types::keyUp &&
                event(j).key == key) {
                steps[j].swallowedUp = true;
                break;
            }
        }
    }
}

void Checker::checkDeliveredOnceInOrder() {
    for (std::size_t i = 0; i < stopIndex; ++i)
        if (steps[i].deliveries.size() > 1)
            fail(deliveredOnceInOrder, name(i) + " was delivered " +
                                           std::to_string(steps[i].deliveries.size()) + " times");
    // Each process receives the person's events in the order they were typed.
    std::vector<std::pair<Pid, std::int64_t>> lastReceived;
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        const Entry& entry = transcript[p];
        if (entry.kind != Entry::Kind::deliver || !handled(entry.step)) continue;
        if (steps[static_cast<std::size_t>(entry.step)].marked) continue;
        auto last = std::find_if(lastReceived.begin(), lastReceived.end(),
                                 [&](const auto& seen) { return seen.first == entry.pid; });
        if (last == lastReceived.end()) {
            lastReceived.emplace_back(entry.pid, entry.step);
            continue;
        }
        if (entry.step <= last->second)
            fail(deliveredOnceInOrder, where(static_cast<long>(p)) + ": process " +
                                           std::to_string(entry.pid) + " received " +
                                           name(static_cast<std::size_t>(entry.step)) + " after " +
                                           name(static_cast<std::size_t>(last->second)));
        last->second = std::max(last->second, entry.step);
    }
}

// Withheld events go back to the process that was frontmost when their hold began (and in which
// they were typed: a hold ends when another application comes to the front), marked.
void Checker::checkWithheldGoHome() {
    std::vector<int> batchOf(steps.size(), -1);
    for (std::size_t b = 0; b < batches.size(); ++b) {
        const Batch& batch = batches[b];
        if (batch.steps.empty()) continue;
        if (tally) ++tally->releases;
        const Pid home = steps[batch.steps.front()].frontmost;
        for (const std::size_t step : batch.steps) {
            batchOf[step] = static_cast<int>(b);
            if (steps[step].frontmost != home)
                fail(withheldGoHomeMarked, name(step) + " was typed into process " +
                                               std::to_string(steps[step].frontmost) +
                                               " but held with events of " + std::to_string(home) +
                                               " released at " + where(batch.begin));
            for (const long delivery : steps[step].deliveries) {
                const Pid pid = transcript[static_cast<std::size_t>(delivery)].pid;
                if (delivery > batch.begin && pid != home)
                    fail(withheldGoHomeMarked, name(step) + ", withheld from process " +
                                                   std::to_string(home) + ", went to process " +
                                                   std::to_string(pid));
            }
        }
    }
    // A withheld event reaches its process only through a marked post.
    for (std::size_t i = 0; i < stopIndex; ++i) {
        const StepInfo& info = steps[i];
        if (!info.input || info.verdictAt < 0 || info.verdict != Verdict::drop) continue;
        for (const long delivery : info.deliveries) {
            const Entry& before = transcript[static_cast<std::size_t>(delivery - 1)];
            const bool posted = before.kind == Entry::Kind::postProcess &&
                                before.step == static_cast<std::int64_t>(i);
            const bool reentered = before.kind == Entry::Kind::verdict &&
                                   before.step == static_cast<std::int64_t>(i) &&
                                   before.verdict == Verdict::pass && batchOf[i] >= 0 &&
                                   batches[static_cast<std::size_t>(batchOf[i])].hid;
            if (!posted && !reentered)
                fail(withheldGoHomeMarked,
                     name(i) + " was withheld, yet reached process " +
                         std::to_string(transcript[static_cast<std::size_t>(delivery)].pid) +
                         " without being posted back at " + where(delivery));
        }
    }
}

// An undelivered event of a hold that began while no application was frontmost: such a hold has
// nowhere to go. It began with a Q typed then; until the event, everything the person typed was
// withheld and no application was in front when it came. A key-up dropped once after a trigger
// does not count: it is dropped before the filter looks at the frontmost application, so an
// application that came to the front only around it does not end the hold.
bool Checker::inHoldWithoutFrontmost(std::size_t step) const {
    if (steps[step].frontmost != 0) return false;
    for (std::size_t j = step + 1; j-- > 0;) {
        const StepInfo& info = steps[j];
        if (!info.input || info.marked || info.swallowedUp) continue;
        if (at(step) - at(j) > longestHold + slack) return false;
        if (info.frontmost != 0 || info.tapDisabled || info.verdictAt < 0 ||
            info.verdict != Verdict::drop)
            return false;
        if (info.plainKeyDown && event(j).key == qKey) return true;
    }
    return false;
}

// Whether a lost event may still have been held when the stop came: nothing the person typed after
// it was let through, and the last withheld key-down was recent enough for its hold to be alive.
bool Checker::heldAtStop(std::size_t step) const {
    std::optional<std::size_t> lastKeyDown;
    for (std::size_t j = 0; j < stopIndex; ++j) {
        const StepInfo& info = steps[j];
        if (!info.input || info.marked) continue;
        if (j > step && (info.tapDisabled || info.verdict == Verdict::pass)) return false;
        if (event(j).type == types::keyDown && info.verdict == Verdict::drop) lastKeyDown = j;
    }
    return lastKeyDown && stopTime <= at(*lastKeyDown) + gap + tick + slack;
}

// The events whose copies failed. The helper copies each event it withholds once, when it
// withholds it (a key-up dropped once after a trigger is not withheld), and a failCopies step makes
// the next that-many copies fail, replacing what was left of the one before: so the copies that
// failed are those of the next that-many events withheld after the step.
std::vector<bool> Checker::failedCopies() const {
    std::vector<bool> failed(steps.size(), false);
    int remaining = 0;
    for (std::size_t i = 0; i < stopIndex; ++i) {
        const Step& step = scenario.steps[i];
        if (step.kind == Step::Kind::failCopies) remaining = step.count;
        const StepInfo& info = steps[i];
        if (!info.input || info.marked || info.tapDisabled || info.swallowedUp ||
            info.verdictAt < 0 || info.verdict != Verdict::drop || remaining == 0)
            continue;
        failed[i] = true;
        --remaining;
    }
    return failed;
}

void Checker::checkNothingElseLost() {
    const std::vector<bool> copyFailed = failedCopies();
    for (std::size_t i = 0; i < stopIndex; ++i) {
        const StepInfo& info = steps[i];
        if (!info.input || info.tapDisabled) continue;
        if (tally) ++tally->inputs;
        if (info.verdictAt < 0) {
            fail(nothingElseLost, name(i) + " never reached the filter");
            continue;
        }
        if (!info.deliveries.empty()) {
            if (tally) ++tally->delivered;
            continue;
        }
        if (info.marked) {
            fail(nothingElseLost, name(i) + " carried the marker but was not delivered");
            continue;
        }
        if (info.verdict == Verdict::pass) {
            fail(nothingElseLost, name(i) + " was passed but never delivered");
            continue;
        }
        long* excuse = nullptr;
        if (info.trigger >= 0) {
            excuse = tally ? &tally->discarded : nullptr;
        } else if (info.swallowedUp) {
            excuse = tally ? &tally->swallowedUps : nullptr;
        } else if (copyFailed[i]) {
            excuse = tally ? &tally->lostToCopies : nullptr;
        } else if (inHoldWithoutFrontmost(i)) {
            excuse = tally ? &tally->noFrontmost : nullptr;
        } else {
            fail(nothingElseLost, name(i) + " was dropped and never delivered");
            if (heldAtStop(i))
                fail(stopReleasesAll,
                     name(i) + " was still withheld when the stop came and was not released");
            continue;
        }
        if (excuse) ++*excuse;
    }
}

// The steps from `q` on, if they are a trigger typed at scanner speed into one application with
// nothing else in between: the letters and Enter in order, each at most `gap` after the one
// before, with only their key-ups, Shift or Caps Lock changes, events that carry the marker and
// failing copies around them. Returns the Enter's step.
std::optional<std::size_t> Checker::scannerSpeedTrigger(std::size_t q) const {
    const Pid app = steps[q].frontmost;
    int next = 1;
    std::size_t last = q;
    std::size_t events = 1;
    for (std::size_t j = q + 1; j < stopIndex; ++j) {
        const Step& step = scenario.steps[j];
        const StepInfo& info = steps[j];
        if (step.kind == Step::Kind::failCopies) continue;
        if (step.kind == Step::Kind::frontmost) {
            if (step.pid != app) return std::nullopt;
            continue;
        }
        if (!info.input) return std::nullopt;
        if (info.marked) continue;
        if (++events > longestScan) return std::nullopt;
        const sim::Event& e = step.event;
        if (e.type == types::keyUp) continue;
        if (e.type == types::flagsChanged && (e.flags & commandFlags) == 0) continue;
        if (!info.plainKeyDown || triggerPosition(e.key) != next) return std::nullopt;
        if (step.at - at(last) > gap) return std::nullopt;
        if (next == enterPosition) return j;
        last = j;
        ++next;
    }
    return std::nullopt;
}

// Whether nothing can have been held when step `q` came: the person's last event before it was
// let through, ended a trigger or a hold (tap disabled), or came longer ago than any hold lasts
// after its last key; key-ups dropped once after a trigger do not count.
bool Checker::nothingHeldBefore(std::size_t q) const {
    for (std::size_t j = q; j-- > 0;) {
        const StepInfo& info = steps[j];
        if (!info.input || info.marked) continue;
        if (info.tapDisabled || at(q) - at(j) > gap + tick + slack) return true;
        if (info.verdict == Verdict::pass || info.endsTrigger) return true;
        if (!info.swallowedUp) return false;
    }
    return true;
}

void Checker::checkScansRecognised() {
    for (std::size_t q = 0; q < stopIndex; ++q) {
        if (!steps[q].plainKeyDown || event(q).key != qKey) continue;
        const std::optional<std::size_t> enter = scannerSpeedTrigger(q);
        if (!enter || !nothingHeldBefore(q)) continue;
        if (tally) ++tally->guaranteed;
        if (!steps[*enter].endsTrigger)
            fail(triggersRecognised, "the trigger typed at scanner speed from " + name(q) + " to " +
                                         name(*enter) + " was not recognised");
    }
}

void Checker::checkHoldsBounded() {
    // A hold lasts at most until its last accepted key-down plus `gap` and one timer tick. Every
    // key-down the hold accepted was dropped before the release, so the latest such key-down
    // is no earlier than the last accepted one.
    std::optional<std::size_t> lastDropped;
    std::size_t nextBatch = 0;
    std::vector<long> pendingChange(transcript.size() + 1, 0);
    for (std::size_t i = 0; i < stopIndex; ++i) {
        const StepInfo& info = steps[i];
        if (!info.input || info.verdictAt < 0 || info.verdict != Verdict::drop) continue;
        for (const long delivery : info.deliveries) {
            if (delivery < info.verdictAt) continue;
            ++pendingChange[static_cast<std::size_t>(info.verdictAt)];
            --pendingChange[static_cast<std::size_t>(delivery)];
            break;
        }
    }
    long pending = 0;
    bool overfull = false;
    for (std::size_t p = 0; p < transcript.size(); ++p) {
        const long position = static_cast<long>(p);
        while (nextBatch < batches.size() && batches[nextBatch].begin == position) {
            ++nextBatch;
            const double released = transcript[p].at;
            if (!lastDropped) {
                fail(holdsBounded, where(position) + ": events posted back with no key held");
            } else if (released > at(*lastDropped) + gap + tick + slack) {
                fail(holdsBounded, where(position) + ": a hold released at " + number(released) +
                                       ", though its last key came at " + number(at(*lastDropped)));
            }
        }
        pending += pendingChange[p];
        const Entry& entry = transcript[p];
        if (entry.kind != Entry::Kind::verdict || !handled(entry.step)) continue;
        const std::size_t step = static_cast<std::size_t>(entry.step);
        const StepInfo& info = steps[step];
        if (info.verdictAt != position || info.marked || event(step).type != types::keyDown)
            continue;
        if (info.verdict == Verdict::drop) lastDropped = step;
        // Every event withheld and not yet posted back is in the hold.
        if (!overfull && pending > static_cast<long>(heldAfterKeyDown)) {
            fail(holdsBounded, std::to_string(pending) + " events held after " + name(step));
            overfull = true;
        }
    }
}

std::vector<Violation> Checker::run(Tally& sums) {
    tally = &sums;
    readScenarioSteps();
    if (!scenario.trusted || !scenario.tap || !scenario.source) {
        checkRefusedSession();
        return std::move(violations);
    }
    readTranscript();
    if (transcript.empty()) {
        fail(stopReleasesAll, "the transcript is empty");
        return std::move(violations);
    }
    checkExit();
    findTriggers();
    checkDeliveredOnceInOrder();
    checkWithheldGoHome();
    checkNothingElseLost();
    checkScansRecognised();
    checkHoldsBounded();
    return std::move(violations);
}

} // namespace

void Tally::add(const Tally& other) {
    inputs += other.inputs;
    delivered += other.delivered;
    discarded += other.discarded;
    triggers += other.triggers;
    guaranteed += other.guaranteed;
    releases += other.releases;
    lostToCopies += other.lostToCopies;
    noFrontmost += other.noFrontmost;
    swallowedUps += other.swallowedUps;
}

std::vector<Violation> checkSession(const Scenario& scenario, const std::vector<Entry>& transcript,
                                    Tally* tally) {
    Tally local;
    std::vector<Violation> violations = Checker(scenario, transcript).run(local);
    if (tally) tally->add(local);
    return violations;
}

bool violates(const std::vector<Violation>& violations, int invariant) {
    return std::any_of(violations.begin(), violations.end(),
                       [&](const Violation& v) { return v.invariant == invariant; });
}

std::string describe(const std::vector<Violation>& violations) {
    std::string text;
    for (const Violation& v : violations)
        text += "invariant " + std::to_string(v.invariant) + ": " + v.what + "\n";
    return text;
}

} // namespace qk::soak
