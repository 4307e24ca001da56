// The helper's entry point: picks the mode from the command line.
#pragma once

namespace qk {

// "--self-test" anywhere among the arguments (the program path included) runs the self-test,
// else "--check" runs check mode, else the listening session runs. Never returns.
[[noreturn]] void runHelper(int argc, char** argv);

} // namespace qk
