// The agent's settings store. The message fields and commands are in
// mib/agent_settings.h.
#pragma once

#include <cstdint>

#include "mib/agent_settings.h"

namespace snmp {

inline constexpr const char* SETTINGS_STORE_PATH = "/orla/store/snmpd";
inline constexpr uint32_t SETTINGS_RECORD = 0;

}  // namespace snmp
