#include "agentx/subagent_leaf.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "agentx/values.h"
#include "mib/exchange_waits.h"
#include "mib/platform_exchange.h"
#include "mib/registry.h"
#include "platform/orla/ids.h"

namespace agentx {

namespace {

// The first name after the subtree of `root`; empty when none can follow.
OID afterSubtree(const OID& root) {
    OID after = root;
    while (!after.empty() && after.back() == UINT32_MAX)
        after.popBack();
    if (after.empty()) return after;
    const uint32_t last = after.back();
    after.popBack();
    after += last + 1;
    return after;
}

}  // namespace

SubagentLeaf::SubagentLeaf(Forwarder& master, uint32_t sessionID, uint32_t timeoutMillis, OID root)
    : master_(master),
      sessionID_(sessionID),
      timeoutMillis_(timeoutMillis),
      root_(std::move(root)),
      afterRoot_(afterSubtree(root_)) {}

std::string ticketOf(uint32_t sessionID, PduType type, const SearchRange& range) {
    // The arcs as they are in memory: a ticket is only ever compared, and
    // writing them out in decimal cost more than the rest of a request.
    // The start's length comes first, so the end needs none.
    constexpr std::string_view prefix = "agentx:";
    const auto startArcs = static_cast<uint32_t>(range.start.size());
    std::string ticket;
    ticket.reserve(prefix.size() + 10 + 4 * (range.start.size() + range.end.size()));
    ticket += prefix;
    ticket.append(reinterpret_cast<const char*>(&sessionID), sizeof sessionID);
    ticket += static_cast<char>(type);
    ticket += range.include ? '+' : '-';
    ticket.append(reinterpret_cast<const char*>(&startArcs), sizeof startArcs);
    ticket.append(reinterpret_cast<const char*>(range.start.data()), 4 * range.start.size());
    ticket.append(reinterpret_cast<const char*>(range.end.data()), 4 * range.end.size());
    return ticket;
}

std::optional<VarBind> SubagentLeaf::ask(PduType type, const SearchRange& range,
                                         uint16_t repetitions) {
    const std::string ticket = ticketOf(sessionID_, type, range);
    if (std::optional<orla::message> kept = keptAnswer(ticket)) {
        if (orla::getErrorCode(*kept) != 0) {
            if (!answerFailed(*kept)) countFailedAnswer();  // keptAnswer counted the others
            return std::nullopt;
        }
        const std::string frame = kept->get(orla::StringKey{ANSWER_FRAME_FIELD});
        Pdu response;
        size_t used = 0;
        const auto bytes = std::span(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
        if (decode(bytes, response, used) != DecodeError::None || response.bindings.size() != 1) {
            countFailedAnswer();
            return std::nullopt;
        }
        return std::move(response.bindings.front());
    }
    // Outside a request that may wait (a trap's bindings), nothing is asked.
    if (!mayWait()) return std::nullopt;
    const bool started = onItsWay(ticket);
    if (mustFail(started)) {
        countFailedAnswer();
        return std::nullopt;
    }
    if (!started && !master_.forward(sessionID_, type, range, repetitions, timeoutMillis_)) {
        countFailedAnswer();
        return std::nullopt;
    }
    waitFor(ticket);
    return std::nullopt;
}

bool SubagentLeaf::get(Context& ctx) {
    OID name = ctx.name;
    name += ctx.oid;
    const std::optional<VarBind> answer = ask(PduType::Get, SearchRange{name, false, {}}, 1);
    // A subagent's answer for another name than asked is no answer.
    if (!answer || isException(answer->type) || answer->name != name) return false;
    ctx.name = name;
    ctx.out.addOID(name);
    writeValue(ctx.out, *answer);
    return true;
}

bool SubagentLeaf::getNext(Context& ctx) {
    SearchRange range;
    range.start = ctx.name;
    range.start += ctx.oid;
    range.include = ctx.oid.empty();
    // The range ends with the subtree, or where the next registration begins:
    // past it another leaf answers. Only a registration nested in the
    // subtree begins before the subtree ends, and most subtrees have none;
    // after start-up registrations change through the master alone, which
    // tells its leaves (registryChanged).
    range.end = afterRoot_;
    if (!nestingKnown_) {
        const auto inside = leafs.upper_bound(root_);
        nested_ = inside != leafs.end() && (afterRoot_.empty() || inside->first < afterRoot_);
        nestingKnown_ = true;
    }
    if (nested_) {
        const auto next = leafs.upper_bound(range.start);
        if (next != leafs.end() && (range.end.empty() || next->first < range.end))
            range.end = next->first;
    }
    // A GetBulk's repetitions will ask for the instances after this one,
    // and so, likely, will a GetNext walk's next requests (a GetNext's
    // max-repetitions field is its error-index, 0).
    const auto repetitions = static_cast<uint16_t>(
        ctx.maxRepetitions > 0 ? std::min<int32_t>(ctx.maxRepetitions, MAX_PREFETCH)
                               : NEXT_PREFETCH);
    // A walk's next step, answered with the step before it.
    const VarBind* answer = master_.prefetched(sessionID_, range);
    std::optional<VarBind> asked;
    if (answer == nullptr) {
        asked = ask(PduType::GetNext, range, repetitions);
        if (!asked) return false;
        answer = &*asked;
    }
    if (isException(answer->type)) return false;
    // RFC 2741 7.2.3.2: within the range, or no answer; a walk never goes back.
    const OID& name = answer->name;
    const bool after = range.include ? name >= range.start : name > range.start;
    if (!after || !root_.isPrefixOf(name) || (!range.end.empty() && name >= range.end))
        return false;
    ctx.name = name;
    ctx.out.addOID(name);
    writeValue(ctx.out, *answer);
    return true;
}

}  // namespace agentx
