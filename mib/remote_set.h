// Leaves whose instances another process keeps and sets (AgentX subagents,
// RFC 2741 7.2.4): a SetRequest reaches such a process once per phase, with
// every binding of the request it answers for in one message, and the
// request waits for its answers as for a platform service's
// (mib/platform_exchange.h). The Set's own machinery (request/set.cpp) drives
// the phases; not part of the SDK.
#pragma once

#include <cstdint>
#include <span>

#include "platform/snmp/error_status.h"
#include "platform/snmp/oid.h"

// One binding of a SetRequest: its name and its value's whole BER element.
struct RemoteBinding {
    OID name;
    std::span<const unsigned char> value;
};

enum class RemotePhase { Test, Commit, Undo };

// What a phase came to for one process.
struct RemoteAnswer {
    enum class State {
        Answered,  // with `status`, and `index` (from 1) among the bindings when refused
        Waiting,   // on its way: the request waits for it
        Failed,    // no answer came, or none can come
    };
    State state = State::Failed;
    snmp::ErrorStatus status = snmp::ErrorStatus::NO_ERROR;
    unsigned index = 0;
};

class RemoteSet {
  public:
    // Leaves of one group (one process) take their bindings in one message.
    virtual uint64_t setGroup() const = 0;
    // Runs `phase` of the Set of request `request` (servingRequest()) for the
    // group's `bindings`, in request order. An answer that came is returned
    // again each time the request is served again; a Commit goes only after
    // this group's Test passed, and an Undo only to a group that was sent its
    // Commit (otherwise it answers NO_ERROR at once: nothing to undo).
    virtual RemoteAnswer runPhase(uint64_t request, RemotePhase phase,
                                  std::span<const RemoteBinding> bindings) = 0;
    // The end of request `request`'s Set in this group, whatever it came to:
    // the process is told to let go of it, and nothing is awaited.
    virtual void endSet(uint64_t request) = 0;

  protected:
    ~RemoteSet() = default;
};
