// SubagentLeaf: a subtree that an AgentX subagent registered, as a leaf of
// the object tree. Get, GetNext and Set go to the subagent; the agent never
// waits for it: the request waits as for a platform service's answer
// (mib/platform_exchange.h), parked until the subagent answered, and is
// then served again, the answer at hand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agentx/pdu.h"
#include "mib/leaf.h"
#include "mib/remote_set.h"

namespace agentx {

// The ticket of a question to a subagent (mib/platform_exchange.h): one per
// session, PDU type and range, so a request served again finds its answer.
std::string ticketOf(uint32_t sessionID, PduType type, const SearchRange& range);

// At most this many instances are asked of a subagent at once, for the
// repetitions of a GetBulk.
inline constexpr uint16_t MAX_PREFETCH = 64;
// At least this many are asked for a GetNext: a walk's next steps are then
// answered without an exchange each (for as long as answers are kept).
inline constexpr uint16_t NEXT_PREFETCH = 8;

// What the leaf needs of the master: a request sent to a session.
class Forwarder {
  public:
    // Sends `type` (Get or GetNext) for `range` to session `sessionID`,
    // whose answer comes as the answer of ticketOf(sessionID, type, range)
    // (exchangeAnswered) within `timeoutMillis`, or when the session closes.
    // A GetNext with `repetitions` above 1 goes as a GetBulk, and the
    // instances after the first answer the GetNexts that a walk asks next
    // (prefetched). False when the session is gone.
    virtual bool forward(uint32_t sessionID, PduType type, const SearchRange& range,
                         uint16_t repetitions, uint32_t timeoutMillis) = 0;
    // A phase of a Set for session `sessionID` (RemoteSet::runPhase), each
    // PDU answered within `timeoutMillis`.
    virtual RemoteAnswer runSetPhase(uint32_t sessionID, uint64_t request, RemotePhase phase,
                                     std::span<const RemoteBinding> bindings,
                                     uint32_t timeoutMillis) = 0;
    // RemoteSet::endSet for session `sessionID`.
    virtual void endSet(uint32_t sessionID, uint64_t request) = 0;
    // The instance after `range.start` within `range` that session
    // `sessionID` sent with an earlier answer and that is still fresh, or
    // nothing. Valid until the master is called again.
    virtual const VarBind* prefetched(uint32_t sessionID, const SearchRange& range) const = 0;

  protected:
    ~Forwarder() = default;
};

// The field of an answer (an orla::message kept under its ticket) that
// holds the subagent's Response frame.
inline constexpr uint32_t ANSWER_FRAME_FIELD = 1;
// The error code of an answer the subagent gave with an error status.
inline constexpr uint32_t ERR_SUBAGENT_ERROR = 0xfe0201;

// Its Sets go to the subagent as RFC 2741 7.2.4's TestSet, CommitSet,
// UndoSet and CleanupSet, with the other bindings of the same session.
class SubagentLeaf : public Leaf, public RemoteSet {
  public:
    SubagentLeaf(Forwarder& master, uint32_t sessionID, uint32_t timeoutMillis, OID root);

    bool get(Context& ctx) override;
    bool getNext(Context& ctx) override;

    uint64_t setGroup() const override { return sessionID_; }
    RemoteAnswer runPhase(uint64_t request, RemotePhase phase,
                          std::span<const RemoteBinding> bindings) override {
        return master_.runSetPhase(sessionID_, request, phase, bindings, timeoutMillis_);
    }
    void endSet(uint64_t request) override { master_.endSet(sessionID_, request); }

    uint32_t sessionID() const { return sessionID_; }
    // Registrations came or went: whether one is nested in this subtree is
    // worked out again.
    void registryChanged() { nestingKnown_ = false; }

  private:
    // The subagent's binding for `range`, or nothing: not answered yet (the
    // request waits), failed (counted), or not sent.
    std::optional<VarBind> ask(PduType type, const SearchRange& range, uint16_t repetitions);

    Forwarder& master_;
    uint32_t sessionID_;
    uint32_t timeoutMillis_;
    OID root_;
    OID afterRoot_;  // the first name after the subtree; empty when none follows
    bool nestingKnown_ = false;
    bool nested_ = false;  // a registration lies inside the subtree
};

}  // namespace agentx
