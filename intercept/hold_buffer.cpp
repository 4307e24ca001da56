#include "intercept/hold_buffer.h"

#include "core/trigger.h"

namespace qk {

Matcher matcher;
std::vector<OwnedEvent> held;
Pid heldPID = 0;
KeySet down;
KeySet swallowedUps;

namespace {

// Where TakenHold puts the events it takes; swapped with `held` so both keep their storage.
std::vector<OwnedEvent> taken;

// Room for a whole scan (seven letters, Shift and Return, with their key-ups) and the hold cap,
// so that holds do not allocate for bookkeeping.
constexpr std::size_t initialCapacity = 128;

} // namespace

TakenHold::TakenHold() : events(taken) {
    events.swap(held);
}

TakenHold::~TakenHold() {
    events.clear();
}

void createHoldBuffer() {
    matcher = Matcher();
    held.clear();
    taken.clear();
    heldPID = 0;
    down.clear();
    swallowedUps.clear();
    held.reserve(initialCapacity);
    taken.reserve(initialCapacity);
    down.reserve(initialCapacity);
    swallowedUps.reserve(initialCapacity);
}

Pid foreground() {
    return platform::frontmostProcess();
}

void replay(std::span<const OwnedEvent> events, Pid pid) {
    for (const OwnedEvent& event : events) {
        platform::writeField(event.get(), fields::sourceUserData, marker);
        platform::postToProcess(pid, event.get());
    }
}

void clear() {
    held.clear();
    matcher.reset();
    down.clear();
    heldPID = 0;
}

void flush() {
    if (held.empty()) {
        // Also forgets a trigger whose first copy failed: its key is still counted as down.
        clear();
        return;
    }
    TakenHold hold;
    const Pid pid = heldPID;
    clear();
    // With no process to return them to, the events are released unposted.
    if (pid >= 1) replay(hold.events, pid);
}

void staleHoldCheck() {
    if (holding() && platform::uptime() - matcher.last > gap) flush();
}

} // namespace qk
