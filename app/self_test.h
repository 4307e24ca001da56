// Self-test mode: recorded key sequences in, the matcher's result codes out.
#pragma once

#include <string>

#include "parent/exit_status.h"

namespace qk {

// Runs every sequence of the JSON document `input` through a fresh matcher. On success returns 0
// with the compact result document and "\n" in `out`. On malformed input returns dataError, leaves
// `out` empty and puts one line saying what is wrong and where into `error`. `input` may gain
// capacity for the JSON reader's padding.
int selfTest(std::string& input, std::string& out, std::string& error);

// The mode itself: reads all of standard input, writes the result or the error, exits.
[[noreturn]] void runSelfTest();

} // namespace qk
