// Serving the PDU of a received message, once its header (community, or
// SNMPv3 security parameters) has been checked and written to the reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "mib/context.h"
#include "platform/snmp/ber.h"
#include "platform/snmp/oid.h"

// Whether a BER tag is one of the PDU types of RFC 3416 3 (0xa0 to 0xa8).
bool isPduType(uint32_t type);
// The Confirmed class of RFC 3411 2.8: the PDUs that expect an answer (Get,
// GetNext, GetBulk, Set, Inform).
bool isConfirmedClass(uint32_t type);

// The one binding of a Report PDU: a usmStats counter (RFC 3414 5), sent as
// a Counter32.
struct ReportBinding {
    OID name;
    uint32_t counter = 0;
};

// What the message header grants the request.
struct PduPolicy {
    bool canRead = false;   // Get, GetNext, GetBulk
    bool canWrite = false;  // Set
    // Upper bound of the whole reply message in octets. SNMPv3 lowers it to
    // the manager's msgMaxSize less its own overhead (RFC 3412 7.1 step 3).
    size_t replyLimit = ber::MAX_UDP_PAYLOAD;
    // SNMPv3 only: when set, the reply is a Report PDU (RFC 3412 7.1 step 3)
    // with this one binding; the request's bindings are not read, and its
    // request-id only when the PDU could be read (0 otherwise).
    std::optional<ReportBinding> report;
    // SNMPv1 requests: Get and GetNext treat Counter64 values as absent
    // (RFC 3584 4.2.2.1, request/v1_values.h).
    bool hideCounter64 = false;
};

// Reads the PDU at ctx.in (its type, request id, the two header integers
// into ctx.nonRepeaters and ctx.maxRepetitions, the bindings) and writes the
// Response PDU (or the Report PDU of policy.report) into ctx.out, inside the
// message SEQUENCE the caller opened and closes. Get, GetNext, Set and
// GetBulk are served; the caller has made sure the PDU is one of them. False
// when no reply is to be sent: a PDU that cannot be decoded.
//
// Error statuses follow RFC 1157 in every version: the first binding that
// fails ends the request, is echoed with NULL and gives noSuchName (2) with
// its position as error-index, or readOnly (4) with index 0 when the policy
// forbids a Set. A reply that would exceed policy.replyLimit becomes tooBig
// (1) with index 0 and no bindings; a GetBulk reply is cut short instead.
bool servePdu(Context& ctx, const PduPolicy& policy);
