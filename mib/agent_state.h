// What the agent tells plug-ins of itself: its SNMP engine and the moment it
// started. The agent fills it before it loads the plug-ins and keeps it
// current; plug-ins only read it.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/snmp/v3_server_info.h"

class Leaf;  // mib/leaf.h

struct AgentState {
    // snmpEngineID, snmpEngineBoots and the base of snmpEngineTime
    // (RFC 3411 snmpEngine; usm::engineTime gives the time), with the
    // usmStats counters (RFC 3414 5).
    V3ServerInfo engine;
    // orla::getJiffies() when the agent started: sysUpTime counts from it.
    uint32_t startTick = 0;
    // SNMP-USER-BASED-SM-MIB's usmUserTable (RFC 3414 5), which the agent
    // serves from its own table of SNMPv3 users: a new leaf, created with
    // new, for the plug-in that registers the module to register under
    // 1.3.6.1.6.3.15.1.2.2. Empty where the agent has no users' table.
    std::function<Leaf*()> makeUserTable;
};

extern AgentState agentState;

// snmpEngineTime now (RFC 3414 2.2.1): seconds since the boot count last
// changed.
uint32_t agentEngineTime();
