// The binding loop behind servePdu (request/pdu.h) for Get and GetNext.
#pragma once

#include <cstddef>
#include <optional>

#include "community/view.h"
#include "mib/context.h"
#include "request/outcome.h"

// A lookup handler answers one binding within a view (null: everything).
// On entry ctx.oid holds the requested name, and a binding SEQUENCE is open
// in ctx.out; only when it answers (Lookup::Answered) has it written the
// binding's name and value there.
using LookupHandler = Lookup (*)(Context&, const View*);

// Serves the bindings at ctx.in one by one with `lookup`. In the SNMPv1
// shape the first binding without an answer ends the request: it is echoed
// with NULL and fails with noSuchName and its index. Otherwise every binding
// is answered, one without an instance by its exception value under the
// requested name (RFC 3416 4.2.1, 4.2.2). Without `allowed` no lookup is
// made: in the SNMPv1 shape the first binding fails so, otherwise each gets
// `denied` (nothing is in the requester's view). Empty when a binding cannot
// be decoded. `view` is handed to the lookup.
std::optional<PduOutcome> serveLookups(Context& ctx, LookupHandler lookup, bool allowed,
                                       const View* view, Lookup denied, bool v1Shape,
                                       size_t replyLimit);
