#include "request/pdu.h"

#include "platform/snmp/error_status.h"
#include "request/bindings.h"
#include "request/bulk.h"
#include "request/lookup.h"
#include "request/set.h"
#include "request/v1_values.h"

namespace {

// RFC 3584 4.4: the error statuses of SNMPv2 as an SNMPv1 manager gets them.
snmp::ErrorStatus asVersion1(snmp::ErrorStatus status) {
    using snmp::ErrorStatus;
    switch (status) {
        case ErrorStatus::NO_ACCESS:
        case ErrorStatus::NOT_WRITABLE:
        case ErrorStatus::NO_CREATION:
        case ErrorStatus::INCONSISTENT_NAME:
        case ErrorStatus::AUTHORIZATION_ERROR:
            return ErrorStatus::NO_SUCH_NAME;
        case ErrorStatus::WRONG_TYPE:
        case ErrorStatus::WRONG_LENGTH:
        case ErrorStatus::WRONG_ENCODING:
        case ErrorStatus::WRONG_VALUE:
        case ErrorStatus::INCONSISTENT_VALUE:
            return ErrorStatus::BAD_VALUE;
        case ErrorStatus::RESOURCE_UNAVAILABLE:
        case ErrorStatus::COMMIT_FAILED:
        case ErrorStatus::UNDO_FAILED:
            return ErrorStatus::GEN_ERR;
        default:
            return status;
    }
}

// RFC 3416 4.2.5: an SNMPv2 entity never sends noSuchName, badValue or
// readOnly; a plug-in's leaf that answers with one gets its SNMPv2 form.
snmp::ErrorStatus asVersion2(snmp::ErrorStatus status) {
    using snmp::ErrorStatus;
    switch (status) {
        case ErrorStatus::NO_SUCH_NAME:
        case ErrorStatus::READ_ONLY:
            return ErrorStatus::NOT_WRITABLE;
        case ErrorStatus::BAD_VALUE:
            return ErrorStatus::WRONG_VALUE;
        default:
            return status;
    }
}

std::optional<PduOutcome> serveSetFor(Context& ctx, const PduPolicy& policy) {
    std::optional<PduOutcome> outcome =
        serveSet(ctx, policy.canWrite, policy.replyLimit, policy.writeView);
    if (!outcome) return outcome;
    if (!policy.snmpV1) return PduOutcome{asVersion2(outcome->status), outcome->index};
    // A community without write access has always been told readOnly.
    if (!policy.canWrite && outcome->status == snmp::ErrorStatus::NO_ACCESS)
        return PduOutcome{snmp::ErrorStatus::READ_ONLY, 0};
    return PduOutcome{asVersion1(outcome->status), outcome->index};
}

std::optional<PduOutcome> serveByType(uint32_t type, Context& ctx, const PduPolicy& policy) {
    if (!policy.authorized) {
        // The bindings are echoed as for genErr; none is looked at.
        while (!ctx.in.isSeqEnd()) {
            OID name;
            if (!ctx.in.enterSeq() || !ctx.in.getOID(name)) return std::nullopt;
            ctx.in.exitSeq();
        }
        if (policy.snmpV1) return PduOutcome{snmp::ErrorStatus::NO_SUCH_NAME, 1};
        return PduOutcome{snmp::ErrorStatus::AUTHORIZATION_ERROR, 0};
    }
    switch (type) {
        case ber::GET_REQUEST:
            return serveLookups(ctx, policy.snmpV1 ? snmpGetV1 : snmpGet, policy.canRead,
                                policy.readView, Lookup::NoSuchObject, policy.snmpV1,
                                policy.replyLimit);
        case ber::GET_NEXT_REQUEST:
            return serveLookups(ctx, policy.snmpV1 ? snmpGetNextV1 : snmpGetNext, policy.canRead,
                                policy.readView, Lookup::EndOfMibView, policy.snmpV1,
                                policy.replyLimit);
        case ber::SET_REQUEST:
            return serveSetFor(ctx, policy);
        case ber::GET_BULK_REQUEST:
            if (!policy.canRead) {
                return serveLookups(ctx, snmpGetNext, false, nullptr, Lookup::EndOfMibView, false,
                                    policy.replyLimit);
            }
            return serveBulk(ctx, policy.replyLimit, policy.readView, policy.bulkBounds);
        default:
            return std::nullopt;
    }
}

// RFC 3412 7.1 step 3: a Report repeats the request-id of the PDU that
// failed. When the PDU stayed encrypted there is none to read, and the
// request-id is 0: managers match SNMPv3 reports by msgID.
bool writeReport(Context& ctx, const ReportBinding& report) {
    int requestId = 0;
    if (isPduType(ctx.in.getType()) && (!ctx.in.enterSeq() || !ctx.in.getInt(requestId)))
        return false;
    ctx.out.startSeq(ber::REPORT);
    ctx.out.add(requestId, ber::INTEGER);
    ctx.out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    ctx.out.addErrorIndex(0);
    ctx.out.startSeq(ber::SEQUENCE);
    ctx.out.startSeq(ber::SEQUENCE);
    ctx.out.addOID(report.name, ber::OBJECT_IDENTIFIER);
    ctx.out.add(report.counter, ber::COUNTER32);
    ctx.out.endSeq();
    ctx.out.endSeq();  // binding list
    ctx.out.endSeq();  // PDU
    return true;
}

// RFC 3416 4.2.1: a genErr reply repeats the request's bindings. `list` is
// the request's variable-bindings SEQUENCE.
void echoBindings(Context& ctx, const unsigned char* list, size_t length) {
    InStream request(list, length);
    if (!request.enterSeq()) return;
    while (!request.isSeqEnd()) {
        OID name;
        if (!request.enterSeq() || !request.getOID(name)) return;
        request.exitSeq();
        ctx.out.startSeq(ber::SEQUENCE);
        ctx.out.addOID(name);
        ctx.out.addNull(ber::NULL_VALUE);
        ctx.out.endSeq();
    }
}

}  // namespace

bool isPduType(uint32_t type) {
    return type >= ber::GET_REQUEST && type <= ber::REPORT;
}

bool isConfirmedClass(uint32_t type) {
    return type == ber::GET_REQUEST || type == ber::GET_NEXT_REQUEST ||
           type == ber::GET_BULK_REQUEST || type == ber::SET_REQUEST || type == ber::INFORM_REQUEST;
}

bool servePdu(Context& ctx, const PduPolicy& policy) {
    if (policy.report) return writeReport(ctx, *policy.report);
    const uint32_t type = ctx.in.getType();
    if (!ctx.in.enterSeq()) return false;
    ctx.out.startSeq(ber::RESPONSE);

    int requestId = 0;
    if (!ctx.in.getInt(requestId)) return false;
    ctx.out.add(requestId, ber::INTEGER);
    int second = 0;
    int third = 0;
    if (!ctx.in.getInt(second) || !ctx.in.getInt(third)) return false;
    ctx.nonRepeaters = second;
    ctx.maxRepetitions = third;

    ctx.out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    ctx.out.addErrorIndex(0);
    BerElement list;
    if (!ctx.in.peekElement(list) || !ctx.in.enterSeq()) return false;
    ctx.out.startSeq(ber::SEQUENCE);
    const size_t bindingsStart = ctx.out.mark();

    const std::optional<PduOutcome> outcome = serveByType(type, ctx, policy);
    if (!outcome) return false;
    if (outcome->status == snmp::ErrorStatus::TOO_BIG) ctx.out.rewind(bindingsStart);
    // A Set's reply repeats its bindings already, unless it was refused whole.
    if (!policy.authorized ||
        (outcome->status == snmp::ErrorStatus::GEN_ERR && type != ber::SET_REQUEST)) {
        ctx.out.rewind(bindingsStart);
        echoBindings(ctx, ctx.in.data() + list.headerOffset, list.endOffset() - list.headerOffset);
    }
    if (outcome->status != snmp::ErrorStatus::NO_ERROR) {
        ctx.out.addErrorStatus(outcome->status);
        ctx.out.addErrorIndex(static_cast<int>(outcome->index));
    }
    ctx.out.endSeq();  // binding list
    ctx.out.endSeq();  // PDU
    return true;
}
