// V3ServerInfo: the agent's own SNMP engine, as the user-based security model
// needs it (RFC 3414 2.2: snmpEngineID, snmpEngineBoots, snmpEngineTime).
#pragma once

#include <cstdint>
#include <string>

struct V3ServerInfo {
    uint32_t engineBoots = 1;     // snmpEngineBoots
    uint32_t engineTimeBase = 0;  // snmpEngineTime is orla::getUptime() minus this
    uint32_t engineParam = 15;    // stored and reported; opaque to the agent
    std::string engineID;         // full snmpEngineID octets
};
