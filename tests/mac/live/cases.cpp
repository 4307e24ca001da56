#include "tests/mac/live/cases.h"

#include <cstdint>

#include <simdjson.h>

namespace qk::live {

namespace {

using simdjson::SUCCESS;
using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

std::string stringOf(element value) {
    std::string_view text;
    return value.get_string().get(text) == SUCCESS ? std::string(text) : std::string();
}

// One step object: exactly one member names its kind; "speed", "count" and "interval" qualify it.
// A member this driver does not know is reported in `unknown` rather than refused, so that the
// table can grow steps for other hosts.
bool readStep(element value, Step& step, std::string& unknown) {
    object members;
    if (value.get_object().get(members) != SUCCESS) return false;
    int kinds = 0;
    for (const auto member : members) {
        const std::string_view name = member.key;
        if (name == "type") {
            step.kind = Step::Kind::type;
            step.text = stringOf(member.value);
        } else if (name == "click" || name == "front") {
            step.kind = name == "click" ? Step::Kind::click : Step::Kind::front;
            step.window = stringOf(member.value);
        } else if (name == "chord") {
            step.kind = Step::Kind::chord;
            array keys;
            if (member.value.get_array().get(keys) != SUCCESS) return false;
            for (const element key : keys)
                step.keys.push_back(stringOf(key));
        } else if (name == "repeat") {
            step.kind = Step::Kind::repeat;
            step.text = stringOf(member.value);
        } else if (name == "stop") {
            step.kind = Step::Kind::stop;
            step.text = stringOf(member.value);
        } else if (name == "suspend") {
            step.kind = Step::Kind::suspend;
            if (member.value.get_double().get(step.seconds) != SUCCESS) return false;
        } else if (name == "await") {
            step.kind = Step::Kind::await;
            step.text = stringOf(member.value);
        } else if (name == "speed") {
            step.speed = stringOf(member.value);
            continue;
        } else if (name == "count") {
            std::int64_t count = 0;
            if (member.value.get_int64().get(count) != SUCCESS) return false;
            step.count = static_cast<int>(count);
            continue;
        } else if (name == "interval") {
            if (member.value.get_double().get(step.interval) != SUCCESS) return false;
            continue;
        } else {
            unknown = "its step \"" + std::string(name) + "\" is not known here";
            continue;
        }
        ++kinds;
    }
    return kinds == 1 || !unknown.empty();
}

bool readCase(element value, Case& out, std::string& error) {
    object members;
    if (value.get_object().get(members) != SUCCESS) {
        error = "a case is not an object";
        return false;
    }
    for (const auto member : members) {
        const std::string_view name = member.key;
        if (name == "name") {
            out.name = stringOf(member.value);
        } else if (name == "about") {
            out.about = stringOf(member.value);
        } else if (name == "keyFocus") {
            out.keyFocus = stringOf(member.value);
        } else if (name == "input") {
            out.noInput = stringOf(member.value) == "none";
            if (!out.noInput && out.cannotRun.empty())
                out.cannotRun = "its input \"" + stringOf(member.value) + "\" is not known here";
        } else if (name == "hosts") {
            array hosts;
            if (member.value.get_array().get(hosts) != SUCCESS) {
                error = "\"hosts\" is not an array";
                return false;
            }
            for (const element host : hosts)
                out.hosts.push_back(stringOf(host));
        } else if (name == "steps") {
            array steps;
            if (member.value.get_array().get(steps) != SUCCESS) {
                error = "\"steps\" is not an array";
                return false;
            }
            for (const element step : steps) {
                Step& read = out.steps.emplace_back();
                std::string unknown;
                if (!readStep(step, read, unknown)) {
                    error = "a step of case \"" + out.name + "\" is malformed";
                    return false;
                }
                if (out.cannotRun.empty()) out.cannotRun = unknown;
            }
        } else if (name == "received") {
            object windows;
            if (member.value.get_object().get(windows) != SUCCESS) {
                error = "\"received\" is not an object";
                return false;
            }
            for (const auto window : windows)
                out.received[std::string(window.key)] = stringOf(window.value);
        } else if (name == "lines") {
            array lines;
            if (member.value.get_array().get(lines) != SUCCESS) {
                error = "\"lines\" is not an array";
                return false;
            }
            for (const element line : lines)
                out.lines.push_back(stringOf(line));
        } else if (out.cannotRun.empty()) {
            out.cannotRun = "its member \"" + std::string(name) + "\" is not known here";
        }
    }
    if (out.name.empty()) {
        error = "a case has no name";
        return false;
    }
    return true;
}

} // namespace

bool readCases(const std::string& path, std::vector<Case>& cases, std::string& error) {
    simdjson::dom::parser parser;
    element table;
    if (parser.load(path).get(table) != SUCCESS) {
        error = "cannot read " + path + " as JSON";
        return false;
    }
    array entries;
    if (table["cases"].get_array().get(entries) != SUCCESS) {
        error = path + " has no \"cases\" array";
        return false;
    }
    for (const element entry : entries) {
        Case read;
        if (!readCase(entry, read, error)) {
            error = path + ": " + error;
            return false;
        }
        cases.push_back(std::move(read));
    }
    return true;
}

} // namespace qk::live
