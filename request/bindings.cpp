#include "request/bindings.h"

#include "request/error_status.h"

namespace {

// The length octets of one open SEQUENCE grow from one to at most three.
constexpr size_t LENGTH_GROWTH = 2;
// The error-index INTEGER grows from one content octet to at most three.
constexpr size_t ERROR_INDEX_GROWTH = 2;

}  // namespace

bool replyFits(const OutStream& out, size_t limit) {
    return out.size() + LENGTH_GROWTH * out.openSequences() + ERROR_INDEX_GROWTH <= limit;
}

std::optional<PduOutcome> serveBindings(Context& ctx, RequestHandler handler, bool allowed,
                                        unsigned deniedStatus, size_t replyLimit) {
    unsigned count = 0;
    while (!ctx.in.isSeqEnd()) {
        if (!ctx.in.enterSeq()) return std::nullopt;
        OID requested;
        if (!ctx.in.getOID(requested)) return std::nullopt;
        ++count;
        ctx.out.startSeq(ber::SEQUENCE);
        const size_t bindingStart = ctx.out.mark();
        ctx.oid = requested;
        const unsigned status = allowed ? handler(ctx) : deniedStatus;
        if (status != snmp::NO_ERROR) {
            ctx.out.rewind(bindingStart);  // whatever a failing leaf may have left
            ctx.out.addOID(requested);
            ctx.out.addNull();
        }
        ctx.in.exitSeq();
        ctx.out.endSeq();
        if (!replyFits(ctx.out, replyLimit)) return PduOutcome{snmp::TOO_BIG, 0};
        if (status != snmp::NO_ERROR) {
            return PduOutcome{status, status == snmp::NO_SUCH_NAME ? count : 0};
        }
    }
    return PduOutcome{};
}
