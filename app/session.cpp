#include "app/session.h"

#include <cstdio>

#include "intercept/event_filter.h"
#include "intercept/hold_buffer.h"
#include "parent/exit_status.h"
#include "parent/messages.h"
#include "platform/events.h"
#include "platform/session.h"

namespace qk {

namespace {

// The tap's run-loop source, kept for the life of the process.
SourceRef source = nullptr;

// From a line or the end of standard input, or from SIGTERM, on the main thread: whatever is held
// goes back to its application before the process ends.
void stopProcedure() {
    flush();
    platform::exitProcess(0);
}

// A message that cannot be written (the parent closed its end of standard output, a full disk):
// the parent would never learn of a scan again, while scans went on being swallowed. So the
// session stops as on an orderly stop, giving back whatever is held, and says why on the one
// channel left. It may run inside the tap callback; the process ends there.
void stopOnLostMessage() {
    flush();
    std::fputs("qkscan: cannot write a message to standard output; stopping\n", stderr);
    platform::exitProcess(ioError);
}

// The session's tap, or nullptr if the system refused it. A tap refused the keyboard may still be
// made for the pointer's events, which need no permission; it would never see a key, so it counts
// as refused and is given up.
TapRef createSessionTap() {
    std::uint64_t granted = 0;
    const TapRef created = platform::createTap(mask, callback, granted);
    if (created && (granted & keyboardMask) != keyboardMask) {
        platform::removeTap(created);
        return nullptr;
    }
    return created;
}

} // namespace

void runCheck() {
    setLostMessageHandler(stopOnLostMessage);
    emit(platform::trusted() ? messages::permissionPresent : messages::permissionRequired);
    platform::exitProcess(0);
}

void runListeningSession() {
    setLostMessageHandler(stopOnLostMessage);
    if (!platform::trustedWithPrompt()) {
        emit(messages::permissionRequiredAllow);
        platform::exitProcess(permissionMissing);
    }
    createHoldBuffer();
    tap = nullptr;
    // Before the tap exists, so that the first Q does not pay for it inside the tap's callback.
    platform::prepareEventServices();
    const TapRef created = createSessionTap();
    if (!created) {
        emit(messages::permissionRequiredRestart);
        platform::exitProcess(permissionMissing);
    }
    tap = created;
    source = platform::attachTap(tap);
    // Without a run-loop source nothing would service the tap, and every keystroke would wait
    // for the system to time the tap out: as good as refused.
    if (!source) {
        emit(messages::permissionRequiredRestart);
        platform::exitProcess(permissionMissing);
    }
    platform::enableTap(tap);
    platform::addRepeatingTimer(tickInterval, staleHoldCheck);
    platform::startStopInputWatcher(stopProcedure);
    platform::handleTerminationSignal(stopProcedure);
    emit(messages::ready);
    platform::runMainLoop();
    // The loop is not meant to end; if it does, nothing withheld may be lost on the way out.
    flush();
    platform::exitProcess(0);
}

} // namespace qk
