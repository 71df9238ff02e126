// The agent's settings: their store, and the text form of the engine ID. The
// message fields and commands are in mib/agent_settings.h.
#pragma once

#include <cstdint>
#include <string>

#include "mib/agent_settings.h"

namespace snmp {

inline constexpr const char* SETTINGS_STORE_PATH = "/orla/store/snmpd";
inline constexpr uint32_t SETTINGS_RECORD = 0;

}  // namespace snmp

// RFC 3411 snmpEngineID in text format: 0x80000000 + enterprise number
// (big-endian), the format octet 4 (administratively assigned text), the text.
std::string formatEngineID(const std::string& text);
// The text part of an engine ID built by formatEngineID; empty for any other ID.
std::string deformatEngineID(const std::string& id);
// RFC 3411 snmpEngineID of format 5: the same prefix with the format octet 5,
// then random octets from the kernel, so that no two agents share an ID and
// with it their localised keys (RFC 3414 2.6). Empty, after one line on the
// standard error stream, when the kernel gives no random octets.
std::string generateEngineID();
// True for an ID that generateEngineID could have made.
bool isGeneratedEngineID(const std::string& id);
