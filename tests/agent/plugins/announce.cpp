// A plug-in for the loader tests: says on stderr that its autorun ran.
#include <cstdio>

extern "C" void autorun() {
    std::fputs("autorun ran\n", stderr);
}
