// A subagent's Notify (RFC 2741 6.2.10) as the agent's own trap sending
// takes it: a trap request, and the trap maker that builds the trap of it.
#pragma once

#include <vector>

#include "agentx/pdu.h"
#include "mib/traps.h"
#include "platform/orla/message.h"

namespace agentx {

// The request that carries `bindings` to notifyTrapMaker.
orla::message notifyRequest(const std::vector<VarBind>& bindings);

// Takes only notifyRequest's requests. The trap is snmpTrapOID.0's value,
// which must be there (RFC 2741 6.2.10); sysUpTime.0, which the agent
// writes itself, is left out; the other bindings follow in their order.
// The SNMPv1 form follows RFC 3584 3.2.
bool notifyTrapMaker(std::vector<VariableBinding>& bindings, const orla::message& request,
                     OID& trapOid, int& genericTrap, int& specificTrap);

}  // namespace agentx
