#include "app/entry.h"

// The version, readable from the binary without running it (the command line has no option for
// it): what(1) prints what follows "@(#)", strings(1) shows the whole text. `used` keeps it in the
// binary although nothing refers to it.
[[gnu::used]] static const char versionTag[] = "@(#)qkscan " QKSCAN_VERSION;

int main(int argc, char** argv) {
    qk::runHelper(argc, argv);
}
