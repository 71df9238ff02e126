// The access configuration as managers read it, read-only:
// SNMP-VIEW-BASED-ACM-MIB (RFC 3415: vacmContextTable,
// vacmSecurityToGroupTable, vacmAccessTable, vacmViewTreeFamilyTable) and
// SNMP-COMMUNITY-MIB (RFC 3584: snmpCommunityTable), drawn from the access
// and community tables at each request. Changes go through the platform
// (orla-cli), which stores them and records their undo.
#pragma once

#include "community/access_keep.h"
#include "community/community_keep.h"
#include "platform/snmp/v3_server_info.h"

// Registers the objects and their modules. The tables must outlive the
// registry.
void registerAccessObjects(const CommunityKeep& communities, const AccessKeep& access,
                           const V3ServerInfo& engine);
