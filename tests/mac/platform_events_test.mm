// The macOS event services (platform/mac/events.mm) on real Quartz events made in this process:
// the fields, types and flags the event filter reads, the marker it writes, copies and their
// release, the clock, the frontmost process, the trust checks, and what a tap is granted. Making
// events needs no permission, and nothing here is posted; the taps made are given up at once.
#include <gtest/gtest.h>

#import <ApplicationServices/ApplicationServices.h>
#import <Foundation/Foundation.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "intercept/event_filter.h"
#include "intercept/hold_buffer.h"
#include "platform/events.h"

namespace qk {
namespace {

// The numbers the rest of the helper uses stand for these Quartz constants. Checked by the
// compiler against the SDK, so a wrong value never builds.
static_assert(types::leftMouseDown == kCGEventLeftMouseDown);
static_assert(types::rightMouseDown == kCGEventRightMouseDown);
static_assert(types::keyDown == kCGEventKeyDown);
static_assert(types::keyUp == kCGEventKeyUp);
static_assert(types::flagsChanged == kCGEventFlagsChanged);
static_assert(types::scrollWheel == kCGEventScrollWheel);
static_assert(types::otherMouseDown == kCGEventOtherMouseDown);
static_assert(types::tapDisabledByTimeout == kCGEventTapDisabledByTimeout);
static_assert(types::tapDisabledByUserInput == kCGEventTapDisabledByUserInput);
static_assert(fields::autorepeat == kCGKeyboardEventAutorepeat);
static_assert(fields::keyCode == kCGKeyboardEventKeycode);
static_assert(fields::sourceUserData == kCGEventSourceUserData);
static_assert(flags::control == kCGEventFlagMaskControl);
static_assert(flags::option == kCGEventFlagMaskAlternate);
static_assert(flags::command == kCGEventFlagMaskCommand);

// An event this test made (Create rule), released when it goes out of scope.
struct CFReleaser {
    void operator()(CGEventRef event) const { CFRelease(event); }
};
using Quartz = std::unique_ptr<std::remove_pointer_t<CGEventRef>, CFReleaser>;

EventRef handle(const Quartz& event) {
    return reinterpret_cast<EventRef>(event.get());
}
CGEventRef cg(EventRef event) {
    return reinterpret_cast<CGEventRef>(event);
}

constexpr CGKeyCode qKey = 12, wKey = 13, returnKey = 36, controlKey = 59; // kVK_*
constexpr CGEventFlags shiftMask = kCGEventFlagMaskShift;

Quartz key(CGKeyCode code, bool down) {
    return Quartz(CGEventCreateKeyboardEvent(nullptr, code, down));
}

// A modifier change as the system sends it: a keyboard event for the modifier key, of type
// kCGEventFlagsChanged, with the modifiers now down.
Quartz modifierChange(CGKeyCode code, CGEventFlags down) {
    Quartz event = key(code, true);
    if (event) {
        CGEventSetType(event.get(), kCGEventFlagsChanged);
        CGEventSetFlags(event.get(), down);
    }
    return event;
}

Quartz mouse(CGEventType type, CGMouseButton button) {
    return Quartz(CGEventCreateMouseEvent(nullptr, type, CGPointMake(40, 30), button));
}

Quartz scroll(int lines) {
    return Quartz(CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitLine, 1, lines));
}

TEST(MacEvents, KeyEventsReadBackTheirTypeAndKeyCode) {
    struct Case {
        CGKeyCode code;
        bool down;
        EventType type;
    };
    for (const Case& c : {Case{qKey, true, types::keyDown}, Case{qKey, false, types::keyUp},
                          Case{wKey, true, types::keyDown}, Case{returnKey, false, types::keyUp},
                          Case{76, true, types::keyDown}}) {
        SCOPED_TRACE(testing::Message() << "key code " << c.code << (c.down ? " down" : " up"));
        const Quartz event = key(c.code, c.down);
        ASSERT_TRUE(event);
        EXPECT_EQ(platform::eventType(handle(event)), c.type);
        EXPECT_EQ(platform::readField(handle(event), fields::keyCode), c.code);
        // Fields nobody set read as 0: a fresh key is not autorepeated and not the helper's own.
        EXPECT_EQ(platform::readField(handle(event), fields::autorepeat), 0);
        EXPECT_EQ(platform::readField(handle(event), fields::sourceUserData), 0);
    }
}

TEST(MacEvents, FieldsSetByQuartzAreReadBack) {
    const Quartz event = key(qKey, true);
    ASSERT_TRUE(event);
    CGEventSetIntegerValueField(event.get(), kCGKeyboardEventAutorepeat, 1);
    CGEventSetIntegerValueField(event.get(), kCGEventSourceUserData, -7);
    EXPECT_EQ(platform::readField(handle(event), fields::autorepeat), 1);
    EXPECT_EQ(platform::readField(handle(event), fields::sourceUserData), -7);
    EXPECT_EQ(platform::readField(handle(event), fields::keyCode), qKey);
}

// The marker uses 47 bits: it must come back whole, through the wrapper and through Quartz.
TEST(MacEvents, TheMarkerWrittenIsReadBackWhole) {
    for (const Quartz& event : {key(qKey, true), mouse(kCGEventLeftMouseDown, kCGMouseButtonLeft),
                                modifierChange(controlKey, kCGEventFlagMaskControl)}) {
        ASSERT_TRUE(event);
        platform::writeField(handle(event), fields::sourceUserData, marker);
        EXPECT_EQ(platform::readField(handle(event), fields::sourceUserData), marker);
        EXPECT_EQ(CGEventGetIntegerValueField(event.get(), kCGEventSourceUserData), marker);
    }
}

// The type of every kind of event the filter tells apart, and the command modifiers it sees. The
// flags are set on every event, so that keys held on this Mac while the test runs do not count.
TEST(MacEvents, EachKindTheFilterDistinguishesHasItsTypeAndFlags) {
    struct Case {
        const char* title;
        Quartz event;
        CGEventFlags set;
        EventType type;
        EventFlags command; // what the filter keeps of the flags
    };
    Case cases[] = {
        {"key-down", key(qKey, true), 0, types::keyDown, 0},
        {"key-down with Shift", key(qKey, true), shiftMask, types::keyDown, 0},
        {"key-down with Control", key(qKey, true), kCGEventFlagMaskControl, types::keyDown,
         flags::control},
        {"key-down with Option and Shift", key(qKey, true), kCGEventFlagMaskAlternate | shiftMask,
         types::keyDown, flags::option},
        {"key-down with Command", key(qKey, true), kCGEventFlagMaskCommand, types::keyDown,
         flags::command},
        {"key-down with Control, Option and Command", key(wKey, true),
         kCGEventFlagMaskControl | kCGEventFlagMaskAlternate | kCGEventFlagMaskCommand,
         types::keyDown, commandModifiers},
        {"key-up", key(qKey, false), shiftMask, types::keyUp, 0},
        {"Shift pressed", modifierChange(56, shiftMask), shiftMask, types::flagsChanged, 0},
        {"Shift released", modifierChange(56, 0), 0, types::flagsChanged, 0},
        {"Control pressed", modifierChange(controlKey, kCGEventFlagMaskControl),
         kCGEventFlagMaskControl, types::flagsChanged, flags::control},
        {"left mouse down", mouse(kCGEventLeftMouseDown, kCGMouseButtonLeft), 0,
         types::leftMouseDown, 0},
        {"right mouse down", mouse(kCGEventRightMouseDown, kCGMouseButtonRight), 0,
         types::rightMouseDown, 0},
        {"other mouse down", mouse(kCGEventOtherMouseDown, kCGMouseButtonCenter), 0,
         types::otherMouseDown, 0},
        {"scroll with Command", scroll(3), kCGEventFlagMaskCommand, types::scrollWheel,
         flags::command},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(c.event);
        CGEventSetFlags(c.event.get(), c.set);
        EXPECT_EQ(platform::eventType(handle(c.event)), c.type);
        const EventFlags seen = platform::eventFlags(handle(c.event));
        EXPECT_EQ(seen & commandModifiers, c.command);
        EXPECT_EQ(seen & c.set, c.set);
    }
}

TEST(MacEvents, ACopyIsIndependentOfItsOriginal) {
    const Quartz original = key(qKey, true);
    ASSERT_TRUE(original);
    CGEventSetFlags(original.get(), shiftMask);
    const OwnedEvent copy = copyEvent(handle(original));
    ASSERT_TRUE(copy);
    EXPECT_NE(cg(copy.get()), original.get());
    EXPECT_EQ(platform::eventType(copy.get()), types::keyDown);
    EXPECT_EQ(platform::readField(copy.get(), fields::keyCode), qKey);
    EXPECT_EQ(platform::eventFlags(copy.get()) & shiftMask, shiftMask);

    // Marking the copy, as a replay does, leaves the original unmarked, and the other way round.
    platform::writeField(copy.get(), fields::sourceUserData, marker);
    EXPECT_EQ(platform::readField(handle(original), fields::sourceUserData), 0);
    platform::writeField(handle(original), fields::autorepeat, 1);
    EXPECT_EQ(platform::readField(copy.get(), fields::autorepeat), 0);
    EXPECT_EQ(platform::readField(copy.get(), fields::sourceUserData), marker);
}

// The copy belongs to the caller (Create rule), and releaseEvent gives up exactly that reference.
TEST(MacEvents, ReleaseEventDropsTheCopysOneReference) {
    const Quartz original = key(wKey, false);
    ASSERT_TRUE(original);
    const EventRef copy = platform::copyEvent(handle(original));
    ASSERT_NE(copy, nullptr);
    const CFIndex owned = CFGetRetainCount(cg(copy));
    CFRetain(cg(copy)); // kept alive here, so that the count can be read after the release
    EXPECT_EQ(CFGetRetainCount(cg(copy)), owned + 1);
    platform::releaseEvent(copy);
    EXPECT_EQ(CFGetRetainCount(cg(copy)), owned);
    CFRelease(cg(copy));
    platform::releaseEvent(nullptr); // a copy that could not be made is nothing to release
}

TEST(MacEvents, UptimeIsMonotonicSecondsSinceStartLikeProcessInfo) {
    const double before = [[NSProcessInfo processInfo] systemUptime];
    const double first = platform::uptime();
    double last = first;
    for (int i = 0; i < 10000; ++i) {
        const double now = platform::uptime();
        ASSERT_GE(now, last);
        last = now;
    }
    const double after = [[NSProcessInfo processInfo] systemUptime];
    EXPECT_GT(first, 0);
    EXPECT_LE(before, first);
    EXPECT_LE(last, after);
    // Seconds, not another unit: a 50 ms sleep moves it by about 0.05.
    const double start = platform::uptime();
    usleep(50000);
    const double slept = platform::uptime() - start;
    EXPECT_GE(slept, 0.049);
    EXPECT_LT(slept, 5.0);
}

TEST(MacEvents, FrontmostProcessIsNoneOrALiveProcess) {
    const Pid pid = platform::frontmostProcess();
    RecordProperty("frontmost", pid);
    if (pid == 0) return; // no application in front, as on a runner without a desktop session
    EXPECT_GT(pid, 0);
    // Signal 0 only asks whether the process exists; EPERM means it does, owned by someone else.
    EXPECT_TRUE(kill(pid, 0) == 0 || errno == EPERM) << "pid " << pid;
}

// trusted() asks AXIsProcessTrusted, which never prompts, so the answer comes at once and the
// same every time; the prompting variant is not called here.
TEST(MacEvents, TrustedAnswersWithoutPrompting) {
    const bool answer = platform::trusted();
    EXPECT_EQ(answer, static_cast<bool>(AXIsProcessTrusted()));
    EXPECT_EQ(platform::trusted(), answer);
    RecordProperty("trusted", answer ? "yes" : "no");
}

// tapPermitted asks both permissions the tap and its replays need, without prompting. Both
// answers are recorded: where Accessibility is granted, posting should be too, or the helper would
// give up at the first tap the system times out.
TEST(MacEvents, TapPermittedNeedsAccessibilityAndPosting) {
    const bool accessibility = AXIsProcessTrusted(), posting = CGPreflightPostEventAccess();
    RecordProperty("accessibility", accessibility ? "yes" : "no");
    RecordProperty("postEvents", posting ? "yes" : "no");
    EXPECT_EQ(platform::tapPermitted(), accessibility && posting);
}

// A tap this test made, given up and released when it goes out of scope.
struct MadeTap {
    TapRef tap = nullptr;
    std::uint64_t granted = 0;
    explicit MadeTap(std::uint64_t asked) {
        tap = platform::createTap(
            asked, [](EventType, EventRef) { return Verdict::pass; }, granted);
    }
    ~MadeTap() {
        if (!tap) return;
        platform::removeTap(tap);
        CFRelease(reinterpret_cast<CFMachPortRef>(tap));
    }
    MadeTap(const MadeTap&) = delete;
    MadeTap& operator=(const MadeTap&) = delete;
};

constexpr std::uint64_t pointerMask =
    (1ULL << types::leftMouseDown) | (1ULL << types::rightMouseDown) |
    (1ULL << types::scrollWheel) | (1ULL << types::otherMouseDown);
constexpr std::uint64_t keyMask = (1ULL << types::keyDown) | (1ULL << types::keyUp);

// The pointer's events need no permission, so such a tap is made on every Mac, and the system's
// list of taps reports its mask, without the keyboard's. The tap is given up at once, before
// anything is clicked.
TEST(MacEvents, ATapForThePointerIsGrantedWhatItAskedFor) {
    const MadeTap made(pointerMask);
    ASSERT_NE(made.tap, nullptr);
    EXPECT_EQ(made.granted & pointerMask, pointerMask) << made.granted;
    EXPECT_EQ(made.granted & keyMask, 0u) << made.granted;
}

// The system lists a new tap at once, with the types it got: what tells the helper that a tap was
// refused the keyboard. (Were it not listed, the helper would take the tap as made, as it did
// before it asked the list, and this test would show that the check does nothing on this Mac.)
TEST(MacEvents, ANewTapIsListedAtOnceWithItsEvents) {
    const MadeTap made(pointerMask);
    ASSERT_NE(made.tap, nullptr);
    std::uint32_t count = 0;
    ASSERT_EQ(CGGetEventTapList(0, nullptr, &count), kCGErrorSuccess);
    std::vector<CGEventTapInformation> taps(count + 16);
    ASSERT_EQ(CGGetEventTapList(static_cast<std::uint32_t>(taps.size()), taps.data(), &count),
              kCGErrorSuccess);
    taps.resize(std::min<std::size_t>(count, taps.size()));
    const auto own = std::find_if(taps.begin(), taps.end(), [](const CGEventTapInformation& tap) {
        return tap.tappingProcess == getpid() && tap.options == kCGEventTapOptionDefault &&
               tap.tapPoint == kCGSessionEventTap;
    });
    ASSERT_NE(own, taps.end()) << "the new tap is not in the system's list of taps";
    EXPECT_EQ(own->eventsOfInterest & pointerMask, pointerMask) << own->eventsOfInterest;
    EXPECT_EQ(own->eventsOfInterest & keyMask, 0u) << own->eventsOfInterest;
}

// The helper's own mask: where this process may not tap the keyboard, the system still makes the
// tap, for the pointer alone, and the granted mask shows it. This is the tap the session refuses.
TEST(MacEvents, TheGrantedMaskShowsWhetherTheKeyboardWasRefused) {
    const MadeTap made(mask);
    RecordProperty("granted", std::to_string(made.granted));
    ASSERT_NE(made.tap, nullptr) << "the pointer's events need no permission";
    EXPECT_EQ(made.granted & pointerMask, pointerMask);
    if (!AXIsProcessTrusted()) EXPECT_EQ(made.granted & keyMask, 0u) << made.granted;
}

// removeTap ends the tap for good: disabled, and its port (with its run-loop source) invalid.
TEST(MacEvents, ARemovedTapIsDisabledAndInvalid) {
    const MadeTap made(pointerMask);
    ASSERT_NE(made.tap, nullptr);
    const CFMachPortRef port = reinterpret_cast<CFMachPortRef>(made.tap);
    EXPECT_TRUE(CGEventTapIsEnabled(port));
    const SourceRef source = platform::attachTap(made.tap);
    ASSERT_NE(source, nullptr);
    const CFRunLoopSourceRef loopSource = reinterpret_cast<CFRunLoopSourceRef>(source);
    EXPECT_TRUE(CFRunLoopSourceIsValid(loopSource));
    platform::removeTap(made.tap);
    EXPECT_FALSE(CGEventTapIsEnabled(port));
    EXPECT_FALSE(CFMachPortIsValid(port));
    EXPECT_FALSE(CFRunLoopSourceIsValid(loopSource));
    EXPECT_FALSE(CFRunLoopContainsSource(CFRunLoopGetCurrent(), loopSource, kCFRunLoopCommonModes));
    CFRelease(loopSource);
}

// The filter on real events, on the paths that post nothing: an ordinary key and the helper's
// own event pass, and a Q is held as a real copy that clear() releases unposted.
TEST(MacEvents, TheFilterHoldsAndPassesRealEvents) {
    createHoldBuffer();
    const Quartz w = key(wKey, true);
    const Quartz q = key(qKey, true);
    const Quartz marked = key(qKey, true);
    ASSERT_TRUE(w && q && marked);
    for (const Quartz* event : {&w, &q, &marked})
        CGEventSetFlags(event->get(), 0);
    platform::writeField(handle(marked), fields::sourceUserData, marker);

    EXPECT_EQ(callback(types::keyDown, handle(w)), Verdict::pass);
    EXPECT_EQ(callback(types::keyDown, handle(marked)), Verdict::pass);
    EXPECT_TRUE(held.empty());

    EXPECT_EQ(callback(types::keyDown, handle(q)), Verdict::drop);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_NE(cg(held.front().get()), q.get());
    EXPECT_EQ(platform::readField(held.front().get(), fields::keyCode), qKey);
    EXPECT_EQ(heldPID, platform::frontmostProcess());
    clear();
    EXPECT_TRUE(held.empty());
    EXPECT_FALSE(holding());
}

} // namespace
} // namespace qk
