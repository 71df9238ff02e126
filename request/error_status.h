// SNMP error-status codes (RFC 1157 4.1.1). The agent writes these in every
// protocol version, never the SNMPv2 exception values (RFC 3416 3).
#pragma once

namespace snmp {

inline constexpr unsigned NO_ERROR = 0;
inline constexpr unsigned TOO_BIG = 1;
inline constexpr unsigned NO_SUCH_NAME = 2;
inline constexpr unsigned READ_ONLY = 4;
inline constexpr unsigned GEN_ERR = 5;

}  // namespace snmp
