// SNMPv3 requests as a manager builds them, shared by the library's tests and
// the agent's: keys from passwords, and one PDU authenticated and encrypted
// as the request's level asks.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/snmp/ber_out.h"
#include "platform/snmp/usm.h"

namespace v3test {

using Bytes = std::vector<unsigned char>;

struct Keys {
    Bytes auth;  // D key
    Bytes priv;  // B key
};

// RFC 3414 2.6: both keys are localised with the authentication protocol's hash.
inline Keys deriveKeys(uint32_t authProtocol, const std::string& engineID,
                       const std::string& authPassword, const std::string& privPassword) {
    auto localised = [&](const std::string& password) {
        return aKeyToBKey(passwordToAKey(password, authProtocol), engineID, authProtocol);
    };
    return {bKeyToDKey(localised(authPassword), authProtocol), localised(privPassword)};
}

struct Request {
    uint32_t msgID = 77;
    int level = 2;
    uint32_t authProtocol = usm::AUTH_HMAC_SHA_96;
    uint32_t privProtocol = usm::PRIV_CFB128_AES_128;
    std::string engineID;
    uint32_t boots = 0;
    uint32_t time = 0;
    std::string user = "u1";
    std::string contextName;
    uint32_t pduType = ber::GET_REQUEST;
    int requestId = 0x1234;
    std::vector<VariableBinding> bindings;
};

inline Bytes build(const Request& r, const Keys& keys) {
    V3Info info;
    info.msgID = r.msgID;
    info.msgMaxSize = 1500;
    info.msgSecurityModel = usm::SECURITY_MODEL_USM;
    info.msgAuthoritativeEngineID = r.engineID;
    info.msgAuthoritativeEngineBoots = r.boots;
    info.msgAuthoritativeEngineTime = r.time;
    info.msgUserName = r.user;
    info.contextEngineID = r.engineID;
    info.contextName = r.contextName;
    OutStream out;
    out.securityLevel = r.level;
    out.startSeq(ber::SEQUENCE);
    out.add(3, ber::INTEGER);
    EXPECT_TRUE(out.writeV3Info(&info));
    out.startSeq(r.pduType);
    out.add(r.requestId, ber::INTEGER);
    out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    for (const VariableBinding& binding : r.bindings)
        out.addVarBind(binding);
    out.endSeq();
    out.endSeq();
    EXPECT_TRUE(out.cryptPacket(&info, keys.priv, r.privProtocol));
    out.endSeq();
    EXPECT_TRUE(out.signPacket(&info, keys.auth, r.authProtocol));
    return out.bytes();
}

}  // namespace v3test
