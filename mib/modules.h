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

// Appends a module. Register only from autorun: the list does not change
// once requests are served, and its records stay where they are.
void registerModule(OID const& id, std::string const& description);

// The registered modules in order of registration: sysORIndex i is
// registeredModules[i - 1].
extern std::vector<ModuleRecord> registeredModules;
