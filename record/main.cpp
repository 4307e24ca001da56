#include <cstdio>

#include "platform/streams.h"
#include "record/recorder.h"

int main(int argc, char** argv) {
    // Before anything opens a descriptor: the watcher must read the real standard input.
    qk::platform::prepareStandardStreams();
    qk::runRecorder(argc, argv, stdout, stderr);
}
