// The value of a trap request's binding as the administrator types it: a type
// by name or BER tag, and text that becomes the value's content octets.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tools/orla-cli/snmp_values.h"

namespace orla::cli {

// Value types by name, with their BER tags (X.690, RFC 2578).
inline constexpr std::array<NamedCode, 8> TRAP_VALUE_TYPES{{
    {"integer", 0x02},
    {"string", 0x04},
    {"null", 0x05},
    {"oid", 0x06},
    {"ipaddress", 0x40},
    {"counter", 0x41},
    {"gauge", 0x42},
    {"timeticks", 0x43},
}};

// The content octets of `text` as a value of BER tag `type`:
//   integer            -2147483648..2147483647, minimal two's complement
//   counter, gauge, timeticks   0..4294967295, minimal, never read as negative
//   ipaddress          A.B.C.D, four octets
//   oid                dotted decimal, at least two arcs
//   null               empty text only, no octets
//   string and any other tag   the text as is
// False when the text is not a value of that type.
bool encodeTrapValue(uint32_t type, const std::string& text, std::string& content);

}  // namespace orla::cli
