// Event services over simulated event values.
#include "platform/sim/world.h"

namespace qk {

namespace sim {

namespace {
World theWorld;
int tapToken; // the address stands for the one simulated tap
int sourceToken;
} // namespace

World& world() {
    return theWorld;
}

void resetWorld() {
    theWorld.posts.clear(); // keeps the capacity for the next run
    std::vector<Post> posts = std::move(theWorld.posts);
    theWorld = World();
    theWorld.posts = std::move(posts);
}

Verdict deliver(Event& event) {
    if (!theWorld.callback) return Verdict::pass;
    return theWorld.callback(event.type, ref(event));
}

namespace {
void record(PostKind kind, Pid pid, EventRef event) {
    theWorld.posts.push_back(Post{kind, pid, *event});
    if (theWorld.onPost) theWorld.onPost(theWorld.posts.back());
}
} // namespace

std::uint64_t granted(std::uint64_t mask) {
    constexpr std::uint64_t keys = (1ULL << types::keyDown) | (1ULL << types::keyUp);
    return theWorld.tapKeysAllowed ? mask : mask & ~keys;
}

TapRef makeTap(std::uint64_t mask, TapCallback callback, std::uint64_t& grantedMask, TapRef token) {
    grantedMask = theWorld.tapAllowed ? granted(mask) : 0;
    if (grantedMask == 0) return nullptr;
    theWorld.callback = callback;
    theWorld.tapMask = mask;
    theWorld.preparedBeforeTap = theWorld.preparations > 0;
    return token;
}

} // namespace sim

namespace platform {

using sim::theWorld;

// The simulated events carry macOS key codes.
const KeyTable& keyTable() {
    return macKeys;
}

bool trusted() {
    ++theWorld.plainTrustChecks;
    return theWorld.trusted;
}

bool trustedWithPrompt() {
    ++theWorld.promptingTrustChecks;
    return theWorld.trusted;
}

bool tapPermitted() {
    ++theWorld.permissionChecks;
    return theWorld.trusted;
}

void prepareEventServices() {
    ++theWorld.preparations;
}

TapRef createTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted) {
    return sim::makeTap(mask, callback, granted, reinterpret_cast<TapRef>(&sim::tapToken));
}

void enableTap(TapRef) {
    ++theWorld.tapEnables;
}

SourceRef attachTap(TapRef) {
    if (!theWorld.sourceAllowed) return nullptr;
    theWorld.tapAttached = true;
    if (theWorld.onAttach) theWorld.onAttach();
    return reinterpret_cast<SourceRef>(&sim::sourceToken);
}

void removeTap(TapRef) {
    theWorld.tapRemoved = true;
    theWorld.tapAttached = false;
}

std::int64_t readField(EventRef event, std::uint32_t field) {
    switch (field) {
    case fields::autorepeat:
        return event->autorepeat;
    case fields::keyCode:
        return event->key;
    case fields::sourceUserData:
        return event->userData;
    default:
        return 0;
    }
}

void writeField(EventRef event, std::uint32_t field, std::int64_t value) {
    switch (field) {
    case fields::autorepeat:
        event->autorepeat = value;
        break;
    case fields::keyCode:
        event->key = value;
        break;
    case fields::sourceUserData:
        event->userData = value;
        break;
    default:
        break;
    }
}

EventFlags eventFlags(EventRef event) {
    return event->flags;
}

EventType eventType(EventRef event) {
    return event->type;
}

EventRef copyEvent(EventRef event) {
    if (theWorld.failCopies > 0) {
        --theWorld.failCopies;
        return nullptr;
    }
    ++theWorld.liveCopies;
    return new PlatformEvent(*event);
}

void releaseEvent(EventRef event) {
    if (!event) return;
    --theWorld.liveCopies;
    delete event;
}

void postToProcess(Pid pid, EventRef event) {
    sim::record(sim::PostKind::process, pid, event);
}

void postToHID(EventRef event) {
    sim::record(sim::PostKind::hid, 0, event);
}

Pid frontmostProcess() {
    return theWorld.frontmost;
}

double uptime() {
    return theWorld.now;
}

} // namespace platform
} // namespace qk
