// SNMPv3 requests end to end through createReply: the agent's service with
// its engine ID, users in the community table, requests built with the
// encoding library (or captured from net-snmp), replies read back with it.
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
#include "tests/request/request_fixture.h"

using namespace fixture;

namespace {

using Bytes = std::vector<unsigned char>;

const int ANYWHERE = int(htonl(0xC0A80001));        // 192.168.0.1
const int INSIDE_FILTER = int(htonl(0x0A0000C8));   // 10.0.0.200
const int OUTSIDE_FILTER = int(htonl(0x0A000107));  // 10.0.1.7

const OID SYS_DESCR("1.3.6.1.2.1.1.1");

// usmStats (RFC 3414 5) by report index.
enum Report {
    UNSUPPORTED_SEC_LEVEL,
    NOT_IN_TIME_WINDOW,
    UNKNOWN_USER,
    UNKNOWN_ENGINE,
    WRONG_DIGEST,
    DECRYPTION_ERROR
};
std::string usmStats(int index) {
    return "1.3.6.1.6.3.15.1.1." + std::to_string(index + 1) + ".0";
}

struct User {
    const char* name;
    uint32_t security;
    uint32_t authProtocol;
    uint32_t privProtocol;
    const char* authPassword;
    const char* privPassword;
};

// What a manager sends.
struct Request {
    std::string user;
    int level = 0;
    uint32_t authProtocol = usm::AUTH_HMAC_MD5_96;
    uint32_t privProtocol = usm::PRIV_CFB128_AES_128;
    std::string authPassword;
    std::string privPassword;
    std::optional<std::string> engineID;  // the agent's when unset
    std::optional<uint32_t> time;         // the agent's engine time when unset
    uint32_t pduType = ber::GET_REQUEST;
    std::vector<VariableBinding> bindings;
};

struct V3Reply {
    int level = -1;
    std::string engineID;
    int checkedReport = -2;  // the library's v3_err when the manager reads the reply
    Reply pdu;
};

// The agent's service over temporary stores with engine ID "v3-test", the
// request fixture's tree plus sysDescr, and these users:
//   alice  authPriv   SHA AES   read, write
//   bob    authPriv   MD5 DES   read
//   carol  authNoPriv MD5       read
//   dave   noAuth               read, filter 10.0.0.7/24
//   u1     authNoPriv MD5       read (passwords of the captured packets)
class V3 : public Tree {
  protected:
    void SetUp() override {
        Tree::SetUp();
        addLeaf(SYS_DESCR, &sysDescr_);
        char pattern[] = "/tmp/v3-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        agent_ = std::make_unique<SnmpLooper>(dir_ + "/snmpd", dir_ + "/communities");
        loop = agent_.get();
        agent_->init();
        setEngineID("v3-test");
        for (const User& user : USERS)
            addUser(user);
        std::fill(std::begin(Context::v3counters), std::end(Context::v3counters), 0);
    }
    void TearDown() override {
        agent_.reset();
        loop = nullptr;
        delete communityKeep;
        communityKeep = nullptr;
        std::filesystem::remove_all(dir_);
        Tree::TearDown();
    }

    void setEngineID(const std::string& text) {
        orla::message set;
        set.insert(snmp::SNMP_ENGINE_ID, text);
        agent_->cmdSet(set);
    }
    void addUser(const User& user) {
        orla::message cfg;
        cfg.insert(snmp::COMM_NAME, std::string(user.name));
        cfg.insert(snmp::COMM_READ_ACCESS, true);
        cfg.insert(snmp::COMM_WRITE_ACCESS, std::string(user.name) == "alice");
        cfg.insert(snmp::COMM_SECURITY, user.security);
        cfg.insert(snmp::COMM_AUTH_PROTOCOL, user.authProtocol);
        cfg.insert(snmp::COMM_PRIV_PROTOCOL, user.privProtocol);
        cfg.insert(snmp::COMM_AUTH_PASSWORD, std::string(user.authPassword));
        cfg.insert(snmp::COMM_PRIV_PASSWORD, std::string(user.privPassword));
        if (std::string(user.name) == "dave") {
            cfg.insert(snmp::COMM_ADDRESS, htonl(0x0A000007));
            cfg.insert(snmp::COMM_NETMASK, htonl(0xFFFFFF00));
        }
        ASSERT_TRUE(communityKeep->cmdAddObj(cfg).has(orla::OBJ_ID)) << user.name;
    }

    // Keys as a manager derives them for the agent's engine ID.
    static Bytes authKey(const std::string& password, uint32_t protocol,
                         const std::string& engineID) {
        return bKeyToDKey(aKeyToBKey(passwordToAKey(password, protocol), engineID, protocol),
                          protocol);
    }
    static Bytes privKey(const std::string& password, uint32_t protocol,
                         const std::string& engineID) {
        return aKeyToBKey(passwordToAKey(password, protocol), engineID, protocol);
    }

    Bytes build(const Request& r) const {
        V3Info info;
        info.msgID = 99;
        info.msgMaxSize = 1500;
        info.msgSecurityModel = usm::SECURITY_MODEL_USM;
        info.msgAuthoritativeEngineID = r.engineID.value_or(agent_->serverInfo.engineID);
        info.msgAuthoritativeEngineBoots = agent_->serverInfo.engineBoots;
        info.msgAuthoritativeEngineTime = r.time.value_or(usm::engineTime(agent_->serverInfo));
        info.msgUserName = r.user;
        info.contextEngineID = info.msgAuthoritativeEngineID;
        const std::string& engineID = info.msgAuthoritativeEngineID;
        OutStream out;
        out.securityLevel = r.level;
        out.startSeq(ber::SEQUENCE);
        out.add(3, ber::INTEGER);
        EXPECT_TRUE(out.writeV3Info(&info));
        out.startSeq(r.pduType);
        out.add(4711, ber::INTEGER);
        out.addErrorStatus(0);
        out.addErrorIndex(0);
        out.startSeq(ber::SEQUENCE);
        for (const VariableBinding& b : r.bindings)
            out.addVarBind(b);
        out.endSeq();
        out.endSeq();
        EXPECT_TRUE(out.cryptPacket(&info, privKey(r.privPassword, r.authProtocol, engineID),
                                    r.privProtocol));
        out.endSeq();
        EXPECT_TRUE(out.signPacket(&info, authKey(r.authPassword, r.authProtocol, engineID),
                                   r.authProtocol));
        return out.bytes();
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
    V3Reply read(const Bytes& bytes, const Request& r) const {
        V3Reply reply;
        InStream in(bytes.data(), bytes.size());
        int v3_err = -1;
        if (in.getVersion() != 3 || !in.readV3Info(v3_err)) return reply;
        reply.level = in.securityLevel;
        reply.engineID = in.v3Info()->msgAuthoritativeEngineID;
        const std::string& engineID = agent_->serverInfo.engineID;
        if (!in.decryptAndCheckSignature(v3_err, authKey(r.authPassword, r.authProtocol, engineID),
                                         r.authProtocol,
                                         privKey(r.privPassword, r.authProtocol, engineID),
                                         r.privProtocol, agent_->serverInfo))
            return reply;
        reply.checkedReport = v3_err;
        reply.pdu.pduType = in.getType();
        if (!in.enterSeq() || !in.getInt(reply.pdu.requestId) || !in.getInt(reply.pdu.status) ||
            !in.getInt(reply.pdu.index) || !in.enterSeq())
            return reply;
        while (!in.isSeqEnd()) {
            VariableBinding b;
            BerElement value;
            if (!in.enterSeq() || !in.getOID(b.oid) || !in.getElement(value)) return reply;
            b.type = value.tag;
            b.value.assign(reinterpret_cast<const char*>(in.data()) + value.contentOffset,
                           value.contentLength);
            in.exitSeq();
            reply.pdu.bindings.push_back(b);
        }
        return reply;
    }

    // Sends `r` and expects a report of `index` at `level`; returns its counter value.
    uint32_t expectReport(const Request& r, int index, int level, int source = ANYWHERE) {
        std::optional<Bytes> bytes = send(build(r), source);
        if (!bytes) {
            ADD_FAILURE() << "no report " << usmStats(index);
            return 0;
        }
        const V3Reply reply = read(*bytes, r);
        EXPECT_EQ(reply.level, level);
        EXPECT_EQ(reply.engineID, agent_->serverInfo.engineID);
        EXPECT_EQ(reply.checkedReport, -1) << "the manager accepts the report";
        EXPECT_EQ(reply.pdu.pduType, ber::REPORT);
        EXPECT_EQ(reply.pdu.requestId, 4711);
        EXPECT_EQ(reply.pdu.status, 0);
        EXPECT_EQ(names(reply.pdu), std::vector<std::string>{usmStats(index)});
        if (reply.pdu.bindings.size() != 1) return 0;
        EXPECT_EQ(reply.pdu.bindings[0].type, ber::COUNTER32);
        unsigned long long counter = 0;
        for (unsigned char octet : reply.pdu.bindings[0].value)
            counter = counter << 8 | octet;
        EXPECT_EQ(counter, Context::v3counters[index]);
        return static_cast<uint32_t>(counter);
    }

    static Request alice() {
        Request r;
        r.user = "alice";
        r.level = 2;
        r.authProtocol = usm::AUTH_HMAC_SHA_96;
        r.privProtocol = usm::PRIV_CFB128_AES_128;
        r.authPassword = "alice-auth-pw";
        r.privPassword = "alice-priv-pw";
        r.bindings = {binding(under({1, 0}))};
        return r;
    }

    static constexpr User USERS[] = {
        {"alice", 2, usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_128, "alice-auth-pw",
         "alice-priv-pw"},
        {"bob", 2, usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES, "bob-auth-pw", "bob-priv-pw"},
        {"carol", 1, usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES, "carol-auth-pw", ""},
        {"dave", 0, 0, 0, "", ""},
        {"u1", 1, usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES, "password1", "password2"},
    };

    Scalar sysDescr_{"orla router"};
    std::string dir_;
    std::unique_ptr<SnmpLooper> agent_;
};

TEST_F(V3, DiscoveryGetsUnknownEngineIdReportCountingUp) {
    Request discovery;
    discovery.engineID = "";
    discovery.time = 0;
    EXPECT_EQ(expectReport(discovery, UNKNOWN_ENGINE, 0), 1u);
    // Two reports of the same kind carry n and n + 1.
    EXPECT_EQ(expectReport(discovery, UNKNOWN_ENGINE, 0), 2u);
}

TEST_F(V3, NetSnmpDiscoveryIsAnswered) {
    std::optional<Bytes> bytes = send(captured::DISCOVERY);
    ASSERT_TRUE(bytes);
    const V3Reply reply = read(*bytes, Request{});
    EXPECT_EQ(reply.pdu.pduType, ber::REPORT);
    EXPECT_EQ(names(reply.pdu), std::vector<std::string>{usmStats(UNKNOWN_ENGINE)});
}

TEST_F(V3, UserLevelAboveMessageLevelIsUnsupportedSecurityLevel) {
    Request r = alice();
    r.user = "bob";
    r.level = 1;
    r.authProtocol = usm::AUTH_HMAC_MD5_96;
    r.authPassword = "bob-auth-pw";
    expectReport(r, UNSUPPORTED_SEC_LEVEL, 0);
    EXPECT_EQ(Context::v3counters[UNSUPPORTED_SEC_LEVEL], 1u);
}

TEST_F(V3, UnknownUserWithoutAuthenticationIsUnknownUserName) {
    Request r;
    r.user = "mallory";
    r.bindings = {binding(under({1, 0}))};
    EXPECT_EQ(expectReport(r, UNKNOWN_USER, 0), 1u);
    EXPECT_EQ(Context::v3counters[UNKNOWN_USER], 1u);
}

TEST_F(V3, SourceOutsideTheUsersFilterIsUnknownUserName) {
    Request r;
    r.user = "dave";
    r.bindings = {binding(under({1, 0}))};
    expectReport(r, UNKNOWN_USER, 0, OUTSIDE_FILTER);

    std::optional<Bytes> bytes = send(build(r), INSIDE_FILTER);
    ASSERT_TRUE(bytes);
    const V3Reply reply = read(*bytes, r);
    EXPECT_EQ(reply.pdu.pduType, ber::RESPONSE);
    EXPECT_EQ(names(reply.pdu), std::vector<std::string>{e("1.0")});
}

Request carol() {
    Request r;
    r.user = "carol";
    r.level = 1;
    r.authProtocol = usm::AUTH_HMAC_MD5_96;
    r.authPassword = "carol-auth-pw";
    r.bindings = {binding(under({1, 0}))};
    return r;
}

TEST_F(V3, WrongDigestIsReportedUnauthenticated) {
    Request r = carol();
    r.authPassword = "not-carols-pw";
    expectReport(r, WRONG_DIGEST, 0);
}

TEST_F(V3, EncryptedRequestThatFailsBeforeDecryptionIsCountedNotAnswered) {
    // The request id lies inside the ciphertext: no report can carry it.
    Request r = alice();
    r.authPassword = "not-alices-pw";
    EXPECT_FALSE(send(build(r)));
    EXPECT_EQ(Context::v3counters[WRONG_DIGEST], 1u);
}

TEST_F(V3, MessageOutsideTheTimeWindowIsReportedAndNotServed) {
    Request r = alice();
    r.pduType = ber::SET_REQUEST;
    r.bindings = {binding(under({1, 0}), ber::OCTET_STRING, "replayed")};
    r.time = usm::engineTime(agent_->serverInfo) + 1000;
    // RFC 3414 3.2 step 7: an authenticated report, so the manager can resynchronise.
    expectReport(r, NOT_IN_TIME_WINDOW, 1);
    EXPECT_EQ(alpha.value, "alpha");
}

TEST_F(V3, AuthPrivRequestGetsEncryptedSignedResponse) {
    Request r = alice();
    r.bindings = {binding(under({1, 0})), binding(under({2, 5}))};
    std::optional<Bytes> bytes = send(build(r));
    ASSERT_TRUE(bytes);
    // Encrypted: the value is not in the clear.
    EXPECT_EQ(std::search(bytes->begin(), bytes->end(), std::begin("alpha"), std::end("alpha") - 1),
              bytes->end());
    const V3Reply reply = read(*bytes, r);
    EXPECT_EQ(reply.level, 2);
    EXPECT_EQ(reply.checkedReport, -1);
    EXPECT_EQ(reply.pdu.pduType, ber::RESPONSE);
    EXPECT_EQ(reply.pdu.requestId, 4711);
    EXPECT_EQ(reply.pdu.status, 0);
    ASSERT_EQ(names(reply.pdu), (std::vector<std::string>{e("1.0"), e("2.5")}));
    EXPECT_EQ(reply.pdu.bindings[0].value, "alpha");

    // A manager with the wrong privacy password cannot read it.
    Request other = r;
    other.privPassword = "guess";
    EXPECT_EQ(read(*bytes, other).checkedReport, DECRYPTION_ERROR);
    for (uint32_t counter : Context::v3counters)
        EXPECT_EQ(counter, 0u);
}

TEST_F(V3, RightsComeFromTheUsersRecord) {
    Request set = alice();
    set.pduType = ber::SET_REQUEST;
    set.bindings = {binding(under({1, 0}), ber::OCTET_STRING, "changed")};
    std::optional<Bytes> bytes = send(build(set));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(read(*bytes, set).pdu.status, 0);
    EXPECT_EQ(alpha.value, "changed");

    Request refused = carol();
    refused.pduType = ber::SET_REQUEST;
    refused.bindings = {binding(under({1, 0}), ber::OCTET_STRING, "refused")};
    bytes = send(build(refused));
    ASSERT_TRUE(bytes);
    const V3Reply reply = read(*bytes, refused);
    EXPECT_EQ(reply.level, 1);
    EXPECT_EQ(reply.pdu.status, 4);  // readOnly
    EXPECT_EQ(alpha.value, "changed");
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
    EXPECT_EQ(read(*bytes, Request{}).pdu.pduType, ber::REPORT);
}

TEST_F(V3, EngineIdChangeLocalisesTheKeysAgain) {
    const std::string oldEngineID = agent_->serverInfo.engineID;
    setEngineID("renamed");
    Request stale = carol();
    stale.engineID = oldEngineID;
    expectReport(stale, UNKNOWN_ENGINE, 0);

    for (const Request& r : {carol(), alice()}) {
        std::optional<Bytes> bytes = send(build(r));
        ASSERT_TRUE(bytes) << r.user;
        EXPECT_EQ(read(*bytes, r).pdu.pduType, ber::RESPONSE) << r.user;
    }
}

// net-snmp's own requests (user u1, engine 80007ed9046162, boots 0, time 0).
class NetSnmp : public V3 {
  protected:
    void SetUp() override {
        V3::SetUp();
        orla::message set;
        set.insert(snmp::SNMP_ENGINE_ID, std::string("ab"));
        set.insert(snmp::SNMP_ENGINE_BOOTS, 0u);
        agent_->cmdSet(set);
        agent_->serverInfo.engineTimeBase = usm::monotonicSeconds();
    }
    // u1 with these protocols and level.
    void configure(uint32_t authProtocol, uint32_t privProtocol, uint32_t level) {
        orla::message cfg;
        cfg.insert(snmp::COMM_AUTH_PROTOCOL, authProtocol);
        cfg.insert(snmp::COMM_PRIV_PROTOCOL, privProtocol);
        cfg.insert(snmp::COMM_SECURITY, level);
        ASSERT_TRUE(communityKeep->cmdSetObj(cfg, communityKeep->findItem("u1")->id).empty());
    }
    void expectSysDescr(const Bytes& datagram, uint32_t authProtocol, uint32_t privProtocol,
                        int level) {
        std::string line;
        std::optional<Bytes> bytes = send(datagram, ANYWHERE, &line);
        ASSERT_TRUE(bytes) << line;
        Request manager;
        manager.authProtocol = authProtocol;
        manager.privProtocol = privProtocol;
        manager.authPassword = "password1";
        manager.privPassword = "password2";
        const V3Reply reply = read(*bytes, manager);
        EXPECT_EQ(reply.level, level);
        EXPECT_EQ(reply.checkedReport, -1);
        EXPECT_EQ(reply.pdu.pduType, ber::RESPONSE);
        ASSERT_EQ(names(reply.pdu), std::vector<std::string>{"1.3.6.1.2.1.1.1.0"});
        EXPECT_EQ(reply.pdu.bindings[0].value, "orla router");
    }
};

TEST_F(NetSnmp, AuthNoPrivGetIsServed) {
    expectSysDescr(captured::GET_AUTH_MD5, usm::AUTH_HMAC_MD5_96, 0, 1);
    configure(usm::AUTH_HMAC_SHA_96, 0, 1);
    expectSysDescr(captured::GET_AUTH_SHA, usm::AUTH_HMAC_SHA_96, 0, 1);
}

TEST_F(NetSnmp, AuthPrivGetIsServedWithEachProtocolPair) {
    const struct {
        const Bytes& datagram;
        uint32_t authProtocol;
        uint32_t privProtocol;
    } cases[] = {
        {captured::GET_MD5_DES, usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES},
        {captured::GET_SHA_DES, usm::AUTH_HMAC_SHA_96, usm::PRIV_CBC_DES},
        {captured::GET_MD5_AES, usm::AUTH_HMAC_MD5_96, usm::PRIV_CFB128_AES_128},
        {captured::GET_SHA_AES, usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_128},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.authProtocol) + "/" + std::to_string(c.privProtocol));
        configure(c.authProtocol, c.privProtocol, 2);
        expectSysDescr(c.datagram, c.authProtocol, c.privProtocol, 2);
    }
}

TEST_F(V3, DroppedMessagesGetTheirLineAndCountNothing) {
    std::string line;
    // Version 3 with a community where the header belongs.
    EXPECT_FALSE(send(request(3, "public", ber::GET_REQUEST, 0, 0, {}), ANYWHERE, &line));
    EXPECT_EQ(line, "!ctx.in.readV3Info(v3_err)\n");

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
