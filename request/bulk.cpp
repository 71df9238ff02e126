#include "request/bulk.h"

#include <algorithm>
#include <vector>

#include "mib/platform_exchange.h"
#include "platform/snmp/ber.h"
#include "platform/snmp/error_status.h"
#include "request/lookup.h"
#include "request/reply_size.h"

namespace {

// The smallest binding a reply can hold: SEQUENCE header (2), an OBJECT
// IDENTIFIER of one content octet (3), NULL (2). No reply within a limit L
// holds more than L / MIN_BINDING_OCTETS bindings.
constexpr size_t MIN_BINDING_OCTETS = 7;

// Failed: the answer needed an exchange whose answer never came (genErr);
// Waits: it needs one that is on its way, and the reply is not sent.
enum class Step { Answered, AtEnd, Full, Failed, Waits };

class BulkReply {
  public:
    BulkReply(Context& ctx, size_t replyLimit, const View* view, size_t boundOctets)
        : ctx_(ctx), replyLimit_(replyLimit), view_(view), boundOctets_(boundOctets) {}

    // Answers the instance after `requested` in a binding of its own, or
    // endOfMibView under `requested` (AtEnd). Full drops the binding, which
    // did not fit.
    Step answer(const OID& requested) {
        const size_t before = ctx_.out.mark();
        ctx_.out.startSeq(ber::SEQUENCE);
        const size_t inside = ctx_.out.mark();
        ctx_.oid = requested;
        const uint64_t failuresBefore = failedAnswers();
        const bool found = snmpGetNext(ctx_, view_) == Lookup::Answered;
        if (failedAnswers() != failuresBefore || servingMustWait()) {
            ctx_.out.rewind(before);
            return failedAnswers() != failuresBefore ? Step::Failed : Step::Waits;
        }
        if (!found) {
            ctx_.out.rewind(inside);
            ctx_.out.addOID(requested);
            ctx_.out.addNull(ber::END_OF_MIB_VIEW);
        }
        return close(before, found ? Step::Answered : Step::AtEnd);
    }

    // endOfMibView under `name`, for a repeater that reached the end before.
    Step atEnd(const OID& name) {
        const size_t before = ctx_.out.mark();
        ctx_.out.startSeq(ber::SEQUENCE);
        ctx_.out.addOID(name);
        ctx_.out.addNull(ber::END_OF_MIB_VIEW);
        return close(before, Step::AtEnd);
    }

    // The next binding did not fit: a reply cut short, or tooBig when empty.
    PduOutcome full() const {
        return written_ == 0 ? PduOutcome{snmp::ErrorStatus::TOO_BIG, 0} : PduOutcome{};
    }

  private:
    Step close(size_t before, Step step) {
        ctx_.out.endSeq();
        // The first binding may take what the requester allows: a value
        // longer than the bound is still answered, one at a time.
        const size_t limit = written_ == 0 ? replyLimit_ : std::min(replyLimit_, boundOctets_);
        if (!replyFits(ctx_.out, limit)) {
            ctx_.out.rewind(before);
            return Step::Full;
        }
        ++written_;
        return step;
    }

    Context& ctx_;
    size_t replyLimit_;
    const View* view_;
    size_t boundOctets_;
    size_t written_ = 0;
};

}  // namespace

std::optional<PduOutcome> serveBulk(Context& ctx, size_t replyLimit, const View* view,
                                    BulkBounds bounds) {
    // The repeaters are revisited per repetition: read every name first.
    std::vector<OID> names;
    while (!ctx.in.isSeqEnd()) {
        OID name;
        if (!ctx.in.enterSeq() || !ctx.in.getOID(name)) return std::nullopt;
        ctx.in.exitSeq();
        names.push_back(std::move(name));
    }

    // RFC 3416 4.2.3: N non-repeaters, M repeaters, R repetitions.
    const size_t nonRepeaters =
        std::min(static_cast<size_t>(std::max(ctx.nonRepeaters, 0)), names.size());
    const size_t repeaters = names.size() - nonRepeaters;
    size_t repetitions = std::min(static_cast<size_t>(std::max(ctx.maxRepetitions, 0)),
                                  static_cast<size_t>(bounds.repetitions));
    if (repeaters > 0) {
        // More repetitions than the reply could ever hold would be wasted work.
        const size_t maxBindings = std::min(replyLimit, bounds.replyOctets) / MIN_BINDING_OCTETS;
        repetitions = std::min(repetitions, (maxBindings + repeaters - 1) / repeaters);
    }

    BulkReply reply(ctx, replyLimit, view, bounds.replyOctets);
    for (size_t i = 0; i < nonRepeaters; ++i) {
        const Step step = reply.answer(names[i]);
        if (step == Step::Full) return reply.full();
        if (step == Step::Failed) return PduOutcome{snmp::ErrorStatus::GEN_ERR, unsigned(i + 1)};
        if (step == Step::Waits) return PduOutcome{};
    }
    // Each repeater goes on from the instance it answered last, kept in its
    // name; one at the end stays there.
    std::vector<bool> ended(repeaters, false);
    for (size_t repetition = 0; repetition < repetitions; ++repetition) {
        bool allEnded = true;
        for (size_t j = 0; j < repeaters; ++j) {
            OID& last = names[nonRepeaters + j];
            const Step step = ended[j] ? reply.atEnd(last) : reply.answer(last);
            if (step == Step::Full) return reply.full();
            if (step == Step::Failed)
                return PduOutcome{snmp::ErrorStatus::GEN_ERR, unsigned(nonRepeaters + j + 1)};
            if (step == Step::Waits) return PduOutcome{};
            if (step == Step::Answered) {
                last = ctx.name;
                allEnded = false;
            } else {
                ended[j] = true;
            }
        }
        // RFC 3416 4.2.3: the reply may end after a repetition that is
        // endOfMibView throughout.
        if (allEnded) break;
    }
    return PduOutcome{};
}
