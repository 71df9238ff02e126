#include "platform/snmp/ber_out.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/snmp/ber_in.h"
#include "tests/platform/snmp/captured_packets.h"
#include "tests/platform/snmp/request_walk.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes PUBLIC = {0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c'};

// The reply a conforming agent sends to net-snmp's snmpget of sysDescr.0.
TEST(OutStream, EncodesGetResponseToNetSnmpGet) {
    InStream in(captured::GET_V2C.data(), captured::GET_V2C.size());
    WalkedRequest request;
    ASSERT_TRUE(walkRequest(in, request));

    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(request.version, ber::INTEGER);
    out.add(request.community, ber::OCTET_STRING);
    out.startSeq(ber::RESPONSE);
    out.add(request.requestId, ber::INTEGER);
    out.addErrorStatus(0);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    out.startSeq(ber::SEQUENCE);
    out.addOID(request.names[0], ber::OBJECT_IDENTIFIER);
    out.add("orla", ber::OCTET_STRING);
    EXPECT_TRUE(out.endSeq());
    EXPECT_TRUE(out.endSeq());
    EXPECT_TRUE(out.endSeq());
    EXPECT_TRUE(out.endSeq());
    EXPECT_FALSE(out.endSeq());

    const Bytes expected = concat(
        {{0x30, 0x2D, 0x02, 0x01, 0x01},
         PUBLIC,
         {0xA2, 0x20, 0x02, 0x04, 0x3A, 0x57, 0x38, 0x13, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00},
         {0x30, 0x12, 0x30, 0x10, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00},
         {0x04, 0x04, 'o', 'r', 'l', 'a'}});
    EXPECT_EQ(out.bytes(), expected);
}

// SNMPv1 GetNext past the end: the name echoed with NULL, noSuchName at 1.
TEST(OutStream, ErrorStatusAndIndexReplaceTheHeaderValues) {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(0, ber::INTEGER);
    out.add("public", ber::OCTET_STRING);
    out.startSeq(ber::RESPONSE);
    out.add(0x21A18233, ber::INTEGER);
    out.addErrorStatus(0);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    out.startSeq(ber::SEQUENCE);
    out.addOID(OID("1.3.6.1.2.1.1"));
    out.addNull();
    out.endSeq();
    out.addErrorStatus(2);
    out.addErrorIndex(1);
    out.endSeq();
    out.endSeq();
    out.endSeq();

    const Bytes expected = concat(
        {{0x30, 0x27, 0x02, 0x01, 0x00},
         PUBLIC,
         {0xA2, 0x1A, 0x02, 0x04, 0x21, 0xA1, 0x82, 0x33, 0x02, 0x01, 0x02, 0x02, 0x01, 0x01},
         {0x30, 0x0C, 0x30, 0x0A, 0x06, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00}});
    EXPECT_EQ(out.bytes(), expected);
}

// The agent address of an SNMPv1 trap goes through the signed writer and
// must stay four octets whatever its top bit.
TEST(OutStream, EncodesSnmpV1TrapWithHighAgentAddress) {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(0, ber::INTEGER);
    out.add("public", ber::OCTET_STRING);
    out.startSeq(ber::TRAP_V1);
    out.addOID(OID("1.3.6.1.6.3.1.1.5.2"));
    out.add(int(0xC0A80001u), ber::IP_ADDRESS);
    out.add(1, ber::INTEGER);
    out.add(0, ber::INTEGER);
    out.add(100u, ber::TIMETICKS);
    out.startSeq(ber::SEQUENCE);
    out.endSeq();
    out.endSeq();
    out.endSeq();
    const Bytes expected = concat({{0x30, 0x29, 0x02, 0x01, 0x00},
                                   PUBLIC,
                                   {0xA4, 0x1C, 0x06, 0x09, 0x2B, 0x06, 0x01, 0x06, 0x03, 0x01,
                                    0x01, 0x05, 0x02, 0x40, 0x04, 0xC0, 0xA8, 0x00, 0x01, 0x02,
                                    0x01, 0x01, 0x02, 0x01, 0x00, 0x43, 0x01, 0x64, 0x30, 0x00}});
    EXPECT_EQ(out.bytes(), expected);
}

struct NumberCase {
    long long value;  // taken as int, unsigned or 64-bit by `kind`
    char kind;        // 'i' int, 'u' unsigned int, 'w' unsigned long long
    uint32_t tag;
    Bytes expected;
};

class OutStreamNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(OutStreamNumber, WritesMinimalContent) {
    const NumberCase& c = GetParam();
    OutStream out;
    if (c.kind == 'i') out.add(static_cast<int>(c.value), c.tag);
    if (c.kind == 'u') out.add(static_cast<unsigned int>(c.value), c.tag);
    if (c.kind == 'w') out.add(static_cast<unsigned long long>(c.value), c.tag);
    EXPECT_EQ(out.bytes(), c.expected);
    InStream in(out.data(), out.size());
    if (c.tag == ber::COUNTER64) {
        unsigned long long back = 0;
        ASSERT_TRUE(in.get64(back));
        EXPECT_EQ(back, static_cast<unsigned long long>(c.value));
    } else if (c.tag != ber::IP_ADDRESS) {
        int back = 0;
        ASSERT_TRUE(in.getInt(back));
        EXPECT_EQ(uint32_t(back), uint32_t(c.value));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, OutStreamNumber,
    testing::Values(
        NumberCase{0, 'i', 2, {0x02, 0x01, 0x00}}, NumberCase{127, 'i', 2, {0x02, 0x01, 0x7f}},
        NumberCase{128, 'i', 2, {0x02, 0x02, 0x00, 0x80}},
        NumberCase{-1, 'i', 2, {0x02, 0x01, 0xff}}, NumberCase{-128, 'i', 2, {0x02, 0x01, 0x80}},
        NumberCase{-129, 'i', 2, {0x02, 0x02, 0xff, 0x7f}},
        NumberCase{INT_MIN, 'i', 2, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
        NumberCase{INT_MAX, 'i', 2, {0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}},
        NumberCase{-1, 'i', 0x42, {0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}},
        NumberCase{-5, 'i', 0x41, {0x41, 0x05, 0x00, 0xff, 0xff, 0xff, 0xfb}},
        NumberCase{1, 'i', 0x40, {0x40, 0x04, 0x00, 0x00, 0x00, 0x01}},
        NumberCase{-1, 'i', 0x40, {0x40, 0x04, 0xff, 0xff, 0xff, 0xff}},
        NumberCase{0x80000000, 'u', 0x41, {0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
        NumberCase{255, 'u', 0x43, {0x43, 0x02, 0x00, 0xff}},
        NumberCase{0, 'u', 0x42, {0x42, 0x01, 0x00}},
        NumberCase{0x0a000001, 'u', 0x40, {0x40, 0x04, 0x0a, 0x00, 0x00, 0x01}},
        NumberCase{1ll << 40, 'w', 0x46, {0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
        NumberCase{
            -1, 'w', 0x46, {0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}}));

TEST(OutStream, OIDsOfFewerThanTwoArcsStayWellFormed) {
    struct Case {
        OID oid;
        Bytes expected;
    } cases[] = {
        {OID{}, {0x06, 0x01, 0x00}},   // 0.0
        {OID{1}, {0x06, 0x01, 0x28}},  // 1.0
        {OID{0, 0}, {0x06, 0x01, 0x00}},
        {OID{2, 999}, {0x06, 0x02, 0x88, 0x37}},  // 40 * 2 + 999 = 1079
        {OID{1, 3, 6, 1, 4, 1, 4294967295u},
         {0x06, 0x0a, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x8f, 0xff, 0xff, 0xff, 0x7f}},
    };
    for (const Case& c : cases) {
        OutStream out;
        out.addOID(c.oid);
        EXPECT_EQ(out.bytes(), c.expected) << c.oid;
    }
}

TEST(OutStream, LengthsUseTheShortestForm) {
    struct Case {
        size_t contentLength;
        Bytes header;
    } cases[] = {
        {0, {0x30, 0x00}},
        {127, {0x30, 0x7f}},
        {128, {0x30, 0x81, 0x80}},
        {255, {0x30, 0x81, 0xff}},
        {256, {0x30, 0x82, 0x01, 0x00}},
        {65536, {0x30, 0x83, 0x01, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        // An OCTET STRING whose header and content fill exactly contentLength.
        std::string content;
        for (size_t header = 2; header <= 5 && c.contentLength >= header; ++header) {
            const size_t octets = c.contentLength - header;
            const size_t needed = octets < 128 ? 2 : octets < 256 ? 3 : octets < 65536 ? 4 : 5;
            if (needed == header) content.assign(octets, 'x');
        }
        // The same content under a primitive and a constructed element.
        OutStream out;
        out.startSeq(ber::SEQUENCE);
        if (c.contentLength > 0) out.add(content, ber::OCTET_STRING);
        out.endSeq();
        ASSERT_EQ(out.size(), c.header.size() + c.contentLength) << c.contentLength;
        EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), out.data())) << c.contentLength;
        InStream in(out.data(), out.size());
        ASSERT_TRUE(in.enterSeq());
        std::string back;
        if (c.contentLength > 0) {
            ASSERT_TRUE(in.getString(back));
        }
        EXPECT_EQ(back.size(), c.contentLength > 0 ? content.size() : 0u);
        EXPECT_TRUE(in.isSeqEnd());
    }
    OutStream octets;
    octets.add(std::string(300, 'y'), ber::OCTET_STRING);
    EXPECT_EQ(Bytes(octets.data(), octets.data() + 4), (Bytes{0x04, 0x82, 0x01, 0x2c}));
}

TEST(OutStream, AddVarBindWritesNameAndRawValue) {
    VariableBinding uptime;
    uptime.oid = OID("1.3.6.1.2.1.1.3.0");
    uptime.type = ber::TIMETICKS;
    uptime.value = "\x01\x02";
    VariableBinding none;
    none.oid = OID("1.3");
    OutStream out;
    out.addVarBind(uptime);
    out.addVarBind(none);
    const Bytes expected = {0x30, 0x0E, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00,
                            0x43, 0x02, 0x01, 0x02, 0x30, 0x05, 0x06, 0x01, 0x2B, 0x05, 0x00};
    EXPECT_EQ(out.bytes(), expected);
    VariableBinding copy = uptime;
    EXPECT_EQ(copy.oid, uptime.oid);
    EXPECT_EQ(copy.value, uptime.value);
}

// Encodes a response of `count` bindings whose lists exceed 127 octets, then
// grows the error index past one octet.
TEST(OutStream, GrowingErrorIndexKeepsEveryLengthRight) {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(1, ber::INTEGER);
    out.add("public", ber::OCTET_STRING);
    out.startSeq(ber::RESPONSE);
    out.add(7, ber::INTEGER);
    out.addErrorStatus(0);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    for (uint32_t i = 0; i < 300; ++i) {
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.2.1.2.2.1.10") + i);
        out.add(i * 1000u, ber::COUNTER32);
        out.endSeq();
    }
    out.addErrorStatus(2);
    out.addErrorIndex(300);
    out.addErrorIndex(70000);  // grows again while the list is still open
    out.endSeq();
    out.endSeq();
    out.endSeq();

    InStream in(out.data(), out.size());
    WalkedRequest reply;
    ASSERT_TRUE(walkRequest(in, reply));
    EXPECT_EQ(reply.pduType, ber::RESPONSE);
    EXPECT_EQ(reply.requestId, 7);
    EXPECT_EQ(reply.nonRepeaters, 2);        // error-status
    EXPECT_EQ(reply.maxRepetitions, 70000);  // error-index
    ASSERT_EQ(reply.names.size(), 300u);
    EXPECT_EQ(reply.names[299], OID("1.3.6.1.2.1.2.2.1.10.299"));
}

TEST(OutStream, ErrorStatusShrinksAndANewPduGetsItsOwn) {
    OutStream out;
    out.startSeq(ber::RESPONSE);
    out.addErrorStatus(1000);
    out.addErrorIndex(0);
    out.addErrorStatus(5);
    out.endSeq();
    EXPECT_EQ(out.bytes(), (Bytes{0xA2, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x00}));
    out.startSeq(ber::RESPONSE);
    out.addErrorStatus(3);
    out.endSeq();
    EXPECT_EQ(out.size(), 13u);
    EXPECT_EQ(out.data()[12], 0x03);
}

// GetBulk drops a binding that does not fit by rewinding to a mark.
TEST(OutStream, RewindDropsPartialBindingAndItsOpenSequence) {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(1, ber::INTEGER);
    const size_t mark = out.mark();
    const Bytes before = out.bytes();
    out.startSeq(ber::SEQUENCE);
    out.addOID(OID("1.3.6.1"));
    out.add(std::string(200, 'z'), ber::OCTET_STRING);
    EXPECT_EQ(out.openSequences(), 2u);
    out.rewind(mark);
    EXPECT_EQ(out.bytes(), before);
    EXPECT_EQ(out.openSequences(), 1u);
    out.endSeq();
    EXPECT_EQ(out.bytes(), (Bytes{0x30, 0x03, 0x02, 0x01, 0x01}));
    out.rewind(out.size() + 5);  // past the end: ignored
    EXPECT_EQ(out.size(), 5u);
}

TEST(OutStream, LargeResponseRoundTrips) {
    OutStream out;
    out.startSeq(ber::SEQUENCE);
    out.add(1, ber::INTEGER);
    out.add("public", ber::OCTET_STRING);
    out.startSeq(ber::RESPONSE);
    out.add(1, ber::INTEGER);
    out.addErrorStatus(0);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    for (uint32_t i = 0; i < 1000; ++i) {
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.4.1.99999.1.2") + i);
        out.add(std::string(40, char('a' + i % 26)), ber::OCTET_STRING);
        out.endSeq();
    }
    out.endSeq();
    out.endSeq();
    out.endSeq();
    EXPECT_GT(out.size(), 50000u);
    EXPECT_EQ(out.openSequences(), 0u);

    InStream in(out.data(), out.size());
    WalkedRequest reply;
    ASSERT_TRUE(walkRequest(in, reply));
    ASSERT_EQ(reply.names.size(), 1000u);
    EXPECT_EQ(reply.names[999], OID("1.3.6.1.4.1.99999.1.2.999"));
}

TEST(OutStream, StartsEmpty) {
    OutStream out;
    EXPECT_EQ(out.size(), 0u);
    EXPECT_EQ(out.securityLevel, 0);
    EXPECT_EQ(out.openSequences(), 0u);
}

}  // namespace
