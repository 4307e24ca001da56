#include "core/matcher.h"

#include "core/trigger.h"

namespace qk {

Result Matcher::feed(std::string_view key, double at) {
    const auto length = static_cast<std::int64_t>(barcode.size());
    // The pause comes first, even before Enter: a slow key ends the trigger whatever it is.
    // Strictly greater, so a difference equal to the double 0.1 is still in time.
    if (index > 0 && at - last > gap) {
        reset();
        return broken;
    }
    if (index == 0) {
        if (key != barcode.substr(0, 1)) return ignored;
        index = 1;
        last = at;
        return accepted;
    }
    if (key == enterName && index == length) {
        reset();
        return complete;
    }
    // A breaking key is not looked at again as a new start: "Q","Q" leaves the matcher idle.
    if (index >= length || key != barcode.substr(static_cast<std::size_t>(index), 1)) {
        reset();
        return broken;
    }
    ++index;
    last = at;
    return accepted;
}

void Matcher::reset() {
    index = 0;
    last = 0;
}

} // namespace qk
