// Decodes an arbitrary datagram element by element, trying every value
// reader on each. It may not crash, hang or read outside the datagram.
#include <cstddef>
#include <cstdint>

#include "platform/snmp/ber_in.h"

namespace {

// Reads every element it can, until a malformed one. The stream's nesting
// limit bounds the recursion.
bool walk(InStream& in) {
    while (!in.isSeqEnd()) {
        BerElement element;
        if (!in.peekElement(element)) return false;
        if (element.tag & ber::CONSTRUCTED) {
            if (!in.enterSeq() || !walk(in) || !in.exitSeq()) return false;
            continue;
        }
        int number = 0;
        unsigned long long wide = 0;
        std::string octets;
        OID oid;
        if (!in.getInt(number) && !in.get64(wide) && !in.getString(octets) && !in.getOID(oid) &&
            !in.skip())
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InStream in(data, size);
    walk(in);
    return 0;
}
