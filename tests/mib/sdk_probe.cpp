// A plug-in that includes, past mib/sdk.h, a header the SDK does not hold
// (OUTSIDE_SDK, set by tests/mib/CMakeLists.txt): it must not build.
#include "mib/sdk.h"
#include OUTSIDE_SDK

extern "C" void autorun() {}
