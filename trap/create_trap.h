// createTrap: one complete trap message in the version the agent is set to
// send (SNMPv1 Trap-PDU, SNMPv2c or SNMPv3 SNMPv2-Trap-PDU), built by the
// first trap maker that takes the request, with the trap community's name or,
// in SNMPv3, as that community's user with its security level and keys.
#pragma once

#include <cstdint>

#include "platform/orla/message.h"
#include "request/context.h"

// Writes the trap into ctx.out (a context without input). `agentAddress` is
// the local IPv4 address the trap leaves from, in network byte order; only
// SNMPv1 traps carry it. False when the trap community is gone, no maker
// takes the request, or the SNMPv3 message cannot be encrypted or signed
// with the community's keys; ctx.out is then to be discarded.
bool createTrap(Context& ctx, const orla::message& request, uint32_t agentAddress);
