// The listen-only tap and its permission over the simulated world.
#include "platform/sim/listen.h"
#include "platform/listen.h"
#include "platform/sim/world.h"

namespace qk {

namespace sim {
namespace {
ListenAccess access;
int listenTapToken; // the address stands for the simulated listen-only tap
} // namespace

ListenAccess& listenAccess() {
    return access;
}
void resetListenAccess() {
    access = ListenAccess();
}
} // namespace sim

namespace platform {

bool listenAccess() {
    ++sim::access.checks;
    return sim::access.allowed;
}

bool requestListenAccess() {
    ++sim::access.requests;
    return sim::access.allowed || sim::access.grantedOnRequest;
}

TapRef createListenTap(std::uint64_t mask, TapCallback callback, std::uint64_t& granted) {
    const TapRef tap =
        sim::makeTap(mask, callback, granted, reinterpret_cast<TapRef>(&sim::listenTapToken));
    if (tap) sim::access.listenOnlyTap = true;
    return tap;
}

} // namespace platform
} // namespace qk
