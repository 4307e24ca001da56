// Small JSON writers shared by the parent messages, the self-test and the simulator transcript.
#pragma once

#include <string>
#include <string_view>

namespace qk {

// True if `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool isValidUtf8(std::string_view text);

// Appends `text` as a JSON string: quotes, backslashes and control characters escaped, every
// other character written as it is, so non-ASCII text stays readable UTF-8. Returns false and
// leaves `out` unchanged if `text` is not valid UTF-8.
bool appendJsonString(std::string& out, std::string_view text);

// Appends the shortest decimal form of a finite `value` that reads back as the same double.
void appendJsonNumber(std::string& out, double value);

} // namespace qk
