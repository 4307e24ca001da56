// Event services for hosts without an input-event service (Linux and the like). Nothing can be
// tapped here, so the trust checks answer no and no tap is ever created; the listening session
// therefore stops at its first step, and the other operations are never reached.
#include "platform/events.h"

namespace qk::platform {

// No input service, so no key codes of its own; the macOS table stands in.
const KeyTable& keyTable() {
    return macKeys;
}

bool trusted() {
    return false;
}
bool trustedWithPrompt() {
    return false;
}
bool tapPermitted() {
    return false;
}
void prepareEventServices() {}
TapRef createTap(std::uint64_t, TapCallback, std::uint64_t& granted) {
    granted = 0;
    return nullptr;
}
void enableTap(TapRef) {}
SourceRef attachTap(TapRef) {
    return nullptr;
}
void removeTap(TapRef) {}
std::int64_t readField(EventRef, std::uint32_t) {
    return 0;
}
void writeField(EventRef, std::uint32_t, std::int64_t) {}
EventFlags eventFlags(EventRef) {
    return 0;
}
EventType eventType(EventRef) {
    return 0;
}
EventRef copyEvent(EventRef) {
    return nullptr;
}
void releaseEvent(EventRef) {}
void postToProcess(Pid, EventRef) {}
void postToHID(EventRef) {}
Pid frontmostProcess() {
    return 0;
}
double uptime() {
    return 0;
}

} // namespace qk::platform
