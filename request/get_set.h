// The Get and Set request handlers (see RequestHandler in request/bindings.h),
// called once per variable binding of a GetRequest or SetRequest PDU.
#pragma once

#include "mib/context.h"
#include "platform/snmp/error_status.h"

// Serves ctx.oid from the greatest registered OID not greater than it, when
// that OID is a prefix of the name. NO_ERROR when the leaf answered, else NO_SUCH_NAME.
snmp::ErrorStatus snmpGet(Context& ctx);

// Hands the binding to the leaf registered under the longest prefix of
// ctx.oid. NO_ERROR when the leaf accepted the value, else NO_SUCH_NAME.
snmp::ErrorStatus snmpSet(Context& ctx);
