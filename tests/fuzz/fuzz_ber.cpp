// Walks an arbitrary datagram the way the agent's dispatcher does, then
// decodes it generically element by element, trying every value reader on
// each. Neither may crash, hang or read outside the datagram.
#include <cstddef>
#include <cstdint>

#include "platform/snmp/ber_in.h"
#include "tests/platform/snmp/request_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InStream dispatched(data, size);
    WalkedRequest request;
    walkRequest(dispatched, request);
    InStream generic(data, size);
    size_t elements = 0;
    walkElements(generic, elements);
    return 0;
}
