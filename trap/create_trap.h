// createTrap: one complete trap message (SNMPv1 Trap-PDU, SNMPv2c or SNMPv3
// SNMPv2-Trap-PDU), built by the first trap maker that takes the request,
// with the trap community's name or, in SNMPv3, as that community's user
// with its security level and keys.
#pragma once

#include <cstdint>
#include <span>

#include "community/community_keep.h"
#include "mib/agent_state.h"
#include "mib/context.h"
#include "mib/traps.h"
#include "platform/orla/message.h"

// Writes the trap into ctx.out (a context without input) in the SNMP
// `version` (snmp::VERSION_1, VERSION_2C or VERSION_3). `agentAddress` is
// the local IPv4 address the trap leaves from, in network byte order; only
// SNMPv1 traps carry it. `agent` gives the engine of SNMPv3 traps (RFC 3414
// 1.5.1: the sender of a trap is authoritative) and sysUpTime. `makers` are
// asked in order: the registered ones unless the caller chooses (the agent's
// own traps add their maker to them). False when the community's security
// level is not one of the three, no maker takes the request, or the SNMPv3
// message cannot be encrypted or signed with the community's keys; ctx.out
// is then to be discarded.
bool createTrap(Context& ctx, const orla::message& request, uint32_t agentAddress, int version,
                const CommunityKeep::Item& community, const AgentState& agent,
                std::span<const TrapMaker> makers = trapMakers);
