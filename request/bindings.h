// The binding loops behind servePdu (request/pdu.h) for Get, GetNext and
// GetBulk.
#pragma once

#include <cstddef>
#include <optional>

#include "mib/context.h"
#include "platform/snmp/ber_out.h"
#include "request/get_set.h"

// A lookup handler answers one binding. On entry ctx.oid holds the requested
// name, and a binding SEQUENCE is open in ctx.out; only when it answers
// (Lookup::Answered) has it written the binding's name and value there.
using LookupHandler = Lookup (*)(Context&);

// True when `out`, once every open SEQUENCE is closed, stays within `limit`
// octets. A length slot grows to at most three octets for contents below
// 65536 (X.690 8.1.3.5), and the error-index may still grow by two octets.
bool replyFits(const OutStream& out, size_t limit);

// Serves the bindings at ctx.in one by one with `lookup`. In the SNMPv1
// shape the first binding without an answer ends the request: it is echoed
// with NULL and fails with noSuchName and its index. Otherwise every binding
// is answered, one without an instance by its exception value under the
// requested name (RFC 3416 4.2.1, 4.2.2). Without `allowed` no lookup is
// made: in the SNMPv1 shape the first binding fails so, otherwise each gets
// `denied` (nothing is in the requester's view). Empty when a binding cannot
// be decoded.
std::optional<PduOutcome> serveLookups(Context& ctx, LookupHandler lookup, bool allowed,
                                       Lookup denied, bool v1Shape, size_t replyLimit);

// Serves a GetBulkRequest (RFC 3416 4.2.3): the non-repeaters as GetNext
// would, then the repeaters interleaved repetition by repetition, each going
// on from the instance it answered last; past the end of the tree a binding
// is endOfMibView under the name it went on from. The reply ends after the
// first repetition in which every repeater is at the end, or where the next
// binding would exceed `replyLimit` (tooBig when not even one fits). Empty
// when a binding cannot be decoded.
std::optional<PduOutcome> serveBulk(Context& ctx, size_t replyLimit);
