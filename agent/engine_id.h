// The agent's SNMP engine ID (RFC 3411 snmpEngineID): the text form an
// administrator sets, and the agent's own, made of random octets.
#pragma once

#include <cstddef>
#include <string>

// 0x80000000 + the enterprise number (big-endian), then the format octet.
inline constexpr size_t ENGINE_ID_PREFIX_LENGTH = 5;
// An engine ID has at most 32 octets (RFC 3411 SnmpEngineID): longer ones
// could never match a message's, which are read up to that bound.
inline constexpr size_t ENGINE_ID_TEXT_MAX = 32 - ENGINE_ID_PREFIX_LENGTH;

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
