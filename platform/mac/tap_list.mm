#include "platform/mac/tap_list.h"

#include <unistd.h>
#include <vector>

namespace qk::platform {

std::uint64_t grantedEvents(CGEventTapOptions options) {
    uint32_t count = 0;
    if (CGGetEventTapList(0, nullptr, &count) != kCGErrorSuccess || count == 0) return 0;
    // Other processes may add taps between the two calls: room for a few more, and never more
    // entries read than there is room for.
    std::vector<CGEventTapInformation> taps(count + 16);
    if (CGGetEventTapList(static_cast<uint32_t>(taps.size()), taps.data(), &count) !=
        kCGErrorSuccess)
        return 0;
    if (count < taps.size()) taps.resize(count);
    const pid_t self = getpid();
    for (const CGEventTapInformation& tap : taps) {
        if (tap.tappingProcess == self && tap.processBeingTapped == 0 &&
            tap.tapPoint == kCGSessionEventTap && tap.options == options)
            return tap.eventsOfInterest;
    }
    return 0;
}

} // namespace qk::platform
