#include "platform/sim/session.h"

#include <cstdio>

namespace qk {

namespace sim {
namespace {
SessionHooks hooks;
} // namespace

SessionHooks& sessionHooks() {
    return hooks;
}
void resetSessionHooks() {
    hooks = SessionHooks();
}
} // namespace sim

namespace platform {

void addRepeatingTimer(double interval, Work tick) {
    sim::hooks.tick = tick;
    sim::hooks.tickInterval = interval;
}

void startStopInputWatcher(Work stop) {
    sim::hooks.stopFromInput = stop;
}

void handleTerminationSignal(Work stop) {
    sim::hooks.stopFromSignal = stop;
}

void handleInterruptSignal(Work stop) {
    sim::hooks.stopFromInterrupt = stop;
}

void runMainLoop() {
    if (sim::hooks.mainLoop) sim::hooks.mainLoop();
}

void exitProcess(int status) {
    std::fflush(stdout);
    throw sim::ProcessExit{status};
}

} // namespace platform
} // namespace qk
