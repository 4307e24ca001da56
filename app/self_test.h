// Self-test mode: recorded key sequences in, the matcher's result codes out.
#pragma once

#include <string>

namespace qk {

// Exit status for self-test input that is not a document of key sequences (EX_DATAERR).
inline constexpr int dataError = 65;
// Exit status when standard input cannot be read (EX_IOERR).
inline constexpr int ioError = 74;

// Runs every sequence of the JSON document `input` through a fresh matcher. On success returns 0
// with the compact result document and "\n" in `out`. On malformed input returns dataError, leaves
// `out` empty and puts one line saying what is wrong and where into `error`. `input` may gain
// capacity for the JSON reader's padding.
int selfTest(std::string& input, std::string& out, std::string& error);

// The mode itself: reads all of standard input, writes the result or the error, exits.
[[noreturn]] void runSelfTest();

} // namespace qk
