// Reading JSON input with simdjson's on-demand reader: whole-stream reads, padding, strict checks.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include <simdjson.h>

namespace qk {

// Documents larger than this are refused without being read to the end. A recorded scan takes
// about 300 bytes and a scenario step about 80, so this is far more than any real input, and it
// keeps the reader's memory (about six times the document) well under half a gigabyte. The
// reader itself could take at most 4 GiB.
inline constexpr std::size_t maxInputBytes = 64 * 1024 * 1024;

enum class ReadResult {
    ok,
    readError, // the stream reported an error
    tooLarge,  // more than maxInputBytes; reading stopped there
    noMemory,  // the text could not be allocated
};

// Appends everything readable from `file` to `text`, leaving room for the reader's padding so
// that no second copy is needed. Stops once more than maxInputBytes have been read, or at once
// when the file says it is larger than that.
ReadResult readAll(std::FILE* file, std::string& text);

// A view of `text` with the padding the reader needs (reserved here if missing).
simdjson::padded_string_view padForJson(std::string& text);

// A short description of a reader error, for error messages.
std::string describeJsonError(simdjson::error_code code);

// The on-demand reader skips values it is not asked for without checking them. This walks a value
// the caller ignores and reports the first malformed part, so that ignored members are JSON too.
simdjson::error_code skipCheckedValue(simdjson::ondemand::value value);

// The reader takes some malformed scalars (-, tru, NaN) for values of another type. This checks
// the text of a scalar: the error that says what is malformed about it, or SUCCESS for a
// well-formed one, and for strings, arrays and objects, which their own readers check.
simdjson::error_code scalarSyntax(simdjson::ondemand::value& value);

// True once the whole document has been read: nothing but white space follows it.
bool atEnd(simdjson::ondemand::document& document);

// The words of an error message if `text` begins with a byte-order mark, or "". simdjson 3
// refuses one and simdjson 4 skips it, so readers ask this first, before simdjson reads the text.
std::string_view byteOrderMarkRefused(std::string_view text);

// Why the reader refuses the top level of `text`: it begins with a byte-order mark, or it opens
// with `opener` ('[' or '{') and content follows the complete value, or the value is never closed.
// Returns that as the words of an error message, or "" for none of these. The reader itself
// reports each as a malformed top level or one of the wrong type.
std::string_view whyTopLevelRefused(std::string_view text, char opener);

// True if `text` opens with `opener` ('[' or '{') and the value it opens is never closed: the
// document was cut short. A reader that meets the end of such a document part-way through it
// reports a malformed value at a place that does not exist; this tells what really happened. Only
// brackets outside strings are counted, so the reader must have found the strings well-formed.
bool topLevelUnclosed(std::string_view text, char opener);

inline constexpr std::string_view unclosedWords =
    "the document ends before its top level is closed";

} // namespace qk
