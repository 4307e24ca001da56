#include "platform/mac/tap_list.h"

#include <unistd.h>
#include <vector>

namespace qk::platform {

std::uint64_t grantedEvents(CGEventTapOptions options, std::uint64_t asked) {
    uint32_t count = 0;
    if (CGGetEventTapList(0, nullptr, &count) != kCGErrorSuccess || count == 0) return asked;
    // Other processes may add taps between the two calls: room for a few more, and never more
    // entries read than there is room for.
    std::vector<CGEventTapInformation> taps(count + 16);
    if (CGGetEventTapList(static_cast<uint32_t>(taps.size()), taps.data(), &count) !=
        kCGErrorSuccess)
        return asked;
    if (count < taps.size()) taps.resize(count);
    const pid_t self = getpid();
    for (const CGEventTapInformation& tap : taps) {
        if (tap.tappingProcess == self && tap.processBeingTapped == 0 &&
            tap.tapPoint == kCGSessionEventTap && tap.options == options)
            return tap.eventsOfInterest;
    }
    return asked;
}

} // namespace qk::platform
