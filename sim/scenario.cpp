#include "sim/scenario.h"

#include <algorithm>
#include <string>

#include "sim/scenario_values.h"
#include "sim/typing.h"
#include "json/input.h"

namespace qk {

namespace {

using namespace simdjson;
using namespace scenario;

// The members of a "text" step go together, and only with it.
bool checkTyping(const Typing& typing, bool eventMembers, Problem& problem) {
    if (!typing.requested && (typing.haveText || typing.haveInterval))
        return problem.set("\"text\" and \"interval\" belong to steps of type \"text\"");
    if (typing.requested && !(typing.haveText && typing.haveInterval))
        return problem.set("a \"text\" step needs \"text\" and \"interval\"");
    if (typing.requested && eventMembers)
        return problem.set("a \"text\" step types its own keys: no \"key\", \"flags\", "
                           "\"autorepeat\" or \"userData\"");
    return true;
}

// Reads the members of one step. `needAt` is false for the lines of an input channel; `typing`
// collects a "text" step's members, and is null where such steps are not allowed.
bool readStepObject(ondemand::object object, bool needAt, Step& step, Problem& problem,
                    Typing* typing = nullptr) {
    bool haveAt = false, haveType = false;
    int kinds = 0;
    bool eventMembers = false;
    Members members;
    for (auto field : object) {
        std::string_view name;
        ondemand::value value;
        if (!readMember(field, members, name, value, problem)) return false;
        std::int64_t number = 0;
        if (name == "at") {
            if (auto code = value.get_double().get(step.at))
                return problem.set("\"at\" is not a usable number", code);
            if (!(step.at >= 0 && step.at <= maxTime))
                return problem.set("\"at\" is not between 0 and 1e9 seconds");
            haveAt = true;
        } else if (name == "type") {
            std::string_view type;
            if (auto code = value.get_string().get(type))
                return problem.set("\"type\" is not a string", code);
            step.event.type = typeFromName(type);
            if (type == "text" && !typing)
                return problem.set("a \"text\" step is not allowed here");
            if (type == "text") {
                typing->requested = true;
            } else if (step.event.type == 0) {
                return problem.set("unknown \"type\"");
            }
            step.kind = Step::Kind::input;
            haveType = true;
            ++kinds;
        } else if (name == "key") {
            if (!readKey(value, step.event.key, problem)) return false;
            eventMembers = true;
        } else if (name == "flags") {
            if (!readFlags(value, step.event.flags, problem)) return false;
            eventMembers = true;
        } else if (name == "autorepeat") {
            if (!readInteger(value, name, int64Min, int64Max, step.event.autorepeat, problem))
                return false;
            eventMembers = true;
        } else if (name == "userData") {
            if (!readInteger(value, name, int64Min, int64Max, step.event.userData, problem))
                return false;
            eventMembers = true;
        } else if (name == "frontmost") {
            if (!readInteger(value, name, 0, pidMax, number, problem)) return false;
            step.pid = static_cast<Pid>(number);
            step.kind = Step::Kind::frontmost;
            ++kinds;
        } else if (name == "failCopies") {
            if (!readInteger(value, name, 0, std::numeric_limits<int>::max(), number, problem))
                return false;
            step.count = static_cast<int>(number);
            step.kind = Step::Kind::failCopies;
            ++kinds;
        } else if (name == "trusted") {
            if (!readBool(value, name, step.trusted, problem)) return false;
            step.kind = Step::Kind::trusted;
            ++kinds;
        } else if (name == "stop") {
            std::string_view stop;
            if (auto code = value.get_string().get(stop))
                return problem.set("\"stop\" is not a string", code);
            if (stop == "line") {
                step.stop = StopKind::line;
            } else if (stop == "eof") {
                step.stop = StopKind::eof;
            } else if (stop == "sigterm") {
                step.stop = StopKind::sigterm;
            } else {
                return problem.set("\"stop\" is not \"line\", \"eof\" or \"sigterm\"");
            }
            step.kind = Step::Kind::stop;
            ++kinds;
        } else if (name == "note") {
            if (auto code = skipCheckedValue(value)) return problem.set("malformed \"note\"", code);
        } else if (typing && name == "text") {
            std::string_view text;
            if (auto code = value.get_string().get(text))
                return problem.set("\"text\" is not a string", code);
            typing->text = text;
            typing->haveText = true;
        } else if (typing && name == "interval") {
            if (auto code = value.get_double().get(typing->interval))
                return problem.set("\"interval\" is not a usable number", code);
            typing->haveInterval = true;
        } else {
            return problem.set("unknown member " + quoted(name, ""));
        }
    }
    if (typing && !checkTyping(*typing, eventMembers, problem)) return false;
    if (needAt && !haveAt) return problem.set("the step has no \"at\"");
    if (kinds != 1)
        return problem.set("a step needs exactly one of \"type\", \"frontmost\", \"failCopies\", "
                           "\"trusted\", \"stop\"");
    if (eventMembers && !haveType)
        return problem.set("\"key\", \"flags\", \"autorepeat\" and \"userData\" belong to input "
                           "events");
    return true;
}

bool readSteps(ondemand::value value, Scenario& scenario, Problem& problem) {
    ondemand::array steps;
    if (auto code = value.get_array().get(steps))
        return problem.set("\"steps\" is not an array", code);
    // Errors count the steps as written; a "text" step becomes the several steps it types.
    std::size_t position = 0;
    double latest = 0; // the time of the step before, or of the last key-up it typed
    for (auto element : steps) {
        const std::size_t index = scenario.steps.size();
        problem.where = "step " + std::to_string(position++) + ": ";
        ondemand::object object;
        if (auto code = element.get_object().get(object))
            return problem.set("a step is not an object", code);
        Step step;
        step.event.origin = static_cast<std::int64_t>(index);
        Typing typing;
        if (!readStepObject(object, true, step, problem, &typing)) return false;
        if (step.at < latest) return problem.set("\"at\" goes back in time");
        std::string error;
        if (typing.requested &&
            !appendTyping(typing, step.at, maxTime, maxSteps, scenario.steps, error))
            return problem.set(error);
        if (!typing.requested) scenario.steps.push_back(step);
        // A text that types nothing still takes place at its time.
        latest = std::max(step.at, scenario.steps.empty() ? 0 : scenario.steps.back().at);
    }
    problem.where.clear();
    return true;
}

bool readMembers(ondemand::document& document, padded_string_view json, Scenario& scenario,
                 Problem& problem) {
    ondemand::object object;
    if (auto code = document.get_object().get(object)) {
        const std::string_view why = whyTopLevelRefused({json.data(), json.size()}, '{');
        if (!why.empty()) return problem.set(why);
        return problem.set("the scenario is not an object", code);
    }
    Members members;
    for (auto field : object) {
        std::string_view name;
        ondemand::value value;
        if (!readMember(field, members, name, value, problem)) return false;
        std::int64_t number = 0;
        if (name == "trusted") {
            if (!readBool(value, name, scenario.trusted, problem)) return false;
        } else if (name == "tap") {
            if (!readBool(value, name, scenario.tap, problem)) return false;
        } else if (name == "tapKeys") {
            if (!readBool(value, name, scenario.tapKeys, problem)) return false;
        } else if (name == "source") {
            if (!readBool(value, name, scenario.source, problem)) return false;
        } else if (name == "frontmost") {
            if (!readInteger(value, name, 0, pidMax, number, problem)) return false;
            scenario.frontmost = static_cast<Pid>(number);
        } else if (name == "steps") {
            if (!readSteps(value, scenario, problem)) return false;
        } else if (name == "note") {
            if (auto code = skipCheckedValue(value)) return problem.set("malformed \"note\"", code);
        } else {
            return problem.set("unknown member " + quoted(name, ""));
        }
    }
    if (!atEnd(document)) return problem.set("unexpected content after the document");
    return true;
}

// A document cut short fails at a step or member past its end, which does not exist: this says
// what happened instead.
bool reportUnclosed(std::string_view json, Problem& problem) {
    if (topLevelUnclosed(json, '{')) {
        problem.where.clear();
        problem.set(unclosedWords);
    }
    return false;
}

bool readDocument(padded_string_view json, Scenario& scenario, Problem& problem) {
    const std::string_view bom = byteOrderMarkRefused({json.data(), json.size()});
    if (!bom.empty()) return problem.set(bom);
    ondemand::parser parser;
    ondemand::document document;
    if (auto code = parser.iterate(json).get(document))
        return problem.set("not a JSON document", code);
    return readMembers(document, json, scenario, problem) ||
           reportUnclosed({json.data(), json.size()}, problem);
}

} // namespace

bool readScenario(std::string& json, Scenario& scenario, std::string& error) {
    scenario = Scenario();
    Problem problem;
    if (readDocument(padForJson(json), scenario, problem)) return true;
    error = problem.text;
    scenario = Scenario();
    return false;
}

bool readStep(std::string& json, Step& step, std::string& error) {
    step = Step();
    Problem problem;
    ondemand::parser parser;
    ondemand::document document;
    ondemand::object object;
    bool ok = false;
    if (const std::string_view bom = byteOrderMarkRefused(json); !bom.empty()) {
        problem.set(bom);
    } else if (auto code = parser.iterate(padForJson(json)).get(document)) {
        problem.set("not a JSON document", code);
    } else if (auto code2 = document.get_object().get(object)) {
        const std::string_view why = whyTopLevelRefused(json, '{');
        if (why.empty()) {
            problem.set("the step is not an object", code2);
        } else {
            problem.set(why);
        }
    } else if (readStepObject(object, false, step, problem)) {
        ok = atEnd(document) || problem.set("unexpected content after the step");
    } else {
        reportUnclosed(json, problem);
    }
    if (!ok) error = problem.text;
    return ok;
}

bool changeWorld(const Step& step) {
    switch (step.kind) {
    case Step::Kind::frontmost:
        sim::world().frontmost = step.pid;
        return true;
    case Step::Kind::failCopies:
        sim::world().failCopies = step.count;
        return true;
    case Step::Kind::trusted:
        sim::world().trusted = step.trusted;
        return true;
    default:
        return false;
    }
}

} // namespace qk
