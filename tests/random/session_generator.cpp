#include "tests/random/session_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "tests/random/session_invariants.h"

namespace qk::soak {

namespace {

std::uint64_t splitmix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t rotateLeft(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

} // namespace

Rng::Rng(std::uint64_t seed) {
    for (std::uint64_t& word : state)
        word = splitmix(seed);
}

std::uint64_t Rng::next() {
    const std::uint64_t result = rotateLeft(state[1] * 5, 7) * 9;
    const std::uint64_t shifted = state[1] << 17;
    state[2] ^= state[0];
    state[3] ^= state[1];
    state[1] ^= state[2];
    state[0] ^= state[3];
    state[2] ^= shifted;
    state[3] = rotateLeft(state[3], 45);
    return result;
}

std::uint64_t Rng::below(std::uint64_t bound) {
    // Rejects the few values that would make the low residues more likely.
    const std::uint64_t threshold = (0 - bound) % bound;
    for (;;) {
        const std::uint64_t value = next();
        if (value >= threshold) return value % bound;
    }
}

double Rng::uniform(double low, double high) {
    const double unit = static_cast<double>(next() >> 11) * 0x1.0p-53;
    return low + (high - low) * unit;
}

bool Rng::chance(double probability) {
    return uniform(0, 1) < probability;
}

std::size_t countInputs(const Scenario& scenario) {
    std::size_t inputs = 0;
    for (const Step& step : scenario.steps) {
        if (step.kind == Step::Kind::stop) break;
        inputs += step.kind == Step::Kind::input;
    }
    return inputs;
}

void renumber(Scenario& scenario) {
    for (std::size_t i = 0; i < scenario.steps.size(); ++i)
        scenario.steps[i].event.origin =
            scenario.steps[i].kind == Step::Kind::input ? static_cast<std::int64_t>(i) : -1;
}

namespace {

using KeyCode = std::int64_t;

constexpr EventFlags capsLockFlag = 0x10000;
constexpr EventFlags shiftFlag = 0x20000;
constexpr EventFlags controlFlag = 0x40000;
constexpr EventFlags optionFlag = 0x80000;
constexpr EventFlags commandFlag = 0x100000;

// macOS ANSI virtual key codes (kVK_*).
namespace keys {
constexpr KeyCode q = 12, k = 40, d = 2, a = 0, t = 17, u = 32, m = 46;
constexpr KeyCode returnKey = 36, keypadEnter = 76, tab = 48, space = 49, escape = 53;
constexpr KeyCode command = 55, shift = 56, capsLock = 57, option = 58, control = 59;
constexpr KeyCode s = 1, c = 8, v = 9, x = 7, z = 6;
} // namespace keys

constexpr std::array<KeyCode, 7> triggerLetters{keys::q, keys::k, keys::d, keys::a,
                                                keys::t, keys::u, keys::m};

// Key codes of the letters a to z.
constexpr std::array<KeyCode, 26> letterCodes{0,  11, 8,  2,  14, 3, 5,  4,  34, 38, 40, 37, 46,
                                              45, 31, 35, 12, 15, 1, 17, 32, 9,  13, 7,  16, 6};

// Words people type; many start with Q, some are the trigger's letters typed by hand.
const std::vector<std::string_view> words{
    "quit",    "query",    "queue", "quiz",   "quota", "quake", "qatar", "qk",   "qkd",  "qkda",
    "qkdatum", "qkdatumm", "date",  "mutant", "tuna",  "hello", "kadm",  "aqua", "equal"};

const std::vector<Pid> applications{501, 502, 777};

// Intervals between a scanner's keys around the 0.1 s limit, on both sides of it.
const std::vector<double> edgeIntervals{0.09,      0.095, 0.099, 0.0999999, 0.1,
                                        0.1000001, 0.101, 0.105, 0.11};

const std::vector<EventType> pointerTypes{types::leftMouseDown, types::rightMouseDown,
                                          types::otherMouseDown, types::scrollWheel};

enum class Speed {
    fast,   // a scanner: a few milliseconds a key
    steady, // a slow scanner
    edge,   // right at the 0.1 s limit
    slow,   // too slow for a trigger
    mixed,  // fast with the odd pause at the limit
};

// One event of the action being generated, ordered by time, then by when it was scheduled.
struct Timed {
    double at;
    long order;
    Step step;
    bool stray = false; // a key-up of a key that is not down, sent on purpose
};

class Session {
public:
    Session(Rng& random, const Options& chosen) : rng(random), options(chosen) {}
    Scenario build();

private:
    Rng& rng;
    const Options& options;
    Scenario scenario;
    double now = 0.3;
    Pid frontmost = 501;
    bool capsLock = false;
    std::vector<KeyCode> pressed; // keys down, as far as the person's own events tell
    std::vector<Timed> burst;     // the action being generated
    std::size_t inputs = 0;

    void schedule(double at, Step step, bool stray = false) {
        burst.push_back(Timed{at, static_cast<long>(burst.size()), step, stray});
    }
    void input(double at, EventType type, KeyCode key = 0, EventFlags flags = 0,
               std::int64_t autorepeat = 0, std::int64_t userData = 0, bool stray = false) {
        Step step;
        step.kind = Step::Kind::input;
        step.event.type = type;
        step.event.key = key;
        step.event.flags = flags | (capsLock ? capsLockFlag : 0);
        step.event.autorepeat = autorepeat;
        step.event.userData = userData;
        schedule(at, step, stray);
    }
    void press(double at, KeyCode key, EventFlags flags = 0) {
        input(at, types::keyDown, key, flags);
    }
    void release(double at, KeyCode key, EventFlags flags = 0) {
        input(at, types::keyUp, key, flags);
    }
    void tap(double at, KeyCode key, double hold, EventFlags flags = 0) {
        press(at, key, flags);
        release(at + hold, key, flags);
    }
    void modifiers(double at, KeyCode key, EventFlags flags) {
        input(at, types::flagsChanged, key, flags);
    }
    void switchTo(double at, Pid pid) {
        Step step;
        step.kind = Step::Kind::frontmost;
        step.pid = pid;
        schedule(at, step);
    }
    void failCopies(double at, int count) {
        Step step;
        step.kind = Step::Kind::failCopies;
        step.count = count;
        schedule(at, step);
    }
    Pid anotherApplication() {
        if (options.noFrontmost && rng.chance(0.2)) return 0;
        Pid pid = rng.pick(applications);
        while (pid == frontmost)
            pid = rng.pick(applications);
        return pid;
    }
    double interval(Speed speed) {
        switch (speed) {
        case Speed::fast:
            return rng.uniform(0.0005, 0.008);
        case Speed::steady:
            return rng.uniform(0.01, 0.06);
        case Speed::edge:
            return rng.pick(edgeIntervals);
        case Speed::slow:
            return rng.uniform(0.11, 0.3);
        case Speed::mixed:
            return rng.chance(0.85) ? rng.uniform(0.001, 0.01) : rng.pick(edgeIntervals);
        }
        return 0.01;
    }

    void commit();
    void action();
    double scan(double at);
    double interruption(double at);
    void scans();
    void person();
    void chord();
    void autorepeat();
    void pointer();
    void appSwitch();
    void tapDisabled();
    void markedEvents();
    void otherUserData();
    void copies();
    void flood();
    void pause();
    void addStop();
};

// Adds the action's events in time order. A key pressed again before its key-up gets the key-up
// first, and a key-up for a key that is not down is left out unless sent on purpose, so that
// every key goes down and up as on a real keyboard.
void Session::commit() {
    std::stable_sort(burst.begin(), burst.end(), [](const Timed& a, const Timed& b) {
        return a.at < b.at || (a.at == b.at && a.order < b.order);
    });
    for (Timed& timed : burst) {
        timed.at = std::max(timed.at, now);
        now = timed.at;
        Step& step = timed.step;
        step.at = timed.at;
        if (step.kind == Step::Kind::frontmost) frontmost = step.pid;
        if (step.kind == Step::Kind::input && step.event.userData != marker) {
            const sim::Event& e = step.event;
            const auto down = std::find(pressed.begin(), pressed.end(), e.key);
            if (e.type == types::keyDown && e.autorepeat == 0) {
                if (down != pressed.end()) {
                    Step up = step;
                    up.event.type = types::keyUp;
                    scenario.steps.push_back(up);
                    ++inputs;
                } else {
                    pressed.push_back(e.key);
                }
            } else if (e.type == types::keyUp) {
                if (down != pressed.end()) {
                    pressed.erase(down);
                } else if (!timed.stray) {
                    continue;
                }
            }
        }
        inputs += step.kind == Step::Kind::input;
        scenario.steps.push_back(step);
    }
    burst.clear();
}

// A scanner types the trigger code (sometimes with a key wrong, missing or extra), with Shift for
// the capitals in one of the ways scanners do it, and Return or keypad Enter. Returns the time of
// its last key-down.
double Session::scan(double at) {
    static const std::vector<Speed> speeds{Speed::fast, Speed::fast,  Speed::fast, Speed::steady,
                                           Speed::edge, Speed::mixed, Speed::slow};
    const Speed speed = rng.pick(speeds);
    std::vector<KeyCode> code(triggerLetters.begin(), triggerLetters.end());
    code.push_back(rng.chance(0.3) ? keys::keypadEnter : keys::returnKey);
    if (rng.chance(0.25)) {
        const std::size_t place = static_cast<std::size_t>(rng.below(code.size()));
        static const std::vector<KeyCode> strays{keys::q,         keys::k,   keys::m,    keys::x,
                                                 keys::returnKey, keys::tab, keys::space};
        switch (rng.below(3)) {
        case 0: // a wrong key
            code[place] = rng.pick(strays);
            break;
        case 1: // a missing key
            code.erase(code.begin() + static_cast<std::ptrdiff_t>(place));
            break;
        default: // an extra key
            code.insert(code.begin() + static_cast<std::ptrdiff_t>(place), rng.pick(strays));
            break;
        }
    }
    enum class Shift {
        none,
        whole,
        each
    } shift = static_cast<Shift>(rng.below(3));
    const bool rollover = rng.chance(0.2);
    const double lateEnterUp = rng.chance(0.3) ? rng.uniform(0.03, 0.4) : 0;
    const std::size_t interrupt =
        rng.chance(0.15) ? 1 + static_cast<std::size_t>(rng.below(code.size())) : code.size() + 1;

    double t = at;
    if (shift == Shift::whole) modifiers(t - 0.002, keys::shift, shiftFlag);
    double last = t;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const KeyCode key = code[i];
        const bool letter = key != keys::returnKey && key != keys::keypadEnter;
        const double step = interval(speed);
        if (i == interrupt) t = interruption(t);
        EventFlags flags = 0;
        if (letter && shift != Shift::none) flags = shiftFlag;
        if (!letter && shift == Shift::whole) modifiers(t - step / 2, keys::shift, 0);
        if (letter && shift == Shift::each) modifiers(t - step / 4, keys::shift, shiftFlag);
        press(t, key, flags);
        double up = t + (rollover ? step * 1.5 : step * rng.uniform(0.1, 0.6));
        if (!letter && lateEnterUp > 0) up = t + lateEnterUp;
        release(up, key, flags);
        if (letter && shift == Shift::each) modifiers(up + step / 8, keys::shift, 0);
        last = t;
        t += step;
    }
    return last;
}

// Something else happens in the middle of a scan; returns when the scan goes on.
double Session::interruption(double at) {
    switch (rng.below(9)) {
    case 0:
        input(at, rng.pick(pointerTypes));
        break;
    case 1:
        switchTo(at, anotherApplication());
        if (rng.chance(0.5)) switchTo(at + 0.001, frontmost);
        break;
    case 2:
        modifiers(at, keys::command, commandFlag);
        tap(at + 0.002, keys::s, 0.002, commandFlag);
        modifiers(at + 0.006, keys::command, 0);
        return at + 0.008;
    case 3:
        input(at, rng.chance(0.5) ? types::tapDisabledByTimeout : types::tapDisabledByUserInput);
        break;
    case 4:
        input(at, types::keyDown, rng.pick(std::vector<KeyCode>{keys::q, keys::returnKey}), 0, 0,
              marker);
        break;
    case 5:
        if (options.failedCopies) failCopies(at, 1 + static_cast<int>(rng.below(2)));
        break;
    case 6:
        input(at, types::keyDown, keys::x, 0, 1); // an autorepeated key-down
        break;
    case 7:
        return at + rng.uniform(0.1, 0.4); // a pause
    default:
        tap(at, keys::x, 0.001, controlFlag);
        break;
    }
    return at + 0.001;
}

// One scan, or two or three in a row, the next starting soon after the last one's Enter.
void Session::scans() {
    double t = now + rng.uniform(0.001, 0.2);
    const std::uint64_t count = rng.chance(0.2) ? 2 + rng.below(2) : 1;
    for (std::uint64_t i = 0; i < count; ++i)
        t = scan(t) + rng.uniform(0.0, 0.15);
}

// A person types a word at a person's pace, the first letter sometimes a capital.
void Session::person() {
    const std::string_view word = rng.pick(words);
    const double pace = rng.uniform(0.06, 0.3);
    double t = now + rng.uniform(0.01, 0.5);
    const bool capital = rng.chance(0.3);
    if (capital) modifiers(t - 0.03, keys::shift, shiftFlag);
    for (std::size_t i = 0; i < word.size(); ++i) {
        const KeyCode key = letterCodes[static_cast<std::size_t>(word[i] - 'a')];
        const EventFlags flags = capital && i == 0 ? shiftFlag : 0;
        tap(t, key, rng.uniform(0.03, 0.15), flags);
        if (capital && i == 0) modifiers(t + 0.02, keys::shift, 0);
        t += pace * rng.uniform(0.6, 1.4);
    }
    if (rng.chance(0.3)) tap(t, rng.chance(0.5) ? keys::space : keys::returnKey, 0.05);
}

// Control, Option or Command with a key, sometimes while a Q is held.
void Session::chord() {
    static const std::vector<std::pair<KeyCode, EventFlags>> chords{
        {keys::command, commandFlag}, {keys::option, optionFlag}, {keys::control, controlFlag}};
    static const std::vector<KeyCode> chordKeys{keys::q, keys::s,         keys::c,  keys::v,
                                                keys::k, keys::returnKey, keys::tab};
    double t = now + rng.uniform(0.01, 0.3);
    if (rng.chance(0.5)) {
        tap(t, keys::q, rng.uniform(0.005, 0.06));
        t += rng.uniform(0.005, 0.09);
    }
    const auto [modifier, flag] = rng.pick(chords);
    modifiers(t, modifier, flag);
    tap(t + 0.03, rng.pick(chordKeys), 0.04, flag);
    modifiers(t + 0.09, modifier, 0);
}

// A key held down long enough to repeat; often Q.
void Session::autorepeat() {
    const KeyCode key =
        rng.chance(0.4) ? keys::q : rng.pick(std::vector<KeyCode>{keys::k, keys::x});
    double t = now + rng.uniform(0.01, 0.3);
    press(t, key);
    t += rng.chance(0.5) ? rng.uniform(0.005, 0.09) : rng.uniform(0.2, 0.5);
    const std::uint64_t repeats = 1 + rng.below(6);
    for (std::uint64_t i = 0; i < repeats; ++i) {
        input(t, types::keyDown, key, 0, 1);
        t += rng.uniform(0.01, 0.05);
    }
    release(t, key);
}

// A click or a scroll, often while a Q is held, sometimes in another application.
void Session::pointer() {
    double t = now + rng.uniform(0.005, 0.3);
    if (rng.chance(0.5)) {
        press(t, keys::q);
        if (rng.chance(0.5)) release(t + 0.01, keys::q);
        t += rng.uniform(0.012, 0.13);
    }
    if (rng.chance(0.2)) switchTo(t - 0.001, anotherApplication());
    input(t, rng.pick(pointerTypes));
    if (rng.chance(0.3)) input(t + rng.uniform(0, 0.05), rng.pick(pointerTypes));
}

void Session::appSwitch() {
    double t = now + rng.uniform(0.001, 0.3);
    if (rng.chance(0.4)) {
        press(t, keys::q);
        t += rng.uniform(0.001, 0.08);
    }
    switchTo(t, anotherApplication());
}

// The system disabled the tap (and re-enables it), sometimes in the middle of a hold.
void Session::tapDisabled() {
    double t = now + rng.uniform(0.001, 0.3);
    if (rng.chance(0.4)) {
        press(t, keys::q);
        t += rng.uniform(0.001, 0.08);
    }
    input(t, rng.chance(0.5) ? types::tapDisabledByTimeout : types::tapDisabledByUserInput);
}

// Events posted by the helper itself (or carrying its marker), sometimes in the middle of a hold.
void Session::markedEvents() {
    static const std::vector<EventType> kinds{types::keyDown, types::keyUp, types::flagsChanged,
                                              types::leftMouseDown, types::scrollWheel};
    static const std::vector<KeyCode> markedKeys{keys::q, keys::k, keys::returnKey, keys::x,
                                                 keys::shift};
    double t = now + rng.uniform(0.001, 0.2);
    if (rng.chance(0.5)) {
        press(t, keys::q);
        t += rng.uniform(0.001, 0.05);
    }
    const std::uint64_t count = 1 + rng.below(3);
    for (std::uint64_t i = 0; i < count; ++i)
        input(t + 0.001 * static_cast<double>(i), rng.pick(kinds), rng.pick(markedKeys),
              rng.chance(0.3) ? shiftFlag : 0, 0, marker);
}

// Ordinary key presses whose user-data field holds something other than the marker.
void Session::otherUserData() {
    static const std::vector<std::int64_t> values{1, marker - 1, marker + 1, -marker,
                                                  0x7fffffffffffffff};
    const std::int64_t value = rng.pick(values);
    const KeyCode key = rng.chance(0.5) ? keys::q : keys::x;
    const double t = now + rng.uniform(0.001, 0.3);
    input(t, types::keyDown, key, 0, 0, value);
    input(t + 0.02, types::keyUp, key, 0, 0, value);
}

// The next copies fail, often right before a scan or a Q.
void Session::copies() {
    const double t = now + rng.uniform(0.0, 0.2);
    failCopies(t, 1 + static_cast<int>(rng.below(3)));
    if (rng.chance(0.6)) {
        commit();
        if (rng.chance(0.5)) {
            scans();
        } else {
            person();
        }
    }
}

// A Q, then a flood of modifier changes and stray key-ups faster than any person, then the rest
// of the trigger: the hold grows to its limit.
void Session::flood() {
    double t = now + rng.uniform(0.01, 0.2);
    press(t, keys::q);
    const std::uint64_t count = 90 + rng.below(26);
    for (std::uint64_t i = 0; i < count; ++i) {
        t += 0.0004;
        if (rng.chance(0.5)) {
            modifiers(t, keys::shift, i % 2 ? 0 : shiftFlag);
        } else {
            input(t, types::keyUp, keys::z, 0, 0, 0, true);
        }
    }
    for (std::size_t i = 1; i < triggerLetters.size(); ++i) {
        t += 0.002;
        tap(t, triggerLetters[i], 0.001);
    }
    tap(t + 0.002, keys::returnKey, 0.001);
}

// A pause, sometimes ending right on a tick of the stale-hold timer.
void Session::pause() {
    now += rng.chance(0.7) ? rng.uniform(0.001, 0.3) : rng.uniform(0.3, 1.5);
    if (rng.chance(0.25)) now = std::ceil(now / tick) * tick;
}

void Session::action() {
    const std::uint64_t roll = rng.below(100);
    if (roll < 28) {
        scans();
    } else if (roll < 43) {
        person();
    } else if (roll < 49) {
        chord();
    } else if (roll < 53) {
        autorepeat();
    } else if (roll < 59) {
        pointer();
    } else if (roll < 64) {
        appSwitch();
    } else if (roll < 66) {
        tapDisabled();
    } else if (roll < 69) {
        markedEvents();
    } else if (roll < 71) {
        otherUserData();
    } else if (roll < 74) {
        if (options.failedCopies) copies();
    } else if (roll < 75) {
        flood();
    } else if (roll < 76) {
        capsLock = !capsLock;
        modifiers(now + 0.05, keys::capsLock, capsLock ? capsLockFlag : 0);
    } else if (roll < 78) {
        tap(now + rng.uniform(0.001, 0.3), rng.chance(0.5) ? keys::escape : keys::returnKey, 0.05);
    } else {
        pause();
    }
    commit();
}

// The parent stops the helper at some moment, mostly in the later part of the session, with a
// line, the end of input or SIGTERM. Events after it never reach the tap.
void Session::addStop() {
    const std::size_t count = scenario.steps.size();
    const std::size_t index =
        rng.chance(0.1) ? static_cast<std::size_t>(rng.below(count + 1))
                        : count / 2 + static_cast<std::size_t>(rng.below(count - count / 2 + 1));
    Step stop;
    stop.kind = Step::Kind::stop;
    stop.stop = static_cast<StopKind>(rng.below(3));
    const double before = index > 0 ? scenario.steps[index - 1].at : 0;
    const double after = index < count ? scenario.steps[index].at : before + rng.uniform(0, 0.3);
    stop.at = before + (after - before) * rng.uniform(0, 1);
    stop.at = std::min(std::max(stop.at, before), after);
    scenario.steps.insert(scenario.steps.begin() + static_cast<std::ptrdiff_t>(index), stop);
}

Scenario Session::build() {
    frontmost = options.noFrontmost && rng.chance(0.1) ? 0 : 501;
    scenario.frontmost = frontmost;
    while (inputs < options.events)
        action();
    if (options.stops && rng.chance(0.8)) addStop();
    renumber(scenario);
    return std::move(scenario);
}

} // namespace

Scenario generateSession(std::uint64_t seed, const Options& options) {
    Rng rng(seed);
    return Session(rng, options).build();
}

} // namespace qk::soak
