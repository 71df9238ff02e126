// The GetNext request handler, which GetBulk repeats.
#pragma once

#include "mib/context.h"
#include "request/get_set.h"

// Answers the first instance after ctx.oid in the order of the object tree,
// leaving its full name in ctx.name: Answered, or EndOfMibView past the last
// instance of the tree (nothing written then).
Lookup snmpGetNext(Context& ctx);
