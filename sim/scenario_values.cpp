#include "sim/scenario_values.h"

#include <algorithm>
#include <new>

#include "sim/key_names.h"
#include "json/input.h"
#include "json/text.h"

namespace qk::scenario {

using namespace simdjson;

bool Problem::set(std::string_view what) {
    text = where + std::string(what);
    return false;
}

bool Problem::set(std::string_view what, error_code code) {
    // The reader running out of memory is no fault of the scenario: it is reported as any other
    // failed allocation is, and not as bad input.
    if (code == MEMALLOC) throw std::bad_alloc();
    return set(std::string(what) + " (" + describeJsonError(code) + ")");
}

std::string quoted(std::string_view name, std::string_view what) {
    std::string text;
    if (!appendJsonString(text, name)) text = "\"?\"";
    text += what;
    return text;
}

bool readMember(simdjson_result<ondemand::field>& field, Members& members, std::string_view& name,
                ondemand::value& value, Problem& problem) {
    if (auto code = field.unescaped_key().get(name))
        return problem.set("malformed member name", code);
    if (name != "note" && !members.first(name)) return problem.set(quoted(name, " appears twice"));
    if (auto code = field.value().get(value)) return problem.set("malformed value", code);
    // Before any reader takes a malformed value (-, tru, NaN) for one of the wrong type.
    if (auto code = scalarSyntax(value))
        return problem.set(quoted(name, " has a malformed value"), code);
    return true;
}

bool Members::first(std::string_view name) {
    if (std::ranges::find(seen, name) != seen.end()) return false;
    seen.emplace_back(name);
    return true;
}

bool readInteger(ondemand::value value, std::string_view name, std::int64_t low, std::int64_t high,
                 std::int64_t& out, Problem& problem) {
    if (auto code = value.get_int64().get(out)) {
        // The reader calls a number with a fraction, or one beyond 64 bits, a wrong type.
        if (code == INCORRECT_TYPE) return problem.set(quoted(name, " is not a 64-bit integer"));
        return problem.set(quoted(name, " is not an integer"), code);
    }
    if (out < low || out > high) return problem.set(quoted(name, " is out of range"));
    return true;
}

bool readBool(ondemand::value value, std::string_view name, bool& out, Problem& problem) {
    if (auto code = value.get_bool().get(out))
        return problem.set(quoted(name, " is not true or false"), code);
    return true;
}

bool readKey(ondemand::value value, std::int64_t& out, Problem& problem) {
    ondemand::json_type type;
    if (auto code = value.type().get(type)) return problem.set("malformed \"key\"", code);
    if (type == ondemand::json_type::number)
        return readInteger(value, "key", int64Min, int64Max, out, problem);
    if (type != ondemand::json_type::string)
        return problem.set("\"key\" is not a key code or a key name");
    std::string_view name;
    if (auto code = value.get_string().get(name)) return problem.set("malformed \"key\"", code);
    const auto key = keyCodeOf(name);
    if (!key) {
        std::string what = "unknown key name " + quoted(name, "");
        const std::string_view near = keyNameIgnoringCase(name);
        const std::string_view meant = keyNameMeant(name);
        if (!near.empty()) {
            what += " (names are case-sensitive: \"" + std::string(near) + "\")";
        } else if (!meant.empty()) {
            what += " (did you mean \"" + std::string(meant) + "\"?)";
        }
        return problem.set(what);
    }
    out = *key;
    return true;
}

namespace {

bool readFlagName(ondemand::value value, EventFlags& out, Problem& problem) {
    std::string_view name;
    if (auto code = value.get_string().get(name))
        return problem.set("\"flags\" lists something that is not a modifier's name", code);
    const EventFlags flag = flagNamed(name);
    if (flag == 0) {
        std::string what = "unknown flag name " + quoted(name, "");
        const std::string_view meant = keyNameMeant(name);
        if (flagNamed(meant) != 0) what += " (did you mean \"" + std::string(meant) + "\"?)";
        return problem.set(what + "; the names are " + std::string(flagNames));
    }
    out |= flag;
    return true;
}

} // namespace

bool readFlags(ondemand::value value, EventFlags& out, Problem& problem) {
    out = 0;
    ondemand::json_type type;
    if (auto code = value.type().get(type)) return problem.set("malformed \"flags\"", code);
    if (type == ondemand::json_type::string) return readFlagName(value, out, problem);
    if (type == ondemand::json_type::array) {
        ondemand::array names;
        if (auto code = value.get_array().get(names))
            return problem.set("malformed \"flags\"", code);
        for (auto element : names) {
            ondemand::value name;
            if (auto code = element.get(name)) return problem.set("malformed \"flags\"", code);
            if (!readFlagName(name, out, problem)) return false;
        }
        return true;
    }
    if (type != ondemand::json_type::number)
        return problem.set("\"flags\" is not a number, a modifier's name or a list of them");
    std::uint64_t flags = 0;
    if (auto code = value.get_uint64().get(flags)) {
        if (code == INCORRECT_TYPE)
            return problem.set("\"flags\" is not an unsigned 64-bit integer");
        return problem.set("\"flags\" is not an unsigned integer", code);
    }
    out = flags;
    return true;
}

} // namespace qk::scenario
