// SNMPv3 requests through createReply: a replayed set, and malformed messages.
// The security levels, protocol pairs and every usmStats report with
// net-snmp's tools are the end-to-end tests'.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

#include "agent/settings.h"
#include "agent/snmp_looper.h"
#include "community/community_keep.h"
#include "platform/orla/ids.h"
#include "platform/snmp/usm.h"
#include "request/dispatch.h"
#include "tests/platform/snmp/captured_v3_packets.h"
#include "tests/platform/snmp/v3_message.h"
#include "tests/request/request_fixture.h"
#include "tests/request/temp_agent.h"

using namespace fixture;

namespace {

using v3test::Bytes;
using v3test::Keys;
using v3test::Request;

const int ANYWHERE = int(htonl(0xC0A80001));  // 192.168.0.1

struct V3Reply {
    int level = -1;
    Reply pdu;
};

// The agent's service over temporary stores with engine ID "v3-test", the
// request fixture's tree, and one user, alice: authPriv, SHA and AES, read and write.
class V3 : public Tree {
  protected:
    void SetUp() override {
        Tree::SetUp();
        agent_->init();
        setEngineID("v3-test");
        addAlice();
        std::fill(std::begin(Context::v3counters), std::end(Context::v3counters), 0);
    }

    void setEngineID(const std::string& text) {
        orla::message set;
        set.insert(snmp::SNMP_ENGINE_ID, text);
        agent_->cmdSet(set);
    }
    void addAlice() {
        orla::message cfg;
        cfg.insert(snmp::COMM_NAME, std::string("alice"));
        cfg.insert(snmp::COMM_READ_ACCESS, true);
        cfg.insert(snmp::COMM_WRITE_ACCESS, true);
        cfg.insert(snmp::COMM_SECURITY, 2u);
        cfg.insert(snmp::COMM_AUTH_PROTOCOL, usm::AUTH_HMAC_SHA_96);
        cfg.insert(snmp::COMM_PRIV_PROTOCOL, usm::PRIV_CFB128_AES_128);
        cfg.insert(snmp::COMM_AUTH_PASSWORD, std::string("alice-auth-pw"));
        cfg.insert(snmp::COMM_PRIV_PASSWORD, std::string("alice-priv-pw"));
        ASSERT_TRUE(communityKeep->cmdAddObj(cfg).has(orla::OBJ_ID));
    }

    // A request of alice's, in the agent's time window, and her keys.
    Request alice() const {
        Request r;
        r.user = "alice";
        r.engineID = agent_->serverInfo.engineID;
        r.boots = agent_->serverInfo.engineBoots;
        r.time = usm::engineTime(agent_->serverInfo);
        r.bindings = {binding(under({1, 0}))};
        return r;
    }
    Keys aliceKeys() const {
        return v3test::deriveKeys(usm::AUTH_HMAC_SHA_96, agent_->serverInfo.engineID,
                                  "alice-auth-pw", "alice-priv-pw");
    }

    // Runs createReply; nullopt when nothing is sent. `line` gets stderr.
    std::optional<Bytes> send(Bytes datagram, int source = ANYWHERE, std::string* line = nullptr) {
        Context ctx(datagram.data(), static_cast<unsigned>(datagram.size()));
        testing::internal::CaptureStderr();
        const bool sent = createReply(ctx, source);
        const std::string err = testing::internal::GetCapturedStderr();
        if (line) *line = err;
        if (!sent) return std::nullopt;
        return ctx.out.bytes();
    }

    // Reads a reply as the manager of `r` does: with its keys, against the
    // agent's engine.
    V3Reply read(const Bytes& bytes, const Request& r, const Keys& keys) const {
        V3Reply reply;
        InStream in(bytes.data(), bytes.size());
        int v3_err = -1;
        if (in.getVersion() != 3 || !in.readV3Info(v3_err)) return reply;
        reply.level = in.securityLevel;
        if (in.decryptAndCheckSignature(v3_err, keys.auth, r.authProtocol, keys.priv,
                                        r.privProtocol, agent_->serverInfo) &&
            v3_err == -1)
            decodePdu(in, reply.pdu);
        return reply;
    }

    TempAgent agent;
    SnmpLooper* const agent_ = agent.service.get();
};

TEST_F(V3, ReplayedSetOutsideTheTimeWindowIsReportedAndNotServed) {
    Request r = alice();
    r.pduType = ber::SET_REQUEST;
    r.bindings = {binding(under({1, 0}), ber::OCTET_STRING, "replayed")};
    r.time += 1000;
    const std::optional<Bytes> bytes = send(v3test::build(r, aliceKeys()));
    ASSERT_TRUE(bytes);
    // RFC 3414 3.2 step 7: an authenticated report, so the manager can resynchronise.
    const V3Reply reply = read(*bytes, r, aliceKeys());
    EXPECT_EQ(reply.level, 1);
    EXPECT_EQ(reply.pdu.pduType, ber::REPORT);
    EXPECT_EQ(reply.pdu.requestId, r.requestId);
    EXPECT_EQ(names(reply.pdu), std::vector<std::string>{"1.3.6.1.6.3.15.1.1.2.0"});
    EXPECT_EQ(alpha.value, "alpha");
}

TEST_F(V3, ReportDoesNotReadTheRequestsBindings) {
    Bytes datagram = captured::DISCOVERY;
    // The empty binding list becomes one holding a lone INTEGER: not a binding.
    datagram.back() = 3;
    datagram.insert(datagram.end(), {0x02, 0x01, 0x00});
    datagram[1] += 3;
    datagram[0x2b] += 3;  // scoped PDU
    datagram[0x31] += 3;  // PDU
    std::optional<Bytes> bytes = send(datagram);
    ASSERT_TRUE(bytes);
    Request manager;
    manager.level = 0;
    EXPECT_EQ(read(*bytes, manager, Keys{}).pdu.pduType, ber::REPORT);
}

TEST_F(V3, DroppedMessagesGetTheirLineAndCountNothing) {
    std::string line;
    // A plaintext scoped PDU without its context fields.
    Bytes datagram = captured::DISCOVERY;
    datagram.resize(0x2a);
    datagram.insert(datagram.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
    datagram[1] = static_cast<unsigned char>(datagram.size() - 2);
    EXPECT_FALSE(send(datagram, ANYWHERE, &line));
    EXPECT_EQ(line, "decryptAndCheckSignature failed\n");
    for (uint32_t counter : Context::v3counters)
        EXPECT_EQ(counter, 0u);
}

}  // namespace
