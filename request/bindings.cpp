#include "request/bindings.h"

#include "mib/platform_exchange.h"
#include "platform/snmp/ber.h"
#include "platform/snmp/error_status.h"
#include "request/reply_size.h"

namespace {

uint32_t exceptionTag(Lookup found) {
    switch (found) {
        case Lookup::NoSuchObject:
            return ber::NO_SUCH_OBJECT;
        case Lookup::NoSuchInstance:
            return ber::NO_SUCH_INSTANCE;
        default:
            return ber::END_OF_MIB_VIEW;
    }
}

}  // namespace

std::optional<PduOutcome> serveLookups(Context& ctx, LookupHandler lookup, bool allowed,
                                       const View* view, Lookup denied, bool v1Shape,
                                       size_t replyLimit) {
    unsigned count = 0;
    while (!ctx.in.isSeqEnd()) {
        if (!ctx.in.enterSeq()) return std::nullopt;
        OID requested;
        if (!ctx.in.getOID(requested)) return std::nullopt;
        ++count;
        ctx.out.startSeq(ber::SEQUENCE);
        const size_t bindingStart = ctx.out.mark();
        ctx.oid = requested;
        const uint64_t failuresBefore = failedAnswers();
        const Lookup found = allowed ? lookup(ctx, view) : denied;
        if (found != Lookup::Answered) {
            ctx.out.rewind(bindingStart);  // whatever a failing leaf may have left
            ctx.out.addOID(requested);
            ctx.out.addNull(v1Shape ? ber::NULL_VALUE : exceptionTag(found));
        }
        ctx.in.exitSeq();
        ctx.out.endSeq();
        if (failedAnswers() != failuresBefore) return PduOutcome{snmp::ErrorStatus::GEN_ERR, count};
        if (servingMustWait()) return PduOutcome{};  // not sent: served again later
        if (!replyFits(ctx.out, replyLimit)) return PduOutcome{snmp::ErrorStatus::TOO_BIG, 0};
        if (v1Shape && found != Lookup::Answered)
            return PduOutcome{snmp::ErrorStatus::NO_SUCH_NAME, count};
    }
    return PduOutcome{};
}
