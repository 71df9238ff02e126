#include "request/v3.h"

#include <iostream>
#include <string>

namespace {

// RFC 3414 5: usmStats, the counters of the report reasons.
const OID USM_STATS("1.3.6.1.6.3.15.1.1");

}  // namespace

bool acceptV3(Context& ctx, int sourceAddress, const CommunityKeep& users, V3ServerInfo& engine,
              PduPolicy& policy, V3Keys& keys) {
    usm::Report v3_err = usm::NO_REPORT;
    if (!ctx.in.readV3Info()) {
        std::cerr << "!ctx.in.readV3Info(v3_err)" << std::endl;
        return false;
    }
    const V3Info* request = ctx.in.v3Info();
    ctx.community = request ? request->msgUserName : std::string();

    // One look-up serves every check: the table does not change meanwhile.
    const CommunityKeep::Item* user = users.findItem(ctx.community);

    // RFC 3414 3.2 step 5: the user asks for more protection than the message has.
    const uint32_t userLevel = user ? user->security : 0;
    if (userLevel > static_cast<uint32_t>(ctx.in.securityLevel))
        v3_err = usm::UNSUPPORTED_SEC_LEVEL;

    if (user) {
        keys.authKey = user->authKey;
        keys.authProtocol = user->authProtocol;
        keys.privKey = user->privKey;
        keys.privProtocol = user->privProtocol;
    }
    if (!ctx.in.decryptAndCheckSignature(v3_err, keys.authKey, keys.authProtocol, keys.privKey,
                                         keys.privProtocol, engine)) {
        std::cerr << "decryptAndCheckSignature failed" << std::endl;
        return false;
    }
    ctx.out.securityLevel = ctx.in.securityLevel;

    // RFC 3414 3.2 step 4: an unknown user, or one outside its source filter,
    // gets the unauthenticated report.
    if (v3_err == usm::NO_REPORT &&
        (user == nullptr || !user->admits(static_cast<uint32_t>(sourceAddress)))) {
        ctx.in.clearAuthPrivInfo();
        ctx.out.securityLevel = 0;
        v3_err = usm::UNKNOWN_USER_NAME;
    }

    if (v3_err != usm::NO_REPORT) {
        const uint32_t counter = ++engine.usmStats[v3_err];
        OID name = USM_STATS;
        name += static_cast<uint32_t>(v3_err + 1);
        name += 0u;
        policy.report = ReportBinding{std::move(name), counter};
    } else {
        policy.canRead = user->readAccess;
        policy.canWrite = user->writeAccess;
        policy.replyLimit = ctx.in.v3ReplyLimit();
    }
    return ctx.out.writeV3Info(ctx.in.v3Info());
}

bool protectV3Reply(Context& ctx, const V3Keys& keys) {
    const V3Info* request = ctx.in.v3Info();
    if (!ctx.out.cryptPacket(request, keys.privKey, keys.privProtocol)) {
        std::cerr << "cryptPacket failed" << std::endl;
        return false;
    }
    ctx.out.endSeq();  // message
    if (!ctx.out.signPacket(request, keys.authKey, keys.authProtocol)) {
        std::cerr << "signPacket failed" << std::endl;
        return false;
    }
    return true;
}
