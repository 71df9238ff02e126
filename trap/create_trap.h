// Notifications in two steps: the first trap maker that takes a request gives
// its content (makeNotification), which is then encoded once per target
// (encodeNotification): an SNMPv1 Trap-PDU, or an SNMPv2c or SNMPv3
// SNMPv2-Trap-PDU or InformRequest-PDU, with the target's community name or,
// in SNMPv3, as its user with that user's security level and keys.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "community/community_keep.h"
#include "mib/agent_state.h"
#include "mib/traps.h"
#include "platform/orla/message.h"
#include "platform/snmp/ber_out.h"

// What every target's message of one notification carries alike.
struct Notification {
    // The SNMPv1 identity the maker gave (RFC 3584 3.1 derives snmpTrapOID.0).
    OID trapOid;
    int genericTrap = 0;
    int specificTrap = 0;
    std::vector<VariableBinding> bindings;
    uint32_t upTime = 0;  // sysUpTime when it was made, hundredths of a second
};

// Asks `makers` in order for `request`; the first that takes it gives the
// content, stamped with the agent's uptime. nullopt when none takes it: the
// request is then written to stdout after "Could not handle trap, msg dump:".
std::optional<Notification> makeNotification(const orla::message& request, const AgentState& agent,
                                             std::span<const TrapMaker> makers = trapMakers);

// The notification's snmpTrapOID.0 value (RFC 3584 3.1: an
// enterprise-specific trap becomes enterprise.0.specific).
OID notificationOid(const Notification& notification);

// How one target gets it.
struct NotificationForm {
    int version = 1;  // snmp::VERSION_1, VERSION_2C or VERSION_3
    bool inform = false;
    int32_t requestId = 0;
    uint32_t msgID = 0;  // SNMPv3
    // SNMPv1: the local IPv4 address the trap leaves from towards the
    // target, network byte order (0 towards an IPv6 target).
    uint32_t agentAddress = 0;
    // SNMPv3 informs: the receiver's engine as learnt (RFC 3414 4: the
    // receiver of an inform is authoritative), to whose engine ID `user`'s
    // keys are localised. Null for traps, whose authoritative engine is the
    // agent's.
    const V3ServerInfo* receiver = nullptr;
};

// Writes the message into `out` (fresh, nothing written). SNMPv3 traps carry
// the agent's `engine` (RFC 3414 1.5.1: the sender of a trap is
// authoritative) and `user`'s keys, localised to it; informs the receiver's
// engine; both name the agent's engine as the context's. False when the user's
// security level is not one of the three, or the SNMPv3 message cannot be
// encrypted or signed with its keys; `out` is then to be discarded.
bool encodeNotification(OutStream& out, const Notification& notification,
                        const NotificationForm& form, const CommunityKeep::Item& user,
                        const V3ServerInfo& engine);
