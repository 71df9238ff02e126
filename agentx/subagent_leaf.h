// SubagentLeaf: a subtree that an AgentX subagent registered, as a leaf of
// the object tree. Get and GetNext go to the subagent; the agent never
// waits for it: the request waits as for a platform service's answer
// (mib/platform_exchange.h), parked until the subagent answered, and is
// then served again, the answer at hand.
#pragma once

#include <cstdint>

#include "agentx/pdu.h"
#include "mib/leaf.h"

namespace agentx {

// What the leaf needs of the master: a request sent to a session.
class Forwarder {
  public:
    // Sends `type` (Get or GetNext) for `range` to session `sessionID`,
    // whose answer comes as the answer of `ticket` (exchangeAnswered) within
    // `timeoutMillis`, or when the session closes. False when the session
    // is gone.
    virtual bool forward(uint32_t sessionID, PduType type, const SearchRange& range,
                         uint32_t timeoutMillis, const std::string& ticket) = 0;

  protected:
    ~Forwarder() = default;
};

// The field of an answer (an orla::message kept under its ticket) that
// holds the subagent's Response frame.
inline constexpr uint32_t ANSWER_FRAME_FIELD = 1;
// The error code of an answer the subagent gave with an error status.
inline constexpr uint32_t ERR_SUBAGENT_ERROR = 0xfe0201;

class SubagentLeaf : public Leaf {
  public:
    SubagentLeaf(Forwarder& master, uint32_t sessionID, uint32_t timeoutMillis, OID root);

    bool get(Context& ctx) override;
    bool getNext(Context& ctx) override;

    uint32_t sessionID() const { return sessionID_; }

  private:
    // The subagent's binding for `range`, or nothing: not answered yet (the
    // request waits), failed (counted), or not sent.
    std::optional<VarBind> ask(PduType type, const SearchRange& range);

    Forwarder& master_;
    uint32_t sessionID_;
    uint32_t timeoutMillis_;
    OID root_;
};

}  // namespace agentx
