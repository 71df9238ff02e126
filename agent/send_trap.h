// Notification sending: one notification, one message to each target that
// receives it, a trap from a fresh socket, an inform through the inform queue.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "community/access_keep.h"
#include "community/community_keep.h"
#include "mib/agent_state.h"
#include "mib/traps.h"
#include "platform/orla/message.h"
#include "trap/informs.h"
#include "trap/notify_targets.h"

// What sending reads and counts in the agent.
struct NotificationRoutes {
    const CommunityKeep& communities;
    // Whose notify view (RFC 3415, RFC 3413 3.3) each target's community or
    // user has; null: every target gets every notification it selects.
    const AccessKeep* access;
    const AgentState& agent;
    NotifyTargets& targets;
    InformQueue& informs;
};

// Builds the notification for `request` with the first of `makers` that
// takes it and sends it to every target that receives `generator` (none: a
// notification of no generator, which every target receives), each in its
// version and as its community or user. A trap leaves from a fresh socket,
// so that its source (the agent address of SNMPv1) follows the current
// route to the target; an inform leaves from the agent's port through
// `routes.informs`. Writes one line and sends nothing when the agent is
// disabled, no target is set, or no maker takes the request; one line per
// target that cannot be sent to. A target whose community or user may not
// be notified of this notification (its notify view leaves out the
// notification's OID or one of its bindings) is passed over.
void sendTrap(const orla::message& request, std::span<const TrapMaker> makers,
              std::optional<uint32_t> generator, bool enabled, NotificationRoutes routes);
