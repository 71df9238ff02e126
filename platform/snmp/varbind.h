// VariableBinding: one name/value pair as a trap carries it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/snmp/ber.h"
#include "platform/snmp/oid.h"

struct VariableBinding {
    OID oid;                          // the name
    uint32_t type = ber::NULL_VALUE;  // BER tag of the value; set by the creator
    std::string value;                // content octets, without tag and length
};
