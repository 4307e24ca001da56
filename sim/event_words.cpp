#include "sim/event_words.h"

#include "intercept/hold_buffer.h"
#include "sim/key_names.h"

namespace qk {

namespace {

std::string keyWord(KeyCode key) {
    const std::string_view name = nameOfKey(key);
    return name.empty() ? "key " + std::to_string(key) : std::string(name);
}

// The command modifiers held with a key, which are what make the filter let a key pass or end a
// hold; Shift and Caps Lock change nothing there and are left out.
std::string commandPrefix(EventFlags eventFlags) {
    std::string prefix;
    if (eventFlags & flags::control) prefix += "Control+";
    if (eventFlags & flags::option) prefix += "Option+";
    if (eventFlags & flags::command) prefix += "Command+";
    return prefix;
}

std::string modifierChange(const sim::Event& event) {
    const EventFlags flag = modifierFlag(event.key);
    if (flag == 0) return keyWord(event.key) + " modifiers change";
    const bool set = (event.flags & flag) != 0;
    if (event.key == capsLockKey) return set ? "CapsLock on" : "CapsLock off";
    return keyWord(event.key) + (set ? " down" : " up");
}

std::string eventWords(const sim::Event& event) {
    switch (event.type) {
    case types::keyDown:
    case types::keyUp:
        return commandPrefix(event.flags) + keyWord(event.key) +
               (event.type == types::keyDown ? " down" : " up") +
               (event.autorepeat != 0 ? " (repeat)" : "");
    case types::flagsChanged:
        return modifierChange(event);
    case types::leftMouseDown:
        return "left click";
    case types::rightMouseDown:
        return "right click";
    case types::otherMouseDown:
        return "other click";
    case types::scrollWheel:
        return "scroll";
    case types::tapDisabledByTimeout:
        return "tap disabled (timeout)";
    case types::tapDisabledByUserInput:
        return "tap disabled (user input)";
    default:
        return "event of type " + std::to_string(event.type);
    }
}

} // namespace

std::string describeEvent(const sim::Event& event) {
    std::string words = eventWords(event);
    if (event.userData == marker) words += " (marked)";
    return words;
}

std::string describeWorldStep(const Step& step) {
    switch (step.kind) {
    case Step::Kind::frontmost:
        return step.pid == 0 ? "no application in front"
                             : "application " + std::to_string(step.pid) + " comes to the front";
    case Step::Kind::failCopies:
        if (step.count == 0) return "event copies work again";
        if (step.count == 1) return "the next event copy fails";
        return "the next " + std::to_string(step.count) + " event copies fail";
    case Step::Kind::trusted:
        return step.trusted ? "the permissions are given back" : "the permissions are taken away";
    case Step::Kind::stop:
        if (step.stop == StopKind::line) return "parent writes a line";
        if (step.stop == StopKind::eof) return implicitStopWords;
        return "parent sends SIGTERM";
    case Step::Kind::input:
        break;
    }
    return describeEvent(step.event);
}

} // namespace qk
