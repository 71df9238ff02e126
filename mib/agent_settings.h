// The agent's settings as platform messages carry them: the handler that
// holds them, its fields and commands. Plug-ins read settings through it (the
// system group's sysContact and sysLocation); orla-cli changes them.
#pragma once

#include <cstdint>

#include "platform/orla/message.h"

namespace snmp {

// The agent's service id in the messaging library: requests for the settings
// go to path [161], for the communities to [161, 1].
inline constexpr uint32_t SERVICE_ID = 161;

// The vendor's private enterprise number (IANA reserves 32473 for
// documentation): the engine ID prefix and the enterprise arc
// 1.3.6.1.4.1.32473 of the vendor's objects and traps.
inline constexpr uint32_t ENTERPRISE_NUMBER = 32473;

// Settings fields.
inline constexpr orla::BoolKey SNMP_ENABLED{1};
inline constexpr orla::StringKey SNMP_TEXT2{2};
inline constexpr orla::StringKey SNMP_TEXT3{3};
inline constexpr orla::StringKey SNMP_COMMUNITY_NAME{4};
// The administrator's engine ID text, without the prefix; empty for none.
inline constexpr orla::StringKey SNMP_ENGINE_ID{10};
inline constexpr orla::U32Key SNMP_ENGINE_BOOTS{13};
inline constexpr orla::U32Key SNMP_ENGINE_PARAM{14};
inline constexpr orla::Be32Key SNMP_TRAP_TARGET{16};
inline constexpr orla::U32Key SNMP_TRAP_COMMUNITY{17};
inline constexpr orla::U32Key SNMP_TRAP_VERSION{18};
inline constexpr orla::U32ArrayKey SNMP_TRAP_GENERATORS{19};
// The engine ID the agent made for itself at its first start, every octet
// (RFC 3411 format 5: random octets); in force while SNMP_ENGINE_ID is empty.
// The agent keeps it: a set request cannot change it.
inline constexpr orla::StringKey SNMP_GENERATED_ENGINE_ID{20};
// snmpEnableAuthenTraps (RFC 3418): whether a request that fails
// authentication brings the sink an authenticationFailure trap.
inline constexpr orla::BoolKey SNMP_AUTHEN_TRAPS{21};
// How far one GetBulk reply goes: at most this many repetitions, and no
// binding after the first beyond this many octets of reply (RFC 3416 4.2.3
// lets an agent answer fewer repetitions than asked).
inline constexpr orla::U32Key SNMP_BULK_REPETITIONS{40};
inline constexpr orla::U32Key SNMP_BULK_REPLY_OCTETS{41};

// Commands of the settings handler besides get and set.
inline constexpr uint32_t CMD_TRAP_REQUEST = 1;
inline constexpr uint32_t CMD_LIST_GENERATORS = 100;
inline constexpr uint32_t CMD_TRAP_REQUEST_ALT1 = 0xfe000b;
inline constexpr uint32_t CMD_TRAP_REQUEST_ALT2 = 0x10004;

// Trap generator id of the start trap, listed as "start-trap".
inline constexpr uint32_t START_TRAP_ID = 0xabc0001;

// No community selected for traps.
inline constexpr uint32_t NO_COMMUNITY = 0xffffffff;

}  // namespace snmp
