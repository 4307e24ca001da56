// What the system's list of installed event taps says about this process's own tap.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>

namespace qk::platform {

// The event types the system lets this process's session tap of kind `options` (an active filter
// or a listener) see: its events of interest as CGGetEventTapList reports them. CGEventTapCreate
// clears the bits of the types the process may not tap, and returns NULL only when none are left,
// so this is how a tap that was refused the keyboard is told from one that was not. Each process
// creates at most one tap of each kind.
//
// Where the list cannot be read or does not show the tap, nothing is known against it, and the
// tap is taken as made: it then gets `asked`, as before the list was consulted. Only a tap the
// list shows without some types counts as refused them, so that a list that lags behind a new
// tap can never turn every start into a refusal.
std::uint64_t grantedEvents(CGEventTapOptions options, std::uint64_t asked);

} // namespace qk::platform
