// Start-up care for the standard descriptors 0, 1 and 2.
#pragma once

namespace qk {

// Opens /dev/null onto whichever of descriptors 0, 1 and 2 is closed, so that no pipe or file the
// process opens later takes one of those numbers. Reading the replacement gives end of input;
// writing to it fails, just as writing to the closed descriptor would, so lost output is still
// noticed. Call first thing in main, before anything opens a descriptor.
void openClosedStandardDescriptors();

} // namespace qk
