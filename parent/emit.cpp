#include <cstdio>

#include "parent/messages.h"
#include "json/text.h"

namespace qk {

namespace {

void writeToStandardOutput(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

EmitSink sink = writeToStandardOutput;

} // namespace

bool formatMessage(std::string& line, std::string_view event, std::string_view message) {
    line.clear();
    line += "{\"event\":";
    bool ok = appendJsonString(line, event);
    line += ",\"message\":";
    ok = ok && appendJsonString(line, message);
    if (!ok) {
        line.clear();
        return false;
    }
    line += "}\n";
    return true;
}

void emit(std::string_view event, std::string_view message) {
    // Reused so that a trigger on the event path does not allocate once it has warmed up.
    static std::string line;
    if (formatMessage(line, event, message)) sink(line);
}

void setEmitSink(EmitSink replacement) {
    sink = replacement ? replacement : writeToStandardOutput;
}

} // namespace qk
