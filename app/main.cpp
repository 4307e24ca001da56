#include "app/entry.h"

int main(int argc, char** argv) {
    qk::runHelper(argc, argv);
}
