// The AgentX master: its PDU codec against frames written as RFC 2741 lays
// them out, and against malformed ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "agentx/pdu.h"

using namespace agentx;

namespace {

using Bytes = std::vector<uint8_t>;

// A header in network byte order, with `payload` after it.
Bytes frame(uint8_t type, uint8_t flags, const Bytes& payload, uint8_t version = 1) {
    const uint32_t length = static_cast<uint32_t>(payload.size());
    Bytes out{version, type, static_cast<uint8_t>(flags | FLAG_NETWORK_BYTE_ORDER), 0,
              0, 0, 0, 7,  // session 7
              0, 0, 0, 9,  // transaction 9
              0, 0, 0, 11, // packet 11
              uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// 1.3.6.1.2.1.1 as a subagent writes it: prefix 2, then 1.1.
const Bytes SYSTEM_OID{2, 2, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1};
const Bytes NULL_OID{0, 0, 0, 0};

}  // namespace

// An Open as net-snmp's subagent sends it, in its host's (little-endian)
// byte order: timeout 0, the null OID, description "Net-SNMP AgentX sub-agent".
TEST(AgentxCodec, DecodesLittleEndianOpen) {
    const std::string description = "Net-SNMP AgentX sub-agent";
    Bytes payload{0, 0, 0, 0, 0, 0, 0, 0, uint8_t(description.size()), 0, 0, 0};
    payload.insert(payload.end(), description.begin(), description.end());
    payload.resize(payload.size() + 3, 0);  // 25 octets padded to 28
    const uint32_t length = static_cast<uint32_t>(payload.size());
    Bytes bytes{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                uint8_t(length), uint8_t(length >> 8), 0, 0};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    Pdu pdu;
    size_t used = 0;
    ASSERT_EQ(decode(bytes, pdu, used), DecodeError::None);
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(pdu.header.type, PduType::Open);
    EXPECT_EQ(pdu.header.packetID, 1u);
    EXPECT_TRUE(pdu.id.empty());
    EXPECT_EQ(pdu.description, description);
}

TEST(AgentxCodec, DecodesRegisterWithRangeAndPrefix) {
    // Register 1.3.6.1.2.1.1.[1-9], priority 127, timeout 5.
    const Bytes bytes = frame(3, 0, cat({{5, 127, 7, 0}, SYSTEM_OID, {0, 0, 0, 9}}));
    Pdu pdu;
    size_t used = 0;
    ASSERT_EQ(decode(bytes, pdu, used), DecodeError::None);
    EXPECT_EQ(pdu.subtree, OID("1.3.6.1.2.1.1"));
    EXPECT_EQ(pdu.timeout, 5);
    EXPECT_EQ(pdu.priority, 127);
    EXPECT_EQ(pdu.rangeSubid, 7);
    EXPECT_EQ(pdu.upperBound, 9u);
    EXPECT_EQ(pdu.header.sessionID, 7u);
}

// What the master writes it reads back the same, in both byte orders.
TEST(AgentxCodec, RoundTripsInBothByteOrders) {
    Pdu get;
    get.header.type = PduType::GetBulk;
    get.nonRepeaters = 1;
    get.maxRepetitions = 10;
    get.ranges = {{OID("1.3.6.1.2.1.1"), true, OID("1.3.6.1.2.1.2")}, {OID("1.0.8802"), false, {}}};
    Pdu response;
    response.header.type = PduType::Response;
    response.sysUpTime = 1234;
    response.error = 5;
    response.index = 2;
    VarBind text{ValueType::OctetString, OID("1.3.6.1.2.1.1.1.0"), 0, "router", {}};
    VarBind count{ValueType::Counter64, OID("1.3.6.1.2.1.31.1.1.1.6.1"), 1ull << 40, {}, {}};
    VarBind id{ValueType::ObjectIdentifier, OID("1.3.6.1.2.1.1.2.0"), 0, {}, OID("1.3.6.1.4.1.8072")};
    VarBind address{ValueType::IpAddress, OID("1.3.6.1.2.1.4.20.1.1.10.0.0.1"), 0, std::string("\x0a\0\0\x01", 4), {}};
    VarBind end{ValueType::EndOfMibView, OID("1.3.6.1.2.1.99"), 0, {}, {}};
    response.bindings = {text, count, id, address, end};
    Pdu reg;
    reg.header.type = PduType::Register;
    reg.header.flags |= FLAG_NON_DEFAULT_CONTEXT;
    reg.context = "vrf1";
    reg.priority = 100;
    reg.rangeSubid = 3;
    reg.upperBound = 40;
    reg.subtree = OID("1.3.6.1.2.1.4");
    for (bool network : {true, false}) {
        for (Pdu original : {get, response, reg}) {
            if (!network) original.header.flags &= ~FLAG_NETWORK_BYTE_ORDER;
            Bytes bytes;
            encode(original, bytes);
            Pdu back;
            size_t used = 0;
            ASSERT_EQ(decode(bytes, back, used), DecodeError::None);
            EXPECT_EQ(used, bytes.size());
            EXPECT_EQ(back.header.flags, original.header.flags);
            EXPECT_EQ(back.context, original.context);
            EXPECT_EQ(back.subtree, original.subtree);
            EXPECT_EQ(back.upperBound, original.upperBound);
            ASSERT_EQ(back.ranges.size(), original.ranges.size());
            for (size_t i = 0; i < back.ranges.size(); ++i) {
                EXPECT_EQ(back.ranges[i].start, original.ranges[i].start);
                EXPECT_EQ(back.ranges[i].include, original.ranges[i].include);
                EXPECT_EQ(back.ranges[i].end, original.ranges[i].end);
            }
            ASSERT_EQ(back.bindings.size(), original.bindings.size());
            for (size_t i = 0; i < back.bindings.size(); ++i) {
                EXPECT_EQ(back.bindings[i].type, original.bindings[i].type);
                EXPECT_EQ(back.bindings[i].name, original.bindings[i].name);
                EXPECT_EQ(back.bindings[i].number, original.bindings[i].number);
                EXPECT_EQ(back.bindings[i].octets, original.bindings[i].octets);
                EXPECT_EQ(back.bindings[i].oid, original.bindings[i].oid);
            }
        }
    }
}

struct Malformed {
    const char* name;
    Bytes bytes;
    DecodeError error;
};

class AgentxMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(AgentxMalformed, IsRefusedWhole) {
    Pdu pdu;
    size_t used = 99;
    EXPECT_EQ(decode(GetParam().bytes, pdu, used), GetParam().error);
    EXPECT_EQ(used, 0u);
}

namespace {

Bytes withPayloadLength(Bytes bytes, uint32_t length) {
    bytes[16] = uint8_t(length >> 24);
    bytes[17] = uint8_t(length >> 16);
    bytes[18] = uint8_t(length >> 8);
    bytes[19] = uint8_t(length);
    return bytes;
}

Bytes manyArcs(uint8_t count, uint8_t prefix) {
    Bytes oid{count, prefix, 0, 0};
    oid.resize(4 + 4 * size_t(count), 0);
    return oid;
}

const Malformed MALFORMED[] = {
    {"ShortHeader", Bytes(19, 0), DecodeError::Truncated},
    {"VersionTwo", frame(13, 0, {}, 2), DecodeError::BadVersion},
    {"TypeZero", frame(0, 0, {}), DecodeError::BadType},
    {"TypeAfterResponse", frame(19, 0, {}), DecodeError::BadType},
    {"PayloadNotPadded", withPayloadLength(frame(13, 0, {0, 0, 0}), 3), DecodeError::BadLength},
    {"PayloadBeyondBound", withPayloadLength(frame(13, 0, {}), MAX_PAYLOAD + 4),
     DecodeError::BadLength},
    {"PayloadLongerThanBytes", withPayloadLength(frame(13, 0, {}), 8), DecodeError::Truncated},
    {"PingWithTrailingBytes", frame(13, 0, {0, 0, 0, 0}), DecodeError::BadLength},
    {"CloseCut", frame(2, 0, {}), DecodeError::Truncated},
    {"OidArcsCut", frame(5, 0, {3, 0, 0, 0, 0, 0, 0, 1}), DecodeError::Truncated},
    {"OidOf129Arcs", frame(5, 0, cat({manyArcs(129, 0), NULL_OID})), DecodeError::BadOid},
    {"PrefixPushesPast128Arcs", frame(5, 0, cat({manyArcs(124, 2), NULL_OID})),
     DecodeError::BadOid},
    {"SearchRangeWithoutEnd", frame(5, 0, SYSTEM_OID), DecodeError::Truncated},
    {"RangeSubidPastSubtree", frame(3, 0, cat({{0, 127, 9, 0}, SYSTEM_OID, {0, 0, 0, 9}})),
     DecodeError::BadOid},
    {"RangeWithoutUpperBound", frame(3, 0, cat({{0, 127, 7, 0}, SYSTEM_OID})),
     DecodeError::Truncated},
    {"StringLongerThanPayload", frame(16, 0, cat({NULL_OID, {0, 0, 0, 5, 'a', 'b', 'c', 'd'}})),
     DecodeError::Truncated},
    {"StringLengthNearFourGiB", frame(16, 0, cat({NULL_OID, {0xff, 0xff, 0xff, 0xfe}})),
     DecodeError::Truncated},
    {"ContextCut", frame(13, FLAG_NON_DEFAULT_CONTEXT, {0, 0, 0, 8}), DecodeError::Truncated},
    {"UnknownValueType", frame(18, 0, cat({{0, 0, 0, 0, 0, 0, 0, 0}, {0, 3, 0, 0}, SYSTEM_OID})),
     DecodeError::BadValueType},
    {"IpAddressOfFiveOctets",
     frame(18, 0, cat({{0, 0, 0, 0, 0, 0, 0, 0}, {0, 64, 0, 0}, SYSTEM_OID,
                       {0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0}})),
     DecodeError::BadValueType},
    {"Counter64Cut",
     frame(18, 0, cat({{0, 0, 0, 0, 0, 0, 0, 0}, {0, 70, 0, 0}, SYSTEM_OID, {0, 0, 0, 1}})),
     DecodeError::Truncated},
};

std::string caseName(const testing::TestParamInfo<Malformed>& info) {
    return info.param.name;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Frames, AgentxMalformed, testing::ValuesIn(MALFORMED), caseName);

// Bindings beyond the bound are refused, not collected without end.
TEST(AgentxCodec, RefusesTooManyBindings) {
    Bytes payload{0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i <= MAX_BINDINGS; ++i)
        payload.insert(payload.end(), {0, 5, 0, 0, 0, 0, 0, 0});  // Null under the null OID
    Pdu pdu;
    size_t used = 0;
    EXPECT_EQ(decode(frame(18, 0, payload), pdu, used), DecodeError::TooMany);
}
