// The cases of the live end-to-end tests, as the tables describe them: tests/live/cases.json,
// which every host's live tests share, and cases.json beside this file, for what only macOS has.
// A case names its steps, what each window must receive and the helper's lines.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qk::live {

// One step of a case. `text` is what to type (type), the key held (repeat), how to stop (stop:
// "line" writes a line to the helper's standard input, "end-of-input" closes it, "terminate" is
// the host's request to end, SIGTERM) or the event awaited (await).
struct Step {
    enum class Kind {
        type,    // `text` typed at `speed`: "scanner" (all at once) or "person"
        click,   // a left click in the middle of `window`'s text field
        front,   // `window` comes to the front
        chord,   // `keys` pressed together, released in reverse order
        repeat,  // `count` key-downs of `text` `interval` seconds apart, then its key-up
        stop,    // the parent stops the helper, as `text` says
        suspend, // the helper cannot run for `seconds`, as on a machine too busy to run it
        await,   // waits for the helper's next line with the event `text`
    };
    Kind kind = Kind::type;
    std::string text;
    std::string speed;
    std::string window;
    std::vector<std::string> keys;
    int count = 0;
    double interval = 0;
    double seconds = 0;
};

struct Case {
    std::string name;
    std::string about;
    // The window with the key focus while the case runs: "main", or "panel" for a non-activating
    // panel of another application that takes the focus while "main" stays in front.
    std::string keyFocus = "main";
    std::vector<Step> steps;
    std::map<std::string, std::string> received; // by window
    std::vector<std::string> lines;              // the helper's events, in order
    bool noInput = false;                        // the helper starts without standard input
    std::vector<std::string> hosts; // where it runs ("macos", "windows"); empty: everywhere
    // Why this driver cannot run the case (a step or member it does not know), or empty.
    std::string cannotRun;
};

// Reads every case of the table at `path` into `cases`. False with `error` set if the table
// cannot be read or is not a table of cases; a case this driver cannot run is read with
// `cannotRun` saying why.
bool readCases(const std::string& path, std::vector<Case>& cases, std::string& error);

} // namespace qk::live
