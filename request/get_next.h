// The GetNext request handler (see RequestHandler in request/bindings.h),
// which GetBulk repeats.
#pragma once

#include "mib/context.h"
#include "platform/snmp/error_status.h"

// Answers the first instance after ctx.oid in the order of the object tree,
// leaving its full name in ctx.name. NO_ERROR when a leaf answered, NO_SUCH_NAME
// past the last instance of the tree.
snmp::ErrorStatus snmpGetNext(Context& ctx);
