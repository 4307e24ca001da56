// Every line the helper sends its parent: one JSON object with "event" and "message".
#pragma once

#include <string>
#include <string_view>

namespace qk {

struct Message {
    std::string_view event;
    std::string_view message;
};

namespace messages {

// The listening session is set up (again, after the system re-enabled a disabled tap).
inline constexpr Message ready{"ready", ""};
// The trigger code followed by Enter was recognised and swallowed.
inline constexpr Message dispatchDate{"dispatch-date", ""};
// Check mode: the helper may tap input.
inline constexpr Message permissionPresent{"permission-present", ""};
// Check mode: the helper may not tap input.
inline constexpr Message permissionRequired{"permission-required", ""};
// Listening: still not trusted after the system was asked to prompt the user. It asks the user to
// allow the application under Accessibility in System Settings and to turn listening on again.
inline constexpr Message permissionRequiredAllow{
    "permission-required",
    "Na Macu povoľte aplikáciu v Systémové nastavenia > Súkromie a bezpečnosť > Prístupnosť. "
    "Potom počúvanie zapnite znova."};
// Listening: trusted, but the system refused the event tap. It asks the user to check
// Accessibility and Input Monitoring, then quit and restart the application.
inline constexpr Message permissionRequiredRestart{
    "permission-required",
    "Mac nepovolil zachytenie kódu. Skontrolujte Prístupnosť a Monitorovanie vstupu, potom "
    "aplikáciu ukončite a spustite znova."};

} // namespace messages

// Builds the line for one message, "\n" included, into `line`. Returns false, with `line` empty,
// if the text is not valid UTF-8.
bool formatMessage(std::string& line, std::string_view event, std::string_view message);

// Writes one message line to the parent and flushes it before returning. A message that is not
// valid UTF-8 is not written at all. A line that cannot be written (the parent closed its end of
// standard output, a full disk) runs the lost-message handler. True if the line was written.
// Main thread only.
bool emit(std::string_view event, std::string_view message = {});
inline bool emit(const Message& m) {
    return emit(m.event, m.message);
}

// Where emit sends its lines (each ends in "\n"): standard output, flushed, unless replaced. A sink
// returns false if the line could not be written. The simulator and tests put their own sink here.
using EmitSink = bool (*)(std::string_view line);
void setEmitSink(EmitSink sink);

// What emit runs when a line cannot be written: a parent that cannot read the helper's messages
// can no longer be told anything, so the helper should stop. None unless set (emit then only
// returns false).
using LostMessageHandler = void (*)();
void setLostMessageHandler(LostMessageHandler handler);

} // namespace qk
