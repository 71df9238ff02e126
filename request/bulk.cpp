#include <algorithm>
#include <vector>

#include "platform/snmp/error_status.h"
#include "request/bindings.h"
#include "request/get_next.h"

namespace {

// The smallest binding a reply can hold: SEQUENCE header (2), an OBJECT
// IDENTIFIER of one content octet (3), NULL (2). No reply within a limit L
// holds more than L / MIN_BINDING_OCTETS bindings.
constexpr size_t MIN_BINDING_OCTETS = 7;

enum class Step { Answered, Failed, Full };

class BulkReply {
  public:
    BulkReply(Context& ctx, size_t replyLimit) : ctx_(ctx), replyLimit_(replyLimit) {}

    // Answers the instance after `requested` in a binding of its own. Failed
    // writes nothing; Full drops the binding, which did not fit.
    Step answer(const OID& requested) {
        const size_t before = ctx_.out.mark();
        ctx_.out.startSeq(ber::SEQUENCE);
        ctx_.oid = requested;
        if (snmpGetNext(ctx_) != snmp::ErrorStatus::NO_ERROR) {
            ctx_.out.rewind(before);
            return Step::Failed;
        }
        ctx_.out.endSeq();
        if (!replyFits(ctx_.out, replyLimit_)) {
            ctx_.out.rewind(before);
            return Step::Full;
        }
        ++answered_;
        return Step::Answered;
    }

    // The binding at `position` (from 1) has no answer: echoed with NULL, it
    // fails the request with noSuchName.
    PduOutcome echoFailure(size_t position, const OID& requested) {
        const size_t before = ctx_.out.mark();
        ctx_.out.startSeq(ber::SEQUENCE);
        ctx_.out.addOID(requested);
        ctx_.out.addNull();
        ctx_.out.endSeq();
        if (!replyFits(ctx_.out, replyLimit_)) {
            ctx_.out.rewind(before);
            return full();
        }
        return PduOutcome{snmp::ErrorStatus::NO_SUCH_NAME, static_cast<unsigned>(position)};
    }

    bool empty() const { return answered_ == 0; }

    // The next binding did not fit: a reply cut short, or tooBig when empty.
    PduOutcome full() const {
        return answered_ == 0 ? PduOutcome{snmp::ErrorStatus::TOO_BIG, 0} : PduOutcome{};
    }

  private:
    Context& ctx_;
    size_t replyLimit_;
    size_t answered_ = 0;
};

}  // namespace

std::optional<PduOutcome> serveBulk(Context& ctx, size_t replyLimit) {
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
    size_t repetitions = static_cast<size_t>(std::max(ctx.maxRepetitions, 0));
    if (repeaters > 0) {
        // More repetitions than the reply could ever hold would be wasted work.
        const size_t maxBindings = replyLimit / MIN_BINDING_OCTETS;
        repetitions = std::min(repetitions, (maxBindings + repeaters - 1) / repeaters);
    }

    BulkReply reply(ctx, replyLimit);
    for (size_t i = 0; i < nonRepeaters; ++i) {
        switch (reply.answer(names[i])) {
            case Step::Answered:
                break;
            case Step::Failed:  // as GetNext would answer it
                return reply.echoFailure(i + 1, names[i]);
            case Step::Full:
                return reply.full();
        }
    }
    // Each repeater goes on from the instance it answered last, kept in its name.
    for (size_t repetition = 0; repetition < repetitions; ++repetition) {
        for (size_t j = 0; j < repeaters; ++j) {
            OID& last = names[nonRepeaters + j];
            switch (reply.answer(last)) {
                case Step::Answered:
                    last = ctx.name;
                    break;
                case Step::Failed:
                    // Past the end of the tree: the reply ends with the last
                    // complete binding, and fails only when it has none.
                    if (!reply.empty()) return PduOutcome{};
                    return reply.echoFailure(nonRepeaters + j + 1, last);
                case Step::Full:
                    return reply.full();
            }
        }
    }
    return PduOutcome{};
}
