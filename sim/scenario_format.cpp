// Event type names as scenarios write them, and scenarios written back as documents.
#include "sim/scenario.h"

#include <array>
#include <string>

#include "json/text.h"

namespace qk {

namespace {

struct TypeName {
    EventType type;
    std::string_view name;
};

constexpr std::array<TypeName, 9> typeNames{{
    {types::keyDown, "keyDown"},
    {types::keyUp, "keyUp"},
    {types::flagsChanged, "flagsChanged"},
    {types::leftMouseDown, "leftMouseDown"},
    {types::rightMouseDown, "rightMouseDown"},
    {types::otherMouseDown, "otherMouseDown"},
    {types::scrollWheel, "scrollWheel"},
    {types::tapDisabledByTimeout, "tapDisabledByTimeout"},
    {types::tapDisabledByUserInput, "tapDisabledByUserInput"},
}};

} // namespace

std::string_view typeName(EventType type) {
    for (const TypeName& entry : typeNames)
        if (entry.type == type) return entry.name;
    return {};
}

EventType typeFromName(std::string_view name) {
    for (const TypeName& entry : typeNames)
        if (entry.name == name) return entry.type;
    return 0;
}

std::string formatScenario(const Scenario& scenario) {
    std::string out = "{\"trusted\":";
    out += scenario.trusted ? "true" : "false";
    out += ",\"tap\":";
    out += scenario.tap ? "true" : "false";
    out += ",\"tapKeys\":";
    out += scenario.tapKeys ? "true" : "false";
    out += ",\"source\":";
    out += scenario.source ? "true" : "false";
    out += ",\"frontmost\":" + std::to_string(scenario.frontmost) + ",\"steps\":[";
    for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        out += i ? ",\n" : "\n";
        out += "{\"at\":";
        appendJsonNumber(out, step.at);
        switch (step.kind) {
        case Step::Kind::input:
            out += ",\"type\":\"";
            out += typeName(step.event.type);
            out += '"';
            out += ",\"key\":" + std::to_string(step.event.key);
            out += ",\"flags\":" + std::to_string(step.event.flags);
            out += ",\"autorepeat\":" + std::to_string(step.event.autorepeat);
            out += ",\"userData\":" + std::to_string(step.event.userData);
            break;
        case Step::Kind::frontmost:
            out += ",\"frontmost\":" + std::to_string(step.pid);
            break;
        case Step::Kind::failCopies:
            out += ",\"failCopies\":" + std::to_string(step.count);
            break;
        case Step::Kind::trusted:
            out += step.trusted ? ",\"trusted\":true" : ",\"trusted\":false";
            break;
        case Step::Kind::stop:
            out += step.stop == StopKind::line  ? ",\"stop\":\"line\""
                   : step.stop == StopKind::eof ? ",\"stop\":\"eof\""
                                                : ",\"stop\":\"sigterm\"";
            break;
        }
        out += '}';
    }
    out += "\n]}\n";
    return out;
}

} // namespace qk
