// The windows in front, as the helper saw them: for each of the last few processes that were in
// front, the window and the control that had the keyboard focus, so that keys withheld from a
// process that has since lost the front can still be given back to where they were typed. And
// whether the window in front can be reached at all (UIPI).
#pragma once

#include "platform/win/event.h"

namespace qk::win {

struct FrontWindow {
    Pid pid = 0;
    HWND window = nullptr;
    HWND focus = nullptr; // the focused control, or the window itself if none is known
};

// The window in front now, with its process and focused control, remembered for that process.
// pid 0 and null windows when nothing is in front.
FrontWindow frontWindow();

// The window and focus last seen in front for `pid`, or null if it has not been seen lately.
const FrontWindow* lastSeenInFront(Pid pid);

// From now on, follows which window is in front (EVENT_SYSTEM_FOREGROUND, delivered through this
// thread's message loop), so that frontReachable costs nothing on the hooks' path.
bool watchFront();

// False while the window in front belongs to a process of a higher integrity level than this
// one (an elevated program, when the helper is not): the system neither shows the hooks the keys
// typed into it nor lets SendInput reach it.
bool frontReachable();

} // namespace qk::win
