// The exit statuses of qkscan's programs, the parent's other channel besides the message lines.
// Beyond 0 and 2 they follow the BSD sysexits convention, so that a parent can tell bad input from
// a failing system.
#pragma once

namespace qk {

// The permission is missing, or the system refused the event tap.
inline constexpr int permissionMissing = 2;
// A bad command line (EX_USAGE).
inline constexpr int usageError = 64;
// Input that is not the document it should be (EX_DATAERR).
inline constexpr int dataError = 65;
// An input file that cannot be opened or read (EX_NOINPUT).
inline constexpr int noInput = 66;
// An internal error: the program would otherwise give a wrong answer (EX_SOFTWARE).
inline constexpr int softwareError = 70;
// The system failed: standard input or output unusable, memory exhausted (EX_IOERR).
inline constexpr int ioError = 74;

} // namespace qk
