// Start-up care for the standard streams 0, 1 and 2, shared by every program.
#pragma once

namespace qk::platform {

// Call first thing in main, before anything opens a file. A parent may start a program with a
// standard descriptor closed; the next pipe or file would then take its number, and code reading
// "standard input" would read that instead. So a closed one is replaced by the null device:
// reading it gives end of input, and writing to it fails, just as writing to the closed descriptor
// would, so lost output is still noticed. A write to a pipe whose reader has gone fails instead of
// ending the process by a signal (SIGPIPE), so that the program can notice it and say so. Where the
// C library translates line ends, standard input and output are switched to binary, so that each
// message ends in a single "\n".
void prepareStandardStreams();

} // namespace qk::platform
