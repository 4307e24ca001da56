// Recognises the trigger code typed at scanner speed, one named key at a time.
#pragma once

#include <cstdint>
#include <string_view>

namespace qk {

// What feed made of a key.
enum Result : int {
    ignored = 0,  // idle, and the key does not start the trigger
    accepted = 1, // the key starts or continues the trigger
    broken = 2,   // a trigger in progress was abandoned; the matcher is idle again
    complete = 3, // the barcode followed by Enter was recognised; the matcher is idle again
};

class Matcher {
public:
    std::int64_t index = 0; // trigger characters accepted so far; 0 means idle
    double last = 0;        // time of the last accepted key; 0 while idle after a reset

    // Feeds the key named `key` (see keyName) typed at time `at`, in seconds on one clock.
    Result feed(std::string_view key, double at);
    void reset();
};

} // namespace qk
