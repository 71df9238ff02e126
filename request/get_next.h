// The GetNext and GetBulk request handlers (see RequestHandler in
// request/context.h).
#pragma once

#include "request/context.h"

// Answers the first instance after ctx.oid in the order of the object tree,
// leaving its full name in ctx.name. 0 when a leaf answered, 2 (noSuchName)
// past the last instance of the tree.
unsigned snmpGetNext(Context& ctx);

// Answers ctx.maxRepetitions successive instances for one binding, each in
// its own binding SEQUENCE: the first in the one the caller opened, which the
// caller closes, as it does the last one written here. Writes nothing and
// returns 0 when ctx.maxRepetitions is 0 or negative; on a failing repetition
// it writes "Error <status>" to stderr and returns that status, leaving the
// earlier repetitions written and the failing one open and empty. Every
// binding is repeated: non-repeaters are the caller's business.
unsigned snmpGetBulk(Context& ctx);
