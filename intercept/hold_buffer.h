// The state of a trigger in progress: the live matcher, copies of the withheld events, the process
// they were meant for, and the keys whose key-ups are pending or must be dropped. Main thread only.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/matcher.h"
#include "intercept/key_set.h"
#include "platform/events.h"

namespace qk {

// Written into the source user-data field of every event the helper posts itself, so that its
// own tap lets them through: the bytes "QKSCAN" read as one big-endian number.
inline constexpr std::int64_t marker = 0x514B5343414E;

extern Matcher matcher;
extern std::vector<OwnedEvent> held; // withheld copies, oldest first; non-empty while holding
extern Pid heldPID;                  // frontmost process when the hold began; 0 if none
extern KeySet down;                  // keys pressed during the hold and not yet released
extern KeySet swallowedUps; // keys whose next key-up is dropped: down when a trigger completed

// A hold is in progress: events are withheld, or a trigger has started even though the copy of
// its first key could not be made. The second case must count too, or the matcher would stay
// part-way through a trigger with nothing to expire it.
inline bool holding() {
    return !held.empty() || matcher.index > 0;
}

// A fresh, idle hold buffer for a new listening session.
void createHoldBuffer();

// The frontmost application's process id, or 0 when there is none.
Pid foreground();

// Marks each event as the helper's own and posts it to `pid`, in order.
void replay(std::span<const OwnedEvent> events, Pid pid);

// Forgets the hold: withheld copies released, matcher idle, nothing posted.
void clear();

// Ends the hold, replaying the withheld events to the process they were meant for (if there was
// one). The state is emptied before anything is posted.
void flush();

// Run by the stale-hold timer: releases a hold whose last accepted key is more than `gap` old.
void staleHoldCheck();

// The withheld events taken out of `held` for the caller to post. When it goes out of scope the
// copies are released and the storage is kept for the next hold.
class TakenHold {
public:
    TakenHold();
    ~TakenHold();
    TakenHold(const TakenHold&) = delete;
    TakenHold& operator=(const TakenHold&) = delete;

    std::vector<OwnedEvent>& events;
};

} // namespace qk
