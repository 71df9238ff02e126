// What serving a binding and a PDU comes to.
#pragma once

#include "platform/snmp/error_status.h"

// What the lookup of one instance found (RFC 3416 4.2.1 to 4.2.3). Only
// Answered has written anything into ctx.out: the binding's name and value.
enum class Lookup { Answered, NoSuchObject, NoSuchInstance, EndOfMibView };

// Error status and error-index of a served PDU.
struct PduOutcome {
    snmp::ErrorStatus status = snmp::ErrorStatus::NO_ERROR;
    unsigned index = 0;
};
