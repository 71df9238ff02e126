#include "request/v3.h"

#include <iostream>
#include <string>

#include "platform/orla/throttled_line.h"

namespace {

// Lines that strangers' datagrams cause, throttled.
orla::ThrottledLine unreadableHeader("!ctx.in.readV3Info(v3_err)");
orla::ThrottledLine unreadableScopedPdu("decryptAndCheckSignature failed");

// RFC 3414 5: usmStats, the counters of the report reasons.
const OID USM_STATS("1.3.6.1.6.3.15.1.1");
// RFC 3413 4.1.2: snmpUnknownContexts.0.
const OID UNKNOWN_CONTEXTS("1.3.6.1.6.3.12.1.5.0");

// RFC 3414 3.2 steps 3 to 5. They decide before any key is used, so the
// report a sender gets never depends on the key it tried.
usm::Report checkAddressing(const V3Info& request, const CommunityKeep::Item* user,
                            int messageLevel, SourceAddress sourceAddress,
                            const V3ServerInfo& engine) {
    // Step 3: an engine ID that is not ours, empty in discovery.
    if (request.msgAuthoritativeEngineID.empty() ||
        request.msgAuthoritativeEngineID != engine.engineID)
        return usm::UNKNOWN_ENGINE_ID;
    // Step 4: an unknown user, or one whose source filter leaves the sender out.
    if (user == nullptr || !user->active() || !user->admits(sourceAddress))
        return usm::UNKNOWN_USER_NAME;
    // Step 5: a user supports the levels its keys reach. One made for
    // authPriv may send authNoPriv; whether that is enough for what it
    // asks is for access control to say (RFC 3415 3.2).
    if (static_cast<uint32_t>(messageLevel) > user->security) return usm::UNSUPPORTED_SEC_LEVEL;
    return usm::NO_REPORT;
}

// RFC 3412 7.2 step 6 and 6.4: a failed message gets a Report only when its
// PDU is of the Confirmed class; that class, when the PDU could be read,
// overrides the reportable flag, which decides alone for a PDU that stayed
// encrypted. Report, Response and trap PDUs are never answered, so no two
// engines can be made to report to each other without end.
bool mayReport(const InStream& in, unsigned char requestFlags) {
    if (in.v3PduReadable()) return isConfirmedClass(in.getType());
    return (requestFlags & usm::FLAG_REPORTABLE) != 0;
}

}  // namespace

bool acceptV3(Context& ctx, SourceAddress sourceAddress, const CommunityKeep& users,
              V3ServerInfo& engine, PduPolicy& policy, V3Keys& keys) {
    if (!ctx.in.readV3Info(engine.dropped)) {
        unreadableHeader.write();
        return false;
    }
    const V3Info& request = *ctx.in.v3Info();
    const auto requestFlags = static_cast<unsigned char>(request.msgFlags[0]);
    ctx.community = request.msgUserName;

    // One look-up serves every check: the table does not change meanwhile.
    const CommunityKeep::Item* user = users.findItem(ctx.community);
    usm::Report report =
        checkAddressing(request, user, ctx.in.securityLevel, sourceAddress, engine);
    if (report == usm::NO_REPORT) keys.use(*user);
    if (!ctx.in.decryptAndCheckSignature(report, keys.authKey(), keys.authProtocol(),
                                         keys.privKey(), keys.privProtocol(), engine)) {
        unreadableScopedPdu.write();
        return false;
    }
    ctx.out.securityLevel = ctx.in.securityLevel;

    if (report != usm::NO_REPORT) {
        // Counted whether or not the report goes out (RFC 3414 3.2).
        const uint32_t counter = ++engine.usmStats[report];
        if (!mayReport(ctx.in, requestFlags)) return false;
        OID name = USM_STATS;
        name += static_cast<uint32_t>(report + 1);
        name += 0u;
        policy.report = ReportBinding{std::move(name), counter};
    } else if (!request.contextName.empty()) {
        // Only the default context "" is served.
        const uint32_t counter = ++engine.dropped.unknownContexts;
        if (!mayReport(ctx.in, requestFlags)) return false;
        policy.report = ReportBinding{UNKNOWN_CONTEXTS, counter};
    } else {
        policy.replyLimit = ctx.in.v3ReplyLimit();
    }
    return ctx.out.writeV3Info(ctx.in.v3Info());
}

bool protectV3Reply(Context& ctx, const V3Keys& keys) {
    const V3Info* request = ctx.in.v3Info();
    if (!ctx.out.cryptPacket(request, keys.privKey(), keys.privProtocol())) {
        std::cerr << "cryptPacket failed" << std::endl;
        return false;
    }
    ctx.out.endSeq();  // message
    if (!ctx.out.signPacket(request, keys.authKey(), keys.authProtocol())) {
        std::cerr << "signPacket failed" << std::endl;
        return false;
    }
    return true;
}
