#include <cstdio>

#include "parent/messages.h"
#include "json/text.h"

namespace qk {

namespace {

bool writeToStandardOutput(std::string_view line) {
    const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
    return std::fflush(stdout) == 0 && written;
}

EmitSink sink = writeToStandardOutput;
LostMessageHandler lostMessage = nullptr;

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

bool emit(std::string_view event, std::string_view message) {
    // Reused so that a trigger on the event path does not allocate once it has warmed up.
    static std::string line;
    if (!formatMessage(line, event, message)) return false;
    if (sink(line)) return true;
    if (lostMessage) lostMessage();
    return false;
}

void setEmitSink(EmitSink replacement) {
    sink = replacement ? replacement : writeToStandardOutput;
}

void setLostMessageHandler(LostMessageHandler handler) {
    lostMessage = handler;
}

} // namespace qk
