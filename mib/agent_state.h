// What the agent tells plug-ins of itself: its SNMP engine and the moment it
// started. The agent fills it before it loads the plug-ins and keeps it
// current; plug-ins only read it.
#pragma once

#include <cstdint>

#include "platform/snmp/v3_server_info.h"

struct AgentState {
    // snmpEngineID, snmpEngineBoots and the base of snmpEngineTime
    // (RFC 3411 snmpEngine; usm::engineTime gives the time), with the
    // usmStats counters (RFC 3414 5).
    V3ServerInfo engine;
    // orla::getJiffies() when the agent started: sysUpTime counts from it.
    uint32_t startTick = 0;
};

extern AgentState agentState;

// snmpEngineTime now (RFC 3414 2.2.1): seconds since the boot count last
// changed.
uint32_t agentEngineTime();
