// Walks an arbitrary datagram the way the agent's dispatcher does, then
// decodes it generically element by element. Neither may crash, hang or read
// outside the datagram.
#include <cstddef>
#include <cstdint>

#include "platform/snmp/ber_in.h"
#include "tests/platform/snmp/request_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InStream dispatched(data, size);
    WalkedRequest request;
    walkRequest(dispatched, request);

    // The binding loop when the values are read as a Set would read them.
    InStream values(data, size);
    if (values.getVersion() >= 0) {
        std::string community;
        int header = 0;
        if (values.getString(community) && values.enterSeq() && values.getInt(header) &&
            values.getInt(header) && values.getInt(header) && values.enterSeq()) {
            for (size_t bindings = 0; !values.isSeqEnd() && bindings < size; ++bindings) {
                OID name;
                if (!values.enterSeq()) break;
                if (values.getOID(name)) {
                    int number = 0;
                    unsigned long long wide = 0;
                    std::string octets;
                    OID value;
                    if (!values.getInt(number) && !values.get64(wide) &&
                        !values.getString(octets) && !values.getOID(value)) {
                        values.skip();
                    }
                }
                values.exitSeq();
            }
        }
    }

    InStream generic(data, size);
    size_t elements = 0;
    walkElements(generic, elements);
    return 0;
}
