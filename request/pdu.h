// Serving the PDU of a received message, once its header (community, or
// SNMPv3 security parameters) has been checked and written to the reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "community/view.h"
#include "mib/context.h"
#include "request/bulk.h"
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
    // The views reading and writing are limited to (RFC 3415); null: none.
    const View* readView = nullptr;
    const View* writeView = nullptr;
    // False: the request is refused whole with authorizationError (RFC 3415
    // 3.2), its bindings echoed, nothing read or written.
    bool authorized = true;
    // How far a GetBulk reply goes (request/bulk.h).
    BulkBounds bulkBounds;
    // Upper bound of the whole reply message in octets. SNMPv3 lowers it to
    // the manager's msgMaxSize less its own overhead (RFC 3412 7.1 step 3).
    size_t replyLimit = ber::MAX_UDP_PAYLOAD;
    // SNMPv3 only: when set, the reply is a Report PDU (RFC 3412 7.1 step 3)
    // with this one binding; the request's bindings are not read, and its
    // request-id only when the PDU could be read (0 otherwise).
    std::optional<ReportBinding> report;
    // SNMPv1 requests: Get and GetNext treat Counter64 values as absent
    // (RFC 3584 4.2.2.1, request/v1_values.h), the first binding without an
    // instance fails the request, and the statuses of SNMPv2 are mapped onto
    // those of SNMPv1 (RFC 3584 4.4).
    bool snmpV1 = false;
};

// Reads the PDU at ctx.in (its type, request id, the two header integers
// into ctx.nonRepeaters and ctx.maxRepetitions, the bindings) and writes the
// Response PDU (or the Report PDU of policy.report) into ctx.out, inside the
// message SEQUENCE the caller opened and closes. Get, GetNext, Set and
// GetBulk are served; the caller has made sure the PDU is one of them. False
// when no reply is to be sent: a PDU that cannot be decoded.
//
// In SNMPv2c and SNMPv3 every binding of a Get, GetNext or GetBulk is
// answered, with an exception value where there is no instance (RFC 3416
// 4.2.1 to 4.2.3); a Set has the statuses of RFC 3416 4.2.5 (request/set.h).
// In SNMPv1 the first binding without an instance ends a Get or GetNext,
// echoed with NULL, with noSuchName (2) and its position as error-index; a
// Set's status is mapped as RFC 3584 4.4 says, and a Set the policy forbids
// gets readOnly (4) with index 0. An unauthorized request gets
// authorizationError (16) with index 0, noSuchName (2) with index 1 in
// SNMPv1 (RFC 3584 4.4). A reply that would exceed
// policy.replyLimit becomes tooBig (1) with index 0 and no bindings; a
// GetBulk reply is cut short instead.
bool servePdu(Context& ctx, const PduPolicy& policy);
