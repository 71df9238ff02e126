// The Get and Set request handlers (see RequestHandler in request/context.h),
// called once per variable binding of a GetRequest or SetRequest PDU.
#pragma once

#include "request/context.h"

// Serves ctx.oid from the greatest registered OID not greater than it, when
// that OID is a prefix of the name. 0 when the leaf answered, else 2 (noSuchName).
unsigned snmpGet(Context& ctx);

// Hands the binding to the leaf registered under the longest prefix of
// ctx.oid. 0 when the leaf accepted the value, else 2 (noSuchName).
unsigned snmpSet(Context& ctx);
