// What the trap tests share: an agent service over temporary stores, and a
// decoder that reads a trap message back field by field.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/snmp/ber_in.h"
#include "platform/snmp/ber_out.h"
#include "platform/snmp/usm.h"
#include "tests/request/temp_agent.h"
#include "trap/trap_maker.h"
#include "trap/trap_request.h"

namespace traptest {

// One trap message as read back from the wire.
struct DecodedTrap {
    int version = -1;
    V3Info header;    // SNMPv3, as sent
    int v3_err = -1;  // what the agent's own USM checks find
    uint32_t pduTag = 0;
    std::vector<VariableBinding> bindings;  // value as tag and content octets
};

inline bool readBindings(InStream& in, DecodedTrap& trap) {
    if (!in.enterSeq()) return false;
    while (!in.isSeqEnd()) {
        VariableBinding binding;
        BerElement value;
        if (!in.enterSeq() || !in.getOID(binding.oid) || !in.getElement(value)) return false;
        binding.type = value.tag;
        binding.value.assign(in.data() + value.contentOffset,
                             in.data() + value.contentOffset + value.contentLength);
        if (!in.isSeqEnd() || !in.exitSeq()) return false;
        trap.bindings.push_back(binding);
    }
    return in.exitSeq() && in.isSeqEnd();
}

// Decodes a complete trap. SNMPv3 messages are authenticated and decrypted
// with `user`'s keys against the agent's own engine, as a receiver would.
inline ::testing::AssertionResult decodeTrap(const std::vector<unsigned char>& bytes,
                                             DecodedTrap& trap,
                                             const CommunityKeep::Item* user = nullptr) {
    InStream in(bytes.data(), bytes.size());
    trap.version = in.getVersion();
    if (trap.version < 0) return ::testing::AssertionFailure() << "no message";
    if (trap.version == 3) {
        if (!in.readV3Info(trap.v3_err)) return ::testing::AssertionFailure() << "v3 header";
        trap.header = *in.v3Info();
        std::vector<unsigned char> none;
        if (!in.decryptAndCheckSignature(trap.v3_err, user ? user->authKey : none,
                                         user ? user->authProtocol : 0, user ? user->privKey : none,
                                         user ? user->privProtocol : 0, loop->serverInfo))
            return ::testing::AssertionFailure() << "v3 security";
        // The scoped PDU's context fields are read (and decrypted) only now.
        trap.header.contextEngineID = in.v3Info()->contextEngineID;
        trap.header.contextName = in.v3Info()->contextName;
        if (trap.v3_err != -1)
            return ::testing::AssertionFailure() << "usm check " << trap.v3_err << " failed";
    } else if (std::string community; !in.getString(community)) {
        return ::testing::AssertionFailure() << "no community";
    }
    trap.pduTag = in.getType();
    if (!in.enterSeq()) return ::testing::AssertionFailure() << "no PDU";
    // The header fields before the bindings (five in an SNMPv1 Trap-PDU).
    for (int field = 0; field < (trap.pduTag == ber::TRAP_V1 ? 5 : 3); ++field) {
        if (!in.skip()) return ::testing::AssertionFailure() << "PDU head";
    }
    if (!readBindings(in, trap)) return ::testing::AssertionFailure() << "bindings";
    if (!in.exitSeq()) return ::testing::AssertionFailure() << "PDU end";
    return ::testing::AssertionSuccess();
}

// An agent over temporary stores with the default community (id 0,
// "morvel") as trap community and the vendor trap maker registered.
class AgentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop->serverInfo.engineID = formatEngineID("trap-test");
        loop->serverInfo.engineBoots = 7;
        loop->trapCommunity = 0;
        trapMakers = {halvexTrapMaker};
    }
    void TearDown() override { trapMakers.clear(); }

    // Adds a community used as SNMPv3 user; its keys are localised to the agent.
    CommunityKeep::Item* addUser(const std::string& name, uint32_t security,
                                 uint32_t authProtocol = usm::AUTH_HMAC_SHA_96,
                                 uint32_t privProtocol = usm::PRIV_CFB128_AES_128) {
        orla::message cfg;
        cfg.insert(snmp::COMM_NAME, name);
        cfg.insert(snmp::COMM_SECURITY, security);
        cfg.insert(snmp::COMM_AUTH_PROTOCOL, authProtocol);
        cfg.insert(snmp::COMM_PRIV_PROTOCOL, privProtocol);
        cfg.insert(snmp::COMM_AUTH_PASSWORD, std::string("auth-secret"));
        cfg.insert(snmp::COMM_PRIV_PASSWORD, std::string("priv-secret"));
        communityKeep->cmdAddObj(cfg);
        return communityKeep->findItem(name);
    }

    static orla::message vendorRequest() {
        orla::message request;
        request.insert(orla::MSG_CMD, snmp::CMD_TRAP_REQUEST);
        return request;
    }

    TempAgent agent_;
};

}  // namespace traptest
