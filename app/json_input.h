// Reading JSON input with simdjson's on-demand reader: whole-stream reads, padding, strict checks.
#pragma once

#include <cstdio>
#include <string>

#include <simdjson.h>

namespace qk {

// Appends everything readable from `file` to `text`, leaving room for the reader's padding so
// that no second copy is needed. False on a read error.
bool readAll(std::FILE* file, std::string& text);

// A view of `text` with the padding the reader needs (reserved here if missing).
simdjson::padded_string_view padForJson(std::string& text);

// A short description of a reader error, for error messages.
std::string describeJsonError(simdjson::error_code code);

// The on-demand reader skips values it is not asked for without checking them. This walks a value
// the caller ignores and reports the first malformed part, so that ignored members are JSON too.
simdjson::error_code skipCheckedValue(simdjson::ondemand::value value);

// True once the whole document has been read: nothing but white space follows it.
bool atEnd(simdjson::ondemand::document& document);

} // namespace qk
