// The cases of the live tests, read from the table they share with other hosts (cases.json).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qk::live {

struct Step {
    std::string kind;              // type, click, front, chord, repeat, stop
    std::string text;              // type: the text; click, front: the window; repeat: the key;
                                   // stop: line or end-of-input
    std::string speed;             // type: scanner or person
    std::vector<std::string> keys; // chord
    int count = 0;                 // repeat
    double interval = 0;           // repeat
    double seconds = 0;            // suspend
};

struct Case {
    std::string name;
    std::vector<Step> steps;
    std::map<std::string, std::string> received; // by window: main, other
    std::vector<std::string> lines;              // the helper's events, in order
    bool noInput = false;                        // the helper starts without standard input
};

// Reads the case called `name` from the table at `path`; false with `error` set if the table
// cannot be read or has no such case.
bool readCase(const std::string& path, const std::string& name, Case& out, std::string& error);

} // namespace qk::live
