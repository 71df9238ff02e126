#include "request/dispatch.h"

#include "platform/orla/throttled_line.h"
#include "platform/snmp/usm.h"
#include "request/pdu.h"
#include "request/v3.h"

namespace {

// Lines that strangers' datagrams cause, throttled.
orla::ThrottledLine authenticationFailed(" authentification failed");
orla::ThrottledLine versionNotSupported("version not supported");
orla::ThrottledLine unknownRequestCommand("unknown request command");

// SNMPv1 and SNMPv2c share the community header (RFC 1157 4, RFC 1901 3): a
// community string, then the PDU. Version 2 was the historic SNMPv2u
// (RFC 1910), whose messages have another header: not served.
bool isCommunityVersion(int version) {
    return version == snmp::VERSION_1 || version == snmp::VERSION_2C;
}

// The PDUs the agent serves, counted when dropped: SNMPv1 has no GetBulk
// (the PDUs of RFC 1157 4.1; a v1 message holding one does not decode), and
// Inform, Response, Report and trap PDUs have no application here
// (RFC 3412 4.2.2.1, snmpUnknownPDUHandlers).
bool isServed(int version, uint32_t type, MessageDrops& dropped) {
    switch (type) {
        case ber::GET_REQUEST:
        case ber::GET_NEXT_REQUEST:
        case ber::SET_REQUEST:
            return true;
        case ber::GET_BULK_REQUEST:
            if (version != snmp::VERSION_1) return true;
            ++dropped.asnParseErrors;
            return false;
        default:
            if (!isPduType(type)) {
                ++dropped.asnParseErrors;
                return false;
            }
            ++dropped.unknownPduHandlers;
            unknownRequestCommand.write();
            return false;
    }
}

// Reads and checks the community and writes it to the reply: the
// community's record, or null. Communities with an SNMPv3 security level
// are users that must authenticate (RFC 3414): they never serve
// community-based requests.
const CommunityKeep::Item* acceptCommunity(Context& ctx, SourceAddress sourceAddress,
                                           const CommunityKeep& communities) {
    if (!ctx.in.getString(ctx.community)) return nullptr;
    const CommunityKeep::Item* item = communities.findItem(ctx.community);
    if (item == nullptr || item->security != 0 || !item->active()) return nullptr;
    if (!item->admits(sourceAddress)) return nullptr;
    ctx.out.add(ctx.community, ber::OCTET_STRING);
    return item;
}

// What an operation needs of a community's rights.
bool usesGranted(uint32_t type, const PduPolicy& policy) {
    return type == ber::SET_REQUEST ? policy.canWrite : policy.canRead;
}

// RFC 3415 3.2 (isAccessAllowed) for the request of `item` at the given
// security model and level, in the default context: what the policy grants.
void grant(const CommunityKeep::Item& item, uint32_t model, uint32_t level,
           const RequestRules& rules, uint32_t type, PduPolicy& policy) {
    const bool writes = type == ber::SET_REQUEST;
    if (rules.access == nullptr) {
        policy.canRead = item.readAccess;
        policy.canWrite = item.writeAccess;
        policy.authorized = level >= item.security;
    } else {
        const AccessRights rights = rules.access->rights(
            item, model, level, "", writes ? Operation::Write : Operation::Read);
        (writes ? policy.canWrite : policy.canRead) = rights.view != nullptr;
        (writes ? policy.writeView : policy.readView) = rights.view;
        policy.authorized =
            rights.authorized && (rights.view != nullptr || !rights.refusalsUnauthorized);
    }
    policy.bulkBounds = BulkBounds{rules.bulkRepetitions, rules.bulkReplyOctets};
}

}  // namespace

bool createReply(Context& ctx, SourceAddress sourceAddress, const CommunityKeep& communities,
                 V3ServerInfo& engine, const RequestRules& rules) {
    ++engine.inPackets;
    const int version = ctx.in.getVersion();
    if (version < 0) {
        ++engine.dropped.asnParseErrors;
        return false;
    }
    ctx.out.startSeq(ber::SEQUENCE);
    ctx.out.add(version, ber::INTEGER);  // the reply repeats the request's version

    PduPolicy policy;
    V3Keys keys;
    if (isCommunityVersion(version)) {
        const CommunityKeep::Item* item = acceptCommunity(ctx, sourceAddress, communities);
        if (item == nullptr) {
            ++engine.dropped.badCommunityNames;
            authenticationFailed.write();
            return false;
        }
        policy.snmpV1 = version == snmp::VERSION_1;
        // RFC 3584 5.2.1: the community's name is its security name.
        grant(*item, policy.snmpV1 ? snmp::MODEL_V1 : snmp::MODEL_V2C, 0, rules,
              ctx.in.getType(), policy);
    } else if (version == snmp::VERSION_3) {
        if (!acceptV3(ctx, sourceAddress, communities, engine, policy, keys)) return false;
        if (!policy.report) {
            grant(*keys.user(), snmp::MODEL_USM, static_cast<uint32_t>(ctx.in.securityLevel),
                  rules, ctx.in.getType(), policy);
        }
    } else {
        ++engine.dropped.badVersions;
        versionNotSupported.write();
        return false;
    }

    if (!policy.report && !isServed(version, ctx.in.getType(), engine.dropped)) return false;
    if (isCommunityVersion(version) && (!policy.authorized || !usesGranted(ctx.in.getType(), policy)))
        ++engine.dropped.badCommunityUses;  // answered all the same, with its refusal
    if (!servePdu(ctx, policy)) return false;
    if (version == snmp::VERSION_3) return protectV3Reply(ctx, keys);
    ctx.out.endSeq();  // message
    return true;
}

AnswerShape answerShape(std::span<const unsigned char> message, const std::string& engineID) {
    size_t at = 0;
    // The header of an element with `tag` at `at`, its content length in
    // `length`, which must fit the message; `at` moves to the content.
    auto header = [&](uint32_t tag, size_t& length) {
        if (at + 2 > message.size() || message[at] != tag) return false;
        const unsigned char first = message[at + 1];
        at += 2;
        length = first;
        if (first & 0x80) {
            const unsigned octets = first & 0x7f;
            if (octets == 0 || octets > 4 || at + octets > message.size()) return false;
            length = 0;
            for (unsigned i = 0; i < octets; ++i)
                length = length << 8 | message[at++];
        }
        return length <= message.size() - at;
    };
    // Steps over an INTEGER.
    auto integer = [&] {
        size_t length = 0;
        if (!header(ber::INTEGER, length)) return false;
        at += length;
        return true;
    };
    size_t length = 0;
    if (!header(ber::SEQUENCE, length) || !header(ber::INTEGER, length) || length != 1)
        return AnswerShape::NotAnAnswer;
    const unsigned char version = message[at++];
    if (isCommunityVersion(version)) {
        if (!header(ber::OCTET_STRING, length)) return AnswerShape::NotAnAnswer;
        at += length;
        return at < message.size() && message[at] == ber::RESPONSE ? AnswerShape::CommunityResponse
                                                                   : AnswerShape::NotAnAnswer;
    }
    if (version != snmp::VERSION_3) return AnswerShape::NotAnAnswer;
    // RFC 3412 6: msgGlobalData { msgID, msgMaxSize, msgFlags, msgSecurityModel }.
    if (!header(ber::SEQUENCE, length) || !integer() || !integer() ||
        !header(ber::OCTET_STRING, length) || length != 1)
        return AnswerShape::NotAnAnswer;
    if (message[at++] & usm::FLAG_REPORTABLE) return AnswerShape::NotAnAnswer;
    // RFC 3414 2.4: UsmSecurityParameters, wrapped in an OCTET STRING.
    if (!integer() || !header(ber::OCTET_STRING, length) || !header(ber::SEQUENCE, length) ||
        !header(ber::OCTET_STRING, length))
        return AnswerShape::NotAnAnswer;
    const std::string_view authoritative(reinterpret_cast<const char*>(message.data()) + at,
                                         length);
    return authoritative == engineID ? AnswerShape::NotAnAnswer : AnswerShape::V3Answer;
}
