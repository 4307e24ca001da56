// What the system's list of installed event taps says about this process's own tap.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>

namespace qk::platform {

// The event types the system lets this process's session tap of kind `options` (an active filter
// or a listener) see: its events of interest as CGGetEventTapList reports them. CGEventTapCreate
// clears the bits of the types the process may not tap, and returns NULL only when none are left,
// so this is how a tap that was refused the keyboard is told from one that was not. 0 if the list
// cannot be read or holds no such tap. Each process creates at most one tap of each kind.
std::uint64_t grantedEvents(CGEventTapOptions options);

} // namespace qk::platform
