// A small set of key codes that keeps its storage when emptied, so that holds after the first
// need no allocation. It holds at most the keys pressed during one hold, so a linear scan wins.
#pragma once

#include <algorithm>
#include <vector>

#include "core/trigger.h"

namespace qk {

class KeySet {
public:
    bool contains(KeyCode key) const {
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    }
    void insert(KeyCode key) {
        if (!contains(key)) keys.push_back(key);
    }
    // Removes `key`; false if it was not there.
    bool erase(KeyCode key) {
        const auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) return false;
        *found = keys.back();
        keys.pop_back();
        return true;
    }
    void clear() { keys.clear(); }
    bool empty() const { return keys.empty(); }
    std::size_t size() const { return keys.size(); }
    void reserve(std::size_t count) { keys.reserve(count); }
    auto begin() const { return keys.begin(); }
    auto end() const { return keys.end(); }

private:
    std::vector<KeyCode> keys;
};

} // namespace qk
