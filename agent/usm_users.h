// SNMP-USER-BASED-SM-MIB's users (RFC 3414 5): usmUserTable for the
// agent's engine ID, one row per SNMPv3 user of the
// community table. Managers list the users, create them by cloning another
// (createAndGo or createAndWait with usmUserCloneFrom), change their keys
// with the KeyChange columns, set usmUserPublic and activate, deactivate
// or destroy them, as net-snmp's snmpusm does. A change is made through the
// community table's own commands, so it is stored before the Set is
// answered, announced and recorded for undo like any other.
#pragma once

#include "community/community_keep.h"
#include "mib/leaf.h"
#include "platform/snmp/v3_server_info.h"

// A new usmUserTable leaf (for AgentState::makeUserTable). The table and the
// engine must outlive it.
Leaf* newUsmUserTable(CommunityKeep& communities, const V3ServerInfo& engine);
