#include "sim/transcript.h"

#include "json/text.h"

namespace qk {

void appendEntry(std::string& out, const Entry& entry) {
    out += "{\"at\":";
    appendJsonNumber(out, entry.at);
    const auto number = [&](const char* name, std::int64_t value) {
        out += ",\"";
        out += name;
        out += "\":";
        out += std::to_string(value);
    };
    switch (entry.kind) {
    case Entry::Kind::out:
        out += ",\"out\":";
        if (!appendJsonString(out, entry.text)) out += "\"\"";
        break;
    case Entry::Kind::postProcess:
        out += ",\"post\":\"pid\"";
        number("pid", entry.pid);
        number("step", entry.step);
        number("userData", entry.userData);
        break;
    case Entry::Kind::postHID:
        out += ",\"post\":\"hid\"";
        number("step", entry.step);
        number("userData", entry.userData);
        break;
    case Entry::Kind::verdict:
        number("step", entry.step);
        out += entry.verdict == Verdict::pass ? ",\"verdict\":\"pass\"" : ",\"verdict\":\"drop\"";
        break;
    case Entry::Kind::deliver:
        number("deliver", entry.pid);
        number("step", entry.step);
        break;
    case Entry::Kind::exit:
        number("exit", entry.status);
        break;
    }
    out += "}\n";
}

} // namespace qk
