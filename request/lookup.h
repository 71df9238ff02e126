// Get and GetNext of one binding through the registry (mib/registry.h),
// within the requester's view (RFC 3415).
#pragma once

#include "community/view.h"
#include "mib/context.h"
#include "request/outcome.h"

// Serves ctx.oid from the registration that answers for it: Answered, or
// NoSuchInstance when that leaf has no such instance. NoSuchObject when no
// registration answers for the name, or `view` (null: no view, everything)
// does not include it.
Lookup snmpGet(Context& ctx, const View* view = nullptr);

// Answers the first instance after ctx.oid in the order of the object tree
// that `view` includes, leaving its full name in ctx.name: Answered, or
// EndOfMibView past the last such instance (nothing written then). GetBulk
// repeats it.
Lookup snmpGetNext(Context& ctx, const View* view = nullptr);
