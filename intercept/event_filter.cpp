#include "intercept/event_filter.h"

#include "core/trigger.h"
#include "intercept/hold_buffer.h"
#include "parent/exit_status.h"
#include "parent/messages.h"
#include "platform/session.h"

namespace qk {

TapRef tap = nullptr;

namespace {

// The key codes of the host's events, looked up once.
const KeyTable& hostKeys = platform::keyTable();

bool isPointer(EventType type) {
    return type == types::leftMouseDown || type == types::rightMouseDown ||
           type == types::scrollWheel || type == types::otherMouseDown;
}

// Keeps a copy of the current event in the hold. If no copy can be made, the hold goes on
// without it.
void takeCopy(EventRef event) {
    if (OwnedEvent copy = copyEvent(event)) held.push_back(std::move(copy));
}

void postMarkedToHID(EventRef event) {
    platform::writeField(event, fields::sourceUserData, marker);
    platform::postToHID(event);
}

// A click or scroll. In the application the held keys were meant for, they are re-posted through
// the hardware stream ahead of the pointer event, so that both arrive in the order they happened.
Verdict pointerEvent(EventRef event) {
    if (held.empty() || foreground() != heldPID) {
        flush();
        return Verdict::pass;
    }
    {
        TakenHold hold;
        clear();
        for (const OwnedEvent& withheld : hold.events)
            postMarkedToHID(withheld.get());
    }
    // Passing the original now would put it ahead of the keys just posted, so a copy follows them.
    const OwnedEvent copy = copyEvent(event);
    if (copy) postMarkedToHID(copy.get());
    return Verdict::drop;
}

// A hold does not survive a change of the frontmost application, nor a pause longer than `gap`.
void endStaleHold() {
    if (!holding()) return;
    if (foreground() != heldPID || platform::uptime() - matcher.last > gap) flush();
}

// The trigger is complete: its keys are swallowed, the modifier changes made while it was typed go
// back to the application, and the key-ups still to come are dropped when they arrive.
void completeTrigger() {
    TakenHold hold;
    std::erase_if(hold.events, [](const OwnedEvent& event) {
        return platform::eventType(event.get()) != types::flagsChanged;
    });
    const Pid pid = heldPID;
    for (const KeyCode key : down)
        swallowedUps.insert(key);
    clear();
    // A hold that began with no frontmost application has nowhere to go, as in flush.
    if (pid >= 1) replay(hold.events, pid);
    emit(messages::dispatchDate);
}

Verdict keyDown(EventRef event, KeyCode key, EventFlags commandFlags) {
    // Ordinary typing: while nothing is in progress, a key that cannot start the trigger passes
    // whatever its modifiers or autorepeat, so the clock and the matcher need not be asked.
    const std::string_view name = keyName(key, hostKeys);
    if (!holding() && name != barcode.substr(0, 1)) return Verdict::pass;
    if (commandFlags != 0 || platform::readField(event, fields::autorepeat) != 0) {
        if (!holding()) return Verdict::pass;
        takeCopy(event);
        flush();
        return Verdict::drop;
    }
    const Result result = matcher.feed(name, platform::uptime());
    if (result == ignored) return Verdict::pass;
    if (held.empty()) heldPID = foreground();
    takeCopy(event);
    down.insert(key);
    if (held.size() >= holdLimit) {
        flush();
        return Verdict::drop;
    }
    if (result == complete) {
        completeTrigger();
    } else if (result == broken) {
        flush(); // the breaking key is in the hold, so it is replayed with the rest
    }
    return Verdict::drop;
}

// The system turned the tap off: its callback was too slow, or the user did something that turns
// taps off, such as taking a permission away. Without the permission a tap enabled again would
// hold up every keystroke and click until the system timed it out once more, so the helper gives
// it up and says what is missing instead.
Verdict tapDisabled() {
    const bool permitted = platform::tapPermitted();
    flush();
    if (!permitted) {
        if (tap) platform::removeTap(tap);
        tap = nullptr;
        emit(messages::permissionRequiredRestart);
        platform::exitProcess(permissionMissing);
    }
    if (tap) platform::enableTap(tap);
    emit(messages::ready);
    return Verdict::pass;
}

} // namespace

Verdict callback(EventType type, EventRef event) {
    if (type == types::tapDisabledByTimeout || type == types::tapDisabledByUserInput)
        return tapDisabled();
    // The helper's own replays pass untouched should they come through the tap again.
    if (platform::readField(event, fields::sourceUserData) == marker) return Verdict::pass;
    const KeyCode key = platform::readField(event, fields::keyCode);
    if (isPointer(type)) return pointerEvent(event);
    if (type == types::keyUp && swallowedUps.erase(key)) return Verdict::drop;
    endStaleHold();
    const EventFlags commandFlags = platform::eventFlags(event) & commandModifiers;
    switch (type) {
    case types::flagsChanged:
        if (!holding()) return Verdict::pass;
        takeCopy(event);
        if (commandFlags != 0) flush();
        return Verdict::drop;
    case types::keyUp:
        if (!holding()) return Verdict::pass;
        takeCopy(event);
        down.erase(key);
        return Verdict::drop;
    case types::keyDown:
        return keyDown(event, key, commandFlags);
    default:
        return Verdict::pass;
    }
}

} // namespace qk
