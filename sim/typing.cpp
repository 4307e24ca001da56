#include "sim/typing.h"

#include <algorithm>
#include <cmath>

#include "sim/key_names.h"
#include "json/text.h"

namespace qk {

namespace {

// The key that types `c` and whether it needs Shift; false for a character that cannot be typed.
bool keyFor(char c, KeyCode& key, bool& shifted) {
    shifted = c >= 'A' && c <= 'Z';
    std::string name;
    if (shifted || (c >= '0' && c <= '9')) {
        name = std::string(1, c);
    } else if (c >= 'a' && c <= 'z') {
        name = std::string(1, static_cast<char>(c - 'a' + 'A'));
    } else if (c == ' ') {
        name = "Space";
    } else if (c == '\t') {
        name = "Tab";
    } else if (c == '\n') {
        name = "Return";
    }
    const auto code = keyCodeOf(name);
    if (!code) return false;
    key = *code;
    return true;
}

// The character starting at `text[i]`, a whole UTF-8 sequence, for the error message.
std::string characterAt(const std::string& text, std::size_t i) {
    std::size_t end = i + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        ++end;
    std::string quoted;
    if (!appendJsonString(quoted, text.substr(i, end - i))) quoted = "\"?\"";
    return quoted;
}

double roundedTime(double at, double offset) {
    return std::max(at, std::round((at + offset) * 1e6) / 1e6);
}

Step keyStep(double at, EventType type, KeyCode key, EventFlags flags) {
    Step step;
    step.at = at;
    step.kind = Step::Kind::input;
    step.event.type = type;
    step.event.key = key;
    step.event.flags = flags;
    return step;
}

// The steps that type `text`: two for each character, four with Shift. False, with one line in
// `error`, at a character that cannot be typed.
bool countSteps(const std::string& text, std::size_t& count, std::string& error) {
    count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        KeyCode key = 0;
        bool shifted = false;
        if (!keyFor(text[i], key, shifted)) {
            error = "\"text\" cannot type " + characterAt(text, i) +
                    " (letters, digits, space, tab and line break only)";
            return false;
        }
        count += shifted ? 4 : 2;
    }
    return true;
}

// Appends the steps that type `typing.text`, which countSteps has found typeable.
void appendKeys(const Typing& typing, double at, std::vector<Step>& steps) {
    const std::size_t first = steps.size();
    for (std::size_t i = 0; i < typing.text.size(); ++i) {
        KeyCode key = 0;
        bool shifted = false;
        keyFor(typing.text[i], key, shifted);
        const auto offset = static_cast<double>(i) * typing.interval;
        const double down = roundedTime(at, offset);
        const double up = roundedTime(at, offset + typing.interval / 2);
        const EventFlags flags = shifted ? shiftFlag : 0;
        if (shifted) steps.push_back(keyStep(down, types::flagsChanged, shiftKey, shiftFlag));
        steps.push_back(keyStep(down, types::keyDown, key, flags));
        steps.push_back(keyStep(up, types::keyUp, key, flags));
        if (shifted) steps.push_back(keyStep(up, types::flagsChanged, shiftKey, 0));
    }
    // Each typed step is numbered by its place among all the scenario's steps.
    for (std::size_t k = first; k < steps.size(); ++k)
        steps[k].event.origin = static_cast<std::int64_t>(k);
}

} // namespace

bool appendTyping(const Typing& typing, double at, double maxTime, std::size_t maxSteps,
                  std::vector<Step>& steps, std::string& error) {
    if (!(typing.interval >= 0 && typing.interval <= maxTime)) {
        error = "\"interval\" is out of range";
        return false;
    }
    // Everything is checked before a step is made, so that a text too long to type costs no
    // memory beyond its own.
    std::size_t count = 0;
    if (!countSteps(typing.text, count, error)) return false;
    if (count > maxSteps - std::min(steps.size(), maxSteps)) {
        error = "\"text\" types " + std::to_string(count) +
                " steps, more than a scenario may have (" + std::to_string(maxSteps) + " in all)";
        return false;
    }
    const std::size_t last = typing.text.empty() ? 0 : typing.text.size() - 1;
    if (roundedTime(at, static_cast<double>(last) * typing.interval + typing.interval / 2) >
        maxTime) {
        error = "\"text\" goes on past the latest time a step may have";
        return false;
    }
    steps.reserve(steps.size() + count);
    appendKeys(typing, at, steps);
    return true;
}

} // namespace qk
