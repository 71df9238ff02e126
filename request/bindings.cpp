#include "request/bindings.h"

#include "platform/snmp/error_status.h"

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
                                        snmp::ErrorStatus deniedStatus, size_t replyLimit) {
    unsigned count = 0;
    while (!ctx.in.isSeqEnd()) {
        if (!ctx.in.enterSeq()) return std::nullopt;
        OID requested;
        if (!ctx.in.getOID(requested)) return std::nullopt;
        ++count;
        ctx.out.startSeq(ber::SEQUENCE);
        const size_t bindingStart = ctx.out.mark();
        ctx.oid = requested;
        const snmp::ErrorStatus status = allowed ? handler(ctx) : deniedStatus;
        if (status != snmp::ErrorStatus::NO_ERROR) {
            ctx.out.rewind(bindingStart);  // whatever a failing leaf may have left
            ctx.out.addOID(requested);
            ctx.out.addNull();
        }
        ctx.in.exitSeq();
        ctx.out.endSeq();
        if (!replyFits(ctx.out, replyLimit)) return PduOutcome{snmp::ErrorStatus::TOO_BIG, 0};
        if (status != snmp::ErrorStatus::NO_ERROR) {
            return PduOutcome{status, status == snmp::ErrorStatus::NO_SUCH_NAME ? count : 0};
        }
    }
    return PduOutcome{};
}
