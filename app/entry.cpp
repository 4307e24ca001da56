#include "app/entry.h"

#include <string_view>

#include "app/self_test.h"
#include "app/session.h"
#include "platform/streams.h"

namespace qk {

void runHelper(int argc, char** argv) {
    // A parent may start the helper with a standard descriptor closed; the watcher would then
    // read whatever took descriptor 0 instead of the parent's pipe.
    platform::prepareStandardStreams();
    // The trigger code, timing limit, key table and marker are compile-time constants, so they
    // are in place before any mode runs.
    bool selfTestMode = false, checkMode = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--self-test") selfTestMode = true;
        if (argument == "--check") checkMode = true;
    }
    if (selfTestMode) runSelfTest();
    if (checkMode) runCheck();
    runListeningSession();
}

} // namespace qk
