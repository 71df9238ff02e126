#include "request/dispatch.h"

#include <iostream>

#include "request/pdu.h"
#include "request/v3.h"

namespace {

// Versions 0 (SNMPv1), 1 (SNMPv2c) and 2 share the community header
// (RFC 1157 4, RFC 1901 3): a community string, then the PDU.
bool isCommunityVersion(int version) {
    return version >= 0 && version <= 2;
}

// Reads and checks the community, writes it to the reply and fills in what it
// grants. Communities with an SNMPv3 security level are users that must
// authenticate (RFC 3414): they never serve community-based requests.
bool acceptCommunity(Context& ctx, int sourceAddress, const CommunityKeep& communities,
                     PduPolicy& policy) {
    if (!ctx.in.getString(ctx.community)) return false;
    const CommunityKeep::Item* item = communities.findItem(ctx.community);
    if (item == nullptr || item->security != 0) return false;
    if (!item->admits(static_cast<uint32_t>(sourceAddress))) return false;
    ctx.out.add(ctx.community, ber::OCTET_STRING);
    policy.canRead = item->readAccess;
    policy.canWrite = item->writeAccess;
    return true;
}

}  // namespace

bool createReply(Context& ctx, int sourceAddress, const CommunityKeep& communities,
                 V3ServerInfo& engine) {
    const int version = ctx.in.getVersion();
    if (version < 0) return false;
    ctx.out.startSeq(ber::SEQUENCE);
    ctx.out.add(version, ber::INTEGER);  // the reply repeats the request's version

    PduPolicy policy;
    V3Keys keys;
    if (isCommunityVersion(version)) {
        if (!acceptCommunity(ctx, sourceAddress, communities, policy)) {
            std::cerr << " authentification failed" << std::endl;
            return false;
        }
        policy.hideCounter64 = version == snmp::VERSION_1;
    } else if (version == snmp::VERSION_3) {
        if (!acceptV3(ctx, sourceAddress, communities, engine, policy, keys)) return false;
    } else {
        std::cerr << "version not supported" << std::endl;
        return false;
    }

    if (!servePdu(ctx, policy)) return false;
    if (version == snmp::VERSION_3) return protectV3Reply(ctx, keys);
    ctx.out.endSeq();  // message
    return true;
}
