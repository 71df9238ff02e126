// Trap sending: one trap, one datagram to UDP port 162 of the trap sink.
#pragma once

#include <span>

#include "agent/settings.h"
#include "community/community_keep.h"
#include "mib/agent_state.h"
#include "mib/traps.h"
#include "platform/orla/message.h"

// Builds one trap for `request` with the first of `makers` that takes it, in
// the version and as the community that `settings` select, and sends it to
// their trap sink from a fresh socket, so that the agent address follows the
// current route. `communities` holds the trap community; `agent` gives the
// engine and start tick. Writes one line and sends nothing when the agent is
// disabled, no sink is set, or the trap cannot be built or sent.
void sendTrap(const orla::message& request, std::span<const TrapMaker> makers,
              const AgentSettings& settings, const CommunityKeep& communities,
              const AgentState& agent);
