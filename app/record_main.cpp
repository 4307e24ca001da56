#include <cstdio>

#include "app/recorder.h"
#include "app/standard_fds.h"

int main(int argc, char** argv) {
    // Before anything opens a descriptor: the watcher must read the real standard input.
    qk::openClosedStandardDescriptors();
    qk::runRecorder(argc, argv, stdout, stderr);
}
