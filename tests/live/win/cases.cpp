#include "tests/live/win/cases.h"

#include <simdjson.h>

namespace qk::live {

namespace {

std::string text(simdjson::dom::element element, const char* key) {
    std::string_view value;
    if (element[key].get_string().get(value) != simdjson::SUCCESS) return {};
    return std::string(value);
}

Step readStep(simdjson::dom::object step) {
    Step out;
    for (const auto field : step) {
        const std::string_view key = field.key;
        std::string_view value;
        if (key == "chord") {
            out.kind = "chord";
            for (const auto part : field.value.get_array())
                if (part.get_string().get(value) == simdjson::SUCCESS) out.keys.emplace_back(value);
        } else if (key == "count") {
            out.count = static_cast<int>(field.value.get_int64().value_unsafe());
        } else if (key == "interval") {
            out.interval = field.value.get_double().value_unsafe();
        } else if (key == "suspend") {
            out.kind = "suspend";
            out.seconds = field.value.get_double().value_unsafe();
        } else if (key == "speed") {
            if (field.value.get_string().get(value) == simdjson::SUCCESS) out.speed = value;
        } else if (field.value.get_string().get(value) == simdjson::SUCCESS) {
            out.kind = std::string(key);
            out.text = std::string(value);
        }
    }
    return out;
}

} // namespace

bool readCase(const std::string& path, const std::string& name, Case& out, std::string& error) {
    simdjson::dom::parser parser;
    simdjson::dom::element table;
    if (parser.load(path).get(table) != simdjson::SUCCESS) {
        error = "cannot read " + path;
        return false;
    }
    simdjson::dom::array cases;
    if (table["cases"].get_array().get(cases) != simdjson::SUCCESS) {
        error = path + " has no \"cases\"";
        return false;
    }
    for (const simdjson::dom::element entry : cases) {
        if (text(entry, "name") != name) continue;
        out.name = name;
        out.noInput = text(entry, "input") == "none";
        simdjson::dom::array steps;
        if (entry["steps"].get_array().get(steps) == simdjson::SUCCESS)
            for (const simdjson::dom::element step : steps)
                out.steps.push_back(readStep(step.get_object().value_unsafe()));
        simdjson::dom::object received;
        if (entry["received"].get_object().get(received) == simdjson::SUCCESS)
            for (const auto field : received)
                out.received[std::string(field.key)] =
                    std::string(field.value.get_string().value_unsafe());
        simdjson::dom::array lines;
        if (entry["lines"].get_array().get(lines) == simdjson::SUCCESS)
            for (const simdjson::dom::element line : lines)
                out.lines.emplace_back(line.get_string().value_unsafe());
        return true;
    }
    error = path + " has no case \"" + name + "\"";
    return false;
}

} // namespace qk::live
