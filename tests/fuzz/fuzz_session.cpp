// Fuzzes the listening session: the bytes are decoded into a session of key events, clicks,
// application switches, disabled taps, marked events, failing copies and stops, which runs
// through the session simulator; its transcript must keep every promise (tests/random/README.md)
// and no event copy may be left unreleased.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "sim/scenario.h"
#include "sim/simulator.h"
#include "tests/random/session_generator.h"
#include "tests/random/session_invariants.h"

namespace {

using KeyCode = std::int64_t;
using qk::EventFlags;
using qk::EventType;
using qk::Pid;
using qk::Scenario;
using qk::Step;

constexpr EventFlags shiftFlag = 0x20000;
constexpr EventFlags capsLockFlag = 0x10000;

// The pause before a step; the last one waits for the next tick of the stale-hold timer.
constexpr std::array<double, 16> pauses{0,         0.0005, 0.002,     0.005, 0.01, 0.02, 0.05, 0.09,
                                        0.0999999, 0.1,    0.1000001, 0.11,  0.15, 0.3,  1.0,  -1};
// The trigger's keys, Return, keypad Enter, and some others.
constexpr std::array<KeyCode, 16> keys{12, 40, 2, 0, 17, 32, 46, 36, 76, 7, 14, 34, 49, 53, 31, 1};
constexpr std::array<EventFlags, 8> modifierFlags{0,       shiftFlag, capsLockFlag, 0x100000,
                                                  0x80000, 0x40000,   0x120000,     0x30000};
constexpr std::array<EventType, 4> pointers{qk::types::leftMouseDown, qk::types::rightMouseDown,
                                            qk::types::otherMouseDown, qk::types::scrollWheel};
constexpr std::array<Pid, 4> processes{0, 501, 502, 777};
constexpr std::array<std::int64_t, 4> otherUserData{1, qk::soak::marker - 1, qk::soak::marker + 1,
                                                    -qk::soak::marker};

// Turns bytes into a session: one header byte, then two bytes a step. A step's first byte picks
// the pause before it (high half) and what happens (low half); the second picks the key, flags,
// process or count (for a whole scan: the interval between its keys, from the same table as the
// pauses). Keys go down and up as on a keyboard: a key that is down comes up.
class Decoder {
public:
    Scenario decode(const std::uint8_t* data, std::size_t size) {
        if (size == 0) return scenario;
        scenario.frontmost = processes[data[0] & 3];
        scenario.tap = data[0] != 0xFF;
        scenario.trusted = data[0] != 0xFE;
        scenario.source = data[0] != 0xFD;
        for (std::size_t i = 1; i + 1 < size; i += 2)
            step(data[i], data[i + 1]);
        qk::soak::renumber(scenario);
        return std::move(scenario);
    }

private:
    Scenario scenario;
    double now = 0.05;
    std::vector<KeyCode> pressed;

    void add(Step step) {
        step.at = now;
        scenario.steps.push_back(step);
    }
    void input(EventType type, KeyCode key = 0, EventFlags flags = 0, std::int64_t autorepeat = 0,
               std::int64_t userData = 0) {
        Step step;
        step.event.type = type;
        step.event.key = key;
        step.event.flags = flags;
        step.event.autorepeat = autorepeat;
        step.event.userData = userData;
        add(step);
    }
    // Presses `key`, or releases it if it is down.
    void key(KeyCode key, EventFlags flags, std::int64_t userData = 0) {
        for (auto down = pressed.begin(); down != pressed.end(); ++down) {
            if (*down != key) continue;
            pressed.erase(down);
            input(qk::types::keyUp, key, flags, 0, userData);
            return;
        }
        pressed.push_back(key);
        input(qk::types::keyDown, key, flags, 0, userData);
    }
    void scan(double interval, bool keypad, EventFlags flags) {
        for (std::size_t i = 0; i < 8; ++i) {
            const KeyCode code = i < 7 ? keys[i] : keypad ? 76 : 36;
            key(code, flags);
            now += interval / 2;
            key(code, flags);
            now += interval / 2;
        }
    }
    void step(std::uint8_t what, std::uint8_t detail) {
        const double pause = pauses[what >> 4];
        now = pause < 0 ? std::ceil(now / qk::soak::tick) * qk::soak::tick : now + pause;
        const EventFlags flags =
            ((detail & 0x10) ? shiftFlag : 0) | ((detail & 0x20) ? capsLockFlag : 0);
        switch (what & 15) {
        case 5: {
            const double interval = pauses[detail & 15];
            scan(interval > 0 ? interval : 0.003, (detail & 0x40) != 0, flags);
            break;
        }
        case 6:
            input(qk::types::keyDown, keys[detail & 15], flags, 1);
            break;
        case 7:
            input(qk::types::flagsChanged, (detail & 0x80) ? 55 : 56, modifierFlags[detail & 7]);
            break;
        case 8:
            key(keys[detail & 15], modifierFlags[3 + (detail >> 4) % 5]);
            break;
        case 9:
            input(pointers[detail & 3]);
            break;
        case 10: {
            Step step;
            step.kind = Step::Kind::frontmost;
            step.pid = processes[detail & 3];
            add(step);
            break;
        }
        case 11:
            input((detail & 1) ? qk::types::tapDisabledByTimeout
                               : qk::types::tapDisabledByUserInput);
            break;
        case 12: {
            static constexpr std::array<EventType, 4> marked{qk::types::keyDown, qk::types::keyUp,
                                                             qk::types::flagsChanged,
                                                             qk::types::leftMouseDown};
            input(marked[detail & 3], keys[detail >> 4], flags, 0, qk::soak::marker);
            break;
        }
        case 13: {
            Step step;
            step.kind = Step::Kind::failCopies;
            step.count = 1 + detail % 3;
            add(step);
            break;
        }
        case 14: {
            Step step;
            step.kind = Step::Kind::stop;
            step.stop = static_cast<qk::StopKind>(detail % 3);
            add(step);
            break;
        }
        case 15:
            key(keys[detail & 15], flags, otherUserData[detail >> 6]);
            break;
        default:
            key(keys[detail & 15], flags);
            break;
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Scenario scenario = Decoder().decode(data, size);
    const std::vector<qk::Entry> transcript = qk::simulate(scenario);
    const std::vector<qk::soak::Violation> violations =
        qk::soak::checkSession(scenario, transcript);
    const long leaked = qk::sim::world().liveCopies;
    if (violations.empty() && leaked == 0) return 0;
    std::fprintf(stderr, "%s%ld event copies never released\nthe session:\n%s",
                 qk::soak::describe(violations).c_str(), leaked,
                 qk::formatScenario(scenario).c_str());
    std::abort();
}
