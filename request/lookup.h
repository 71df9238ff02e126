// Get and GetNext of one binding through the registry (mib/registry.h).
#pragma once

#include "mib/context.h"
#include "request/outcome.h"

// Serves ctx.oid from the registration that answers for it: Answered, or
// NoSuchInstance when that leaf has no such instance. NoSuchObject when no
// registration answers for the name.
Lookup snmpGet(Context& ctx);

// Answers the first instance after ctx.oid in the order of the object tree,
// leaving its full name in ctx.name: Answered, or EndOfMibView past the last
// instance of the tree (nothing written then). GetBulk repeats it.
Lookup snmpGetNext(Context& ctx);
