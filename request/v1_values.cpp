#include "request/v1_values.h"

#include "platform/snmp/ber.h"
#include "request/lookup.h"

namespace {

// The tag of the value of the binding written at `mark`: the binding's
// name (an OBJECT IDENTIFIER with a definite length) comes first, the value
// right after it.
bool wroteCounter64(const OutStream& out, size_t mark) {
    const unsigned char* bytes = out.data() + mark;
    const size_t written = out.size() - mark;
    if (written < 2) return false;
    size_t offset = 1;  // the name's tag
    size_t nameLength = bytes[offset++];
    if (nameLength & 0x80) {  // X.690 8.1.3.5: long form
        const size_t octets = nameLength & 0x7f;
        if (octets > sizeof(size_t) || offset + octets > written) return false;
        nameLength = 0;
        for (size_t i = 0; i < octets; ++i)
            nameLength = (nameLength << 8) | bytes[offset++];
    }
    if (nameLength >= written - offset) return false;
    return bytes[offset + nameLength] == ber::COUNTER64;
}

}  // namespace

Lookup snmpGetV1(Context& ctx, const View* view) {
    const size_t mark = ctx.out.mark();
    const Lookup found = snmpGet(ctx, view);
    if (found != Lookup::Answered || !wroteCounter64(ctx.out, mark)) return found;
    ctx.out.rewind(mark);
    return Lookup::NoSuchInstance;
}

Lookup snmpGetNextV1(Context& ctx, const View* view) {
    const size_t mark = ctx.out.mark();
    // Each round answers an instance strictly after the previous one, so the
    // loop ends at the end of the tree at the latest.
    for (;;) {
        const Lookup found = snmpGetNext(ctx, view);
        if (found != Lookup::Answered || !wroteCounter64(ctx.out, mark)) return found;
        ctx.out.rewind(mark);
        ctx.oid = ctx.name;
    }
}
