// Start-up care for the standard streams on Windows. A parent may start the helper without one
// of the standard handles; the C library then has no stream behind stdin, stdout or stderr. The
// null device takes its place, opened for reading only: reading gives end of input, and writing
// fails, as it would have without it. Standard input and output are switched to binary, so that
// each message ends in a single "\n" and not in "\r\n".
#include "platform/streams.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "platform/win/event.h"

namespace qk::platform {

namespace {

bool missing(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return !handle || handle == INVALID_HANDLE_VALUE;
}

void replaceMissing(DWORD which, std::FILE* stream) {
    if (!missing(which) && _fileno(stream) >= 0) return;
    if (std::FILE* reopened = std::freopen("NUL", "rb", stream)) {
        SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(reopened))));
    }
}

} // namespace

void prepareStandardStreams() {
    replaceMissing(STD_INPUT_HANDLE, stdin);
    replaceMissing(STD_OUTPUT_HANDLE, stdout);
    replaceMissing(STD_ERROR_HANDLE, stderr);
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace qk::platform
