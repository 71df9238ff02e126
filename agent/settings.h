// The agent's settings: what the platform's set commands change and record
// SETTINGS_RECORD of the settings store keeps. The message fields and
// commands are in mib/agent_settings.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mib/agent_settings.h"
#include "platform/orla/message.h"
#include "platform/snmp/v3_server_info.h"
#include "request/dispatch.h"

namespace snmp {

inline constexpr const char* SETTINGS_STORE_PATH = "/orla/store/snmpd";
inline constexpr uint32_t SETTINGS_RECORD = 0;

}  // namespace snmp

// The settings but those of the SNMP engine (its engine ID, boot count and
// parameter), which live in the engine, where requests read them.
struct AgentSettings {
    std::string communityName = "morvel";
    std::string text2;
    std::string text3;
    uint32_t trapCommunity = snmp::NO_COMMUNITY;
    uint32_t trapVersion = 0;
    uint32_t trapTarget = 0;  // network byte order
    std::vector<uint32_t> trapGenerators;
    bool enabled = false;
    bool authenTraps = false;       // snmpEnableAuthenTraps
    std::string generatedEngineID;  // the agent's own engine ID, made at its first start
    // The GetBulk bounds, and the access table once the agent has one.
    RequestRules requestRules;
};

// The settings record, as stored and as the get command answers: `settings`
// and the engine's values, its engine ID as the administrator's text (empty
// while the agent's own ID is in force).
orla::message settingsRecord(const AgentSettings& settings, const V3ServerInfo& engine);

// Takes a stored settings record into `settings` and `engine`, the boot
// count as it was stored. Fields the record lacks come out empty, 0 or
// false, the trap community as none. Returns the administrator's engine ID
// text, for the caller to put in force.
std::string readSettingsRecord(const orla::message& record, AgentSettings& settings,
                               V3ServerInfo& engine);
