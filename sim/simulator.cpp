#include "sim/simulator.h"

#include <algorithm>
#include <deque>

#include "app/session.h"
#include "intercept/hold_buffer.h"
#include "parent/messages.h"
#include "platform/sim/session.h"

namespace qk {

namespace {

// The run in progress; the simulator runs one scenario at a time.
const Scenario* scenario = nullptr;
std::vector<Entry>* transcript = nullptr;
// Events posted into the hardware stream during a callback; they pass the tap again after it.
std::deque<sim::Event> hardwareStream;

double now() {
    return sim::world().now;
}

// Appends a transcript entry stamped with the current virtual time and returns it to fill in.
Entry& record(Entry::Kind kind, std::int64_t step = -1) {
    Entry& entry = transcript->emplace_back();
    entry.kind = kind;
    entry.at = now();
    entry.step = step;
    return entry;
}

bool recordLine(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    record(Entry::Kind::out).text = line;
    return true;
}

void recordPost(const sim::Post& post) {
    const sim::Event& event = post.event;
    if (post.kind == sim::PostKind::hid) {
        record(Entry::Kind::postHID, event.origin).userData = event.userData;
        hardwareStream.push_back(event);
        return;
    }
    Entry& posted = record(Entry::Kind::postProcess, event.origin);
    posted.pid = post.pid;
    posted.userData = event.userData;
    record(Entry::Kind::deliver, event.origin).pid = post.pid;
}

bool isTapDisabled(EventType type) {
    return type == types::tapDisabledByTimeout || type == types::tapDisabledByUserInput;
}

// Hands one event to the tap; what passes goes to the frontmost process.
void tapEvent(sim::Event event) {
    const Verdict verdict = sim::deliver(event);
    record(Entry::Kind::verdict, event.origin).verdict = verdict;
    if (verdict == Verdict::pass && !isTapDisabled(event.type))
        record(Entry::Kind::deliver, event.origin).pid = sim::world().frontmost;
}

void input(const sim::Event& event) {
    tapEvent(event);
    // The filter re-posts at most the events it withheld (each step is withheld at most once)
    // and the pointer event itself, and lets its own events through, so a correct one stays
    // within this. A faulty one that keeps re-posting would loop for ever.
    const std::size_t limit = scenario->steps.size() + 1;
    for (std::size_t passed = 0; !hardwareStream.empty(); ++passed) {
        if (passed == limit)
            throw SimulationError("the session posted more than " + std::to_string(limit) +
                                  " events into the hardware stream after step " +
                                  std::to_string(event.origin));
        const sim::Event next = hardwareStream.front();
        hardwareStream.pop_front();
        tapEvent(next);
    }
}

void runStep(const Step& step) {
    if (changeWorld(step)) return;
    if (step.kind == Step::Kind::input) {
        input(step.event);
        return;
    }
    // A line and the end of input both reach the main thread through the watcher.
    const sim::SessionHooks& hooks = sim::sessionHooks();
    if (step.stop == StopKind::sigterm) {
        hooks.stopFromSignal();
    } else {
        hooks.stopFromInput();
    }
}

// Runs timer ticks due before `until` (a step at the same time as a tick runs first). A tick
// while nothing is held does nothing, so such ticks are skipped: a long quiet stretch costs no
// time, however long.
void tickUntil(double until, long& tick) {
    const sim::SessionHooks& hooks = sim::sessionHooks();
    for (;;) {
        if (!holding()) {
            const auto last = static_cast<long>(until / hooks.tickInterval) - 1;
            tick = std::max(tick, last);
        }
        const double at = static_cast<double>(tick) * hooks.tickInterval;
        if (at >= until) return;
        sim::world().now = at;
        hooks.tick();
        ++tick;
    }
}

void mainLoop() {
    long tick = 1;
    for (const Step& step : scenario->steps) {
        tickUntil(step.at, tick);
        sim::world().now = step.at;
        runStep(step); // a stop step ends the process here
    }
    // Without a stop the parent closes standard input half a second after the last step.
    const double end = (scenario->steps.empty() ? 0 : scenario->steps.back().at) + 0.5;
    tickUntil(end, tick);
    sim::world().now = end;
    Step stop;
    stop.at = end;
    stop.kind = Step::Kind::stop;
    stop.stop = StopKind::eof;
    runStep(stop);
}

// Points the simulated platform at one run, and away from it again however the run ends.
class Run {
public:
    Run(const Scenario& run, std::vector<Entry>& entries) {
        scenario = &run;
        transcript = &entries;
        hardwareStream.clear();
        sim::resetWorld();
        sim::resetSessionHooks();
        sim::World& world = sim::world();
        world.trusted = run.trusted;
        world.tapAllowed = run.tap;
        world.tapKeysAllowed = run.tapKeys;
        world.sourceAllowed = run.source;
        world.frontmost = run.frontmost;
        world.onPost = recordPost;
        sim::sessionHooks().mainLoop = mainLoop;
        setEmitSink(recordLine);
    }
    ~Run() {
        setEmitSink(nullptr);
        sim::world().onPost = nullptr;
        hardwareStream.clear();
        scenario = nullptr;
        transcript = nullptr;
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
};

} // namespace

std::vector<Entry> simulate(const Scenario& run) {
    std::vector<Entry> entries;
    const Run current(run, entries);
    try {
        runListeningSession();
    } catch (const sim::ProcessExit& exit) {
        record(Entry::Kind::exit).status = exit.status;
    }
    return entries;
}

} // namespace qk
