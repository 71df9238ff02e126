// SNMPv3 messages through OutStream and InStream: forgeries, the time window
// (RFC 3414 3.2) and malformed headers (RFC 3412 7.2). Wrong and missing
// keys are the end-to-end test_snmp_engine's.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/snmp/ber_in.h"
#include "tests/platform/snmp/v3_message.h"

namespace {

using v3test::Bytes;
using v3test::Keys;
using v3test::Request;

const std::string ENGINE_ID("\x80\x00\x7e\xd9\x04\x61\x62", 7);

Keys keysOf(const Request& m) {
    return v3test::deriveKeys(m.authProtocol, ENGINE_ID, "password1", "password2");
}

// The agent's engine, its time base set so that engine time is `time` now.
V3ServerInfo server(uint32_t boots = 5, uint32_t time = 1000) {
    V3ServerInfo info;
    info.engineBoots = boots;
    info.engineTimeBase = usm::monotonicSeconds() - time;
    info.engineID = ENGINE_ID;
    return info;
}

// A GetRequest of sysDescr.0 carrying `valueLength` octets, in the engine's time window.
Request message(int level = 2, uint32_t authProtocol = usm::AUTH_HMAC_SHA_96,
                uint32_t privProtocol = usm::PRIV_CFB128_AES_128, size_t valueLength = 8) {
    return {
        .level = level,
        .authProtocol = authProtocol,
        .privProtocol = privProtocol,
        .engineID = ENGINE_ID,
        .boots = 5,
        .time = 1000,
        .contextName = "ctx",
        .bindings = {{OID("1.3.6.1.2.1.1.1.0"), ber::OCTET_STRING, std::string(valueLength, 'v')}}};
}

struct Outcome {
    bool read = false, checked = false;
    usm::Report err = usm::NO_REPORT;
};

// Reads a message as the agent does; `in` then stands at the scoped PDU.
Outcome receive(InStream& in, const Keys& keys, const Request& m,
                const V3ServerInfo& engine = server()) {
    Outcome o;
    MessageDrops dropped;
    o.read = in.getVersion() == 3 && in.readV3Info(dropped);
    o.checked = o.read && in.decryptAndCheckSignature(o.err, keys.auth, m.authProtocol, keys.priv,
                                                      m.privProtocol, engine);
    return o;
}

Outcome receive(const Bytes& bytes, const Keys& keys, const Request& m,
                const V3ServerInfo& engine = server()) {
    InStream in(bytes.data(), bytes.size());
    return receive(in, keys, m, engine);
}

// The request id, name and value of the GetRequest `in` stands at.
std::tuple<int, OID, std::string> request(InStream& in) {
    std::tuple<int, OID, std::string> read{-1, OID{}, ""};
    int status = -1, index = -1;
    EXPECT_TRUE(in.getType() == ber::GET_REQUEST && in.enterSeq() && in.getInt(std::get<0>(read)) &&
                in.getInt(status) && in.getInt(index) && in.enterSeq() && in.enterSeq() &&
                in.getOID(std::get<1>(read)));
    in.getString(std::get<2>(read));
    return read;
}

// level, authentication protocol, privacy protocol, value length
using Combination = std::tuple<int, uint32_t, uint32_t, size_t>;
class V3RoundTrip : public ::testing::TestWithParam<Combination> {};

// Every level and protocol pair with net-snmp is the end-to-end test_walk's;
// here the intact message reads back, and no damaged one passes as authentic.
TEST_P(V3RoundTrip, IntactReadsBackDamagedIsNeverAuthentic) {
    const Request m = std::apply(message, GetParam());
    const Keys keys = keysOf(m);
    const Bytes bytes = v3test::build(m, keys);
    InStream in(bytes.data(), bytes.size());
    EXPECT_EQ(receive(in, keys, m).err, -1);
    EXPECT_EQ(in.securityLevel, m.level);
    EXPECT_EQ(in.v3Info()->contextName, "ctx");
    EXPECT_EQ(request(in), std::tuple(m.requestId, m.bindings[0].oid, m.bindings[0].value));
    for (size_t length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(receive(Bytes(bytes.begin(), bytes.begin() + long(length)), keys, m).read);
    // One stream reused, as the agent reuses its streams: after any damaged
    // message the intact one reads back as in a fresh stream.
    InStream reused;
    for (size_t at = 0; at < bytes.size(); ++at) {
        Bytes corrupt = bytes;
        corrupt[at] ^= 0xa5;
        reused.reset(corrupt.data(), corrupt.size());
        const Outcome forged = receive(reused, keys, m);
        // Clearing the flags is no forgery: the agent then refuses the user's level.
        if (forged.checked && forged.err == -1 && reused.securityLevel >= 1) ADD_FAILURE() << at;
        reused.reset(bytes.data(), bytes.size());
        if (receive(reused, keys, m).err != -1 || reused.securityLevel != m.level ||
            request(reused) != std::tuple(m.requestId, m.bindings[0].oid, m.bindings[0].value))
            ADD_FAILURE() << "intact after " << at;
    }
}

// Value lengths 8, 300 and 1000: one- and two-octet long-form lengths.
INSTANTIATE_TEST_SUITE_P(
    Levels, V3RoundTrip,
    ::testing::Values(Combination{0, usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES, 8},
                      Combination{1, usm::AUTH_HMAC_SHA_96, usm::PRIV_CBC_DES, 300},
                      Combination{2, usm::AUTH_HMAC_MD5_96, usm::PRIV_CBC_DES, 8},
                      Combination{2, usm::AUTH_HMAC_SHA_96, usm::PRIV_CFB128_AES_128, 1000}));

// RFC 3414 3.2 step 7: 150 s either way of engine time 1000, boots equal and
// not latched. The authentic message is still decrypted, for the report's
// request id, and the reply carries the agent's clock.
TEST(V3Checks, TimeWindow) {
    const std::tuple<uint32_t, uint32_t, uint32_t, int> cases[] = {
        {5, 850, 5, -1},
        {5, 1150, 5, -1},
        {5, 849, 5, 1},
        {5, 1151, 5, 1},
        {4, 1000, 5, 1},
        {0, 0, 5, 1},  // a manager without our time
        {usm::MAX_ENGINE_BOOTS, 1000, usm::MAX_ENGINE_BOOTS, 1},
    };
    for (const auto& [boots, time, engineBoots, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::tuple(boots, time, engineBoots)));
        Request m = message();
        m.boots = boots;
        m.time = time;
        const Keys keys = keysOf(m);
        const Bytes bytes = v3test::build(m, keys);
        InStream in(bytes.data(), bytes.size());
        const Outcome outcome = receive(in, keys, m, server(engineBoots, 1000));
        EXPECT_TRUE(outcome.checked);
        EXPECT_EQ(outcome.err, expected);
        EXPECT_EQ(std::get<0>(request(in)), m.requestId);
        EXPECT_EQ(in.securityLevel, expected == 1 ? 1 : 2);
        EXPECT_EQ(in.v3Info()->msgAuthoritativeEngineBoots, engineBoots);
        EXPECT_GE(in.v3Info()->msgAuthoritativeEngineTime, 1000u);
    }
}

// Hand-made headers, for what writeV3Info never produces (RFC 3412 7.2):
// msgMaxSize, msgFlags, msgSecurityModel, the data's form and what follows it.
TEST(V3Read, HeaderChecksAndReplyLimit) {
    const std::tuple<int, std::string, int, bool, bool, bool> cases[] = {
        {1500, "\x04", 3, false, false, true},
        {484, "\x04", 3, false, false, true},
        {483, "\x04", 3, false, false, false},
        {1500, "\x06", 3, false, false, false},  // privacy without authentication
        {1500, "\x07", 3, true, false, true},
        {1500, "\x07", 3, false, false, false},  // privacy, plaintext data
        {1500, "\x04", 3, true, false, false},   // encrypted without privacy
        {1500, "", 3, false, false, false},
        {1500, "\x04\x04", 3, false, false, false},
        {1500, "\x04", 2, false, false, false},
        {1500, "\x04", 3, false, true, false},  // an element after the data
    };
    for (const auto& [maxSize, flags, model, encrypted, trailing, accepted] : cases) {
        OutStream out;
        out.startSeq(ber::SEQUENCE);
        out.add(3, ber::INTEGER);
        out.startSeq(ber::SEQUENCE);
        for (int number : {1, maxSize})
            out.add(number, ber::INTEGER);
        out.add(flags, ber::OCTET_STRING);
        out.add(model, ber::INTEGER);
        out.endSeq();
        out.startSeq(ber::OCTET_STRING);
        out.startSeq(ber::SEQUENCE);
        out.add(ENGINE_ID, ber::OCTET_STRING);
        out.add(0, ber::INTEGER);
        out.add(0, ber::INTEGER);
        for (const std::string& octets : {std::string("u1"), std::string(12, 0), std::string(8, 0)})
            out.add(octets, ber::OCTET_STRING);
        out.endSeq();
        out.endSeq();
        out.add(
            encrypted ? std::string(16, 'x') : "\x04\x07" + ENGINE_ID + std::string("\x04\0", 2),
            encrypted ? ber::OCTET_STRING : ber::SEQUENCE);
        if (trailing) out.addNull();
        out.endSeq();
        InStream in(out.data(), out.size());
        MessageDrops dropped;
        EXPECT_EQ(in.getVersion() == 3 && in.readV3Info(dropped), accepted)
            << maxSize << flags.size();
        if (maxSize == 484) {
            EXPECT_EQ(in.v3ReplyLimit(), 484u);
            in.securityLevel = 2;
            EXPECT_EQ(in.v3ReplyLimit(), 484u - usm::MAX_PRIVACY_EXPANSION);
        }
    }
    EXPECT_EQ(InStream().v3ReplyLimit(), ber::MAX_UDP_PAYLOAD);
}

}  // namespace
