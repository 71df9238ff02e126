// The binding loops behind servePdu (request/pdu.h).
#pragma once

#include <cstddef>
#include <optional>

#include "mib/context.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/error_status.h"

// Error status and error-index of a served PDU.
struct PduOutcome {
    snmp::ErrorStatus status = snmp::ErrorStatus::NO_ERROR;
    unsigned index = 0;
};

// A request handler serves one variable binding. On entry ctx.oid holds the
// requested name, ctx.in stands at the binding's value and a binding
// SEQUENCE is open in ctx.out. It returns NO_ERROR after writing the reply
// binding's name and value into that SEQUENCE, or the error status of the
// request after writing nothing.
using RequestHandler = snmp::ErrorStatus (*)(Context&);

// True when `out`, once every open SEQUENCE is closed, stays within `limit`
// octets. A length slot grows to at most three octets for contents below
// 65536 (X.690 8.1.3.5), and the error-index may still grow by two octets.
bool replyFits(const OutStream& out, size_t limit);

// Serves the bindings at ctx.in one by one with `handler`, until the first
// one that fails. Without `allowed` the first binding is echoed and fails
// with `deniedStatus`. Empty when a binding cannot be decoded.
std::optional<PduOutcome> serveBindings(Context& ctx, RequestHandler handler, bool allowed,
                                        snmp::ErrorStatus deniedStatus, size_t replyLimit);

// Serves a GetBulkRequest (RFC 3416 4.2.3): the non-repeaters as GetNext
// would, then the repeaters interleaved repetition by repetition, each going
// on from the instance it answered last. The reply ends at the end of the
// tree or when the next binding would exceed `replyLimit`. Empty when a
// binding cannot be decoded.
std::optional<PduOutcome> serveBulk(Context& ctx, size_t replyLimit);
