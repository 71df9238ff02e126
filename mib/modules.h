// The MIB modules the agent implements, as the sysORTable of SNMPv2-MIB
// (RFC 3418) lists them to managers. Each plug-in registers, from its
// autorun, the modules whose objects it serves:
//
//     registerModule(OID("1.3.6.1.2.1.31"), "IF-MIB: network interfaces (RFC 2863)");
//
// The system group plug-in serves the list: sysORID is the module's OID
// (its MODULE-IDENTITY), sysORDescr the description, sysORUpTime the
// agent's sysUpTime at the registration, and sysORLastChange the
// sysUpTime of the latest one.
#pragma once

#include <string>
#include <vector>

#include "mib/data.h"
#include "platform/snmp/oid.h"

struct ModuleRecord : Data {
    OID id;
    std::string description;
    int upTime = 0;  // TimeTicks since the agent started; the packer sends them unsigned
};

// Appends a module. Plug-ins register from autorun. Between requests the
// list also follows the capabilities AgentX subagents add and remove
// (RFC 2741 AgentCaps), so keep no record across requests.
void registerModule(OID const& id, std::string const& description);
// Removes the first module registered under `id` with `description`; false
// when there is none.
bool unregisterModule(OID const& id, std::string const& description);

// The registered modules in order of registration: sysORIndex i is
// registeredModules[i - 1].
extern std::vector<ModuleRecord> registeredModules;
// sysORLastChange: TimeTicks since the agent started at the latest
// registration or removal.
extern int modulesLastChange;
