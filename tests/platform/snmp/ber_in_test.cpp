#include "platform/snmp/ber_in.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/platform/snmp/captured_packets.h"
#include "tests/platform/snmp/request_walk.h"

namespace {

using Bytes = std::vector<unsigned char>;

InStream streamOf(const Bytes& bytes) {
    return InStream(bytes.data(), bytes.size());
}

TEST(InStream, DecodesNetSnmpGetRequest) {
    InStream in = streamOf(captured::GET_V2C);
    WalkedRequest request;
    ASSERT_TRUE(walkRequest(in, request));
    EXPECT_EQ(request.version, 1);
    EXPECT_EQ(request.community, "public");
    EXPECT_EQ(request.pduType, ber::GET_REQUEST);
    EXPECT_EQ(request.requestId, 0x3A573813);
    EXPECT_EQ(request.names, std::vector<OID>{OID("1.3.6.1.2.1.1.1.0")});
    EXPECT_TRUE(in.isSeqEnd());
}

TEST(InStream, DecodesNetSnmpGetNextAndGetBulkHeaders) {
    InStream next = streamOf(captured::GETNEXT_V1);
    WalkedRequest request;
    ASSERT_TRUE(walkRequest(next, request));
    EXPECT_EQ(request.version, 0);
    EXPECT_EQ(request.pduType, ber::GET_NEXT_REQUEST);
    EXPECT_EQ(request.names,
              (std::vector<OID>{OID("1.3.6.1.2.1.1"), OID("1.3.6.1.2.1.2.2.1.10.1")}));

    InStream bulk = streamOf(captured::GETBULK_V2C);
    WalkedRequest bulkRequest;
    ASSERT_TRUE(walkRequest(bulk, bulkRequest));
    EXPECT_EQ(bulkRequest.pduType, ber::GET_BULK_REQUEST);
    EXPECT_EQ(bulkRequest.nonRepeaters, 0);
    EXPECT_EQ(bulkRequest.maxRepetitions, 10);
}

// Positions `in` at the value of the request's binding number `index`.
void enterBinding(InStream& in, int index) {
    ASSERT_GE(in.getVersion(), 0);
    std::string community;
    int header = 0;
    ASSERT_TRUE(in.getString(community) && in.enterSeq());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(in.getInt(header));
    ASSERT_TRUE(in.enterSeq());
    for (int i = 0; i < index; ++i)
        ASSERT_TRUE(in.skip());
    OID name;
    ASSERT_TRUE(in.enterSeq() && in.getOID(name));
}

TEST(InStream, DecodesNetSnmpSetValues) {
    InStream in = streamOf(captured::SET_V2C);
    enterBinding(in, 0);
    std::string text;
    ASSERT_TRUE(in.getString(text));
    EXPECT_EQ(text, "myrouter");
    ASSERT_TRUE(in.exitSeq());
    OID name;
    int gauge = 0;
    ASSERT_TRUE(in.enterSeq() && in.getOID(name) && in.getInt(gauge));
    EXPECT_EQ(name, OID("1.3.6.1.2.1.1.4.0"));
    EXPECT_EQ(gauge, -1);  // Gauge32 4294967295 in five octets
}

TEST(InStream, DecodesNetSnmpSetOfEveryNumericAndAddressType) {
    InStream in = streamOf(captured::SET_MIXED_V2C);
    enterBinding(in, 0);
    int ticks = 0;
    ASSERT_TRUE(in.getInt(ticks));
    EXPECT_EQ(ticks, 123456);
    OID name;
    std::string address;
    ASSERT_TRUE(in.exitSeq() && in.enterSeq() && in.getOID(name) && in.getString(address));
    EXPECT_EQ(address, "\xC0\xA8\xC8\x01");
    OID value;
    ASSERT_TRUE(in.exitSeq() && in.enterSeq() && in.getOID(name) && in.getOID(value));
    EXPECT_EQ(value, OID("1.3.6.1.4.1.4294967295"));
    int negative = 0;
    ASSERT_TRUE(in.exitSeq() && in.enterSeq() && in.getOID(name) && in.getInt(negative));
    EXPECT_EQ(name, OID("1.3.6.1.4.1.99999.4.0"));
    EXPECT_EQ(negative, -129);
}

TEST(InStream, ReadsSnmpV3HeaderFieldsGenerically) {
    InStream in = streamOf(captured::DISCOVERY_V3);
    EXPECT_EQ(in.getVersion(), 3);
    int msgId = 0, maxSize = 0, model = 0;
    std::string flags;
    ASSERT_TRUE(in.enterSeq() && in.getInt(msgId) && in.getInt(maxSize) && in.getString(flags) &&
                in.getInt(model) && in.exitSeq());
    EXPECT_EQ(maxSize, 65507);
    EXPECT_EQ(flags, "\x04");
    EXPECT_EQ(model, 3);
    BerElement parameters;
    ASSERT_TRUE(in.getElement(parameters));
    EXPECT_EQ(parameters.tag, ber::OCTET_STRING);
    EXPECT_EQ(parameters.contentLength, 16u);
    InStream inner(in.data() + parameters.contentOffset, parameters.contentLength);
    size_t elements = 0;
    EXPECT_TRUE(walkElements(inner, elements));
    EXPECT_EQ(elements, 7u);
}

// X.690 walk over every captured request touches every element.
TEST(InStream, GenericWalkReadsEveryCapturedRequest) {
    for (const Bytes& packet : captured::ALL) {
        InStream in = streamOf(packet);
        size_t elements = 0;
        EXPECT_TRUE(walkElements(in, elements));
        EXPECT_GT(elements, 10u);
        EXPECT_EQ(in.position(), packet.size());
    }
}

TEST(InStream, EveryTruncationOfARequestIsRejected) {
    for (const Bytes& packet : captured::ALL) {
        for (size_t length = 0; length < packet.size(); ++length) {
            InStream in(packet.data(), length);
            EXPECT_EQ(in.getVersion(), -1) << length;
        }
    }
}

// The message length is patched to the truncated size, so the inner elements
// are the ones that overrun.
TEST(InStream, EveryTruncationWithConsistentOuterLengthFailsInside) {
    for (const Bytes& packet :
         {captured::GET_V2C, captured::GETNEXT_V1, captured::SET_V2C, captured::SET_MIXED_V2C}) {
        ASSERT_LT(packet[1], 0x80);
        for (size_t length = 3; length < packet.size(); ++length) {
            Bytes truncated(packet.begin(), packet.begin() + static_cast<long>(length));
            truncated[1] = static_cast<unsigned char>(length - 2);
            InStream in = streamOf(truncated);
            WalkedRequest request;
            EXPECT_FALSE(walkRequest(in, request)) << length;
            InStream again = streamOf(truncated);
            size_t elements = 0;
            // Cut at a boundary of the message's own elements, the rest is well-formed.
            const bool wellFormed = walkElements(again, elements);
            EXPECT_EQ(wellFormed, again.position() == truncated.size()) << length;
        }
    }
}

TEST(InStream, TrailingBytesAfterTheMessageAreRejected) {
    Bytes packet = captured::GET_V2C;
    packet.push_back(0);
    InStream in = streamOf(packet);
    EXPECT_EQ(in.getVersion(), -1);
}

struct MalformedCase {
    const char* what;
    Bytes bytes;
};

void PrintTo(const MalformedCase& malformed, std::ostream* os) {
    *os << malformed.what;
}

class InStreamMalformedHeader : public testing::TestWithParam<MalformedCase> {};

TEST_P(InStreamMalformedHeader, FailsWithoutConsuming) {
    InStream in = streamOf(GetParam().bytes);
    BerElement element;
    EXPECT_FALSE(in.peekElement(element));
    EXPECT_FALSE(in.enterSeq());
    EXPECT_FALSE(in.skip());
    EXPECT_EQ(in.position(), 0u);
    InStream message = streamOf(GetParam().bytes);
    EXPECT_EQ(message.getVersion(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, InStreamMalformedHeader,
    testing::Values(MalformedCase{"length past end", {0x30, 0x05, 0x02, 0x01, 0x01}},
                    MalformedCase{"long length past end", {0x30, 0x81, 0x04, 0x02, 0x01, 0x01}},
                    MalformedCase{"length octets missing", {0x30, 0x82, 0x00}},
                    MalformedCase{"five length octets",
                                  {0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x03, 0x02, 0x01, 0x01}},
                    MalformedCase{"indefinite length", {0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}},
                    MalformedCase{"reserved length 0xff", {0x30, 0xff, 0x02, 0x01, 0x01}},
                    MalformedCase{"huge long length", {0x30, 0x84, 0xff, 0xff, 0xff, 0xff, 0x02}},
                    MalformedCase{"high tag number", {0x3f, 0x81, 0x01, 0x03, 0x02, 0x01, 0x01}},
                    MalformedCase{"tag only", {0x30}}, MalformedCase{"empty", {}}));

TEST(InStream, LongFormLengthIsAccepted) {
    Bytes packet = {0x30, 0x82, 0x00, 0x03, 0x02, 0x01, 0x02};
    InStream in = streamOf(packet);
    EXPECT_EQ(in.getVersion(), 2);
    EXPECT_TRUE(in.isSeqEnd());
}

TEST(InStream, InnerLengthPointingPastItsSequenceFails) {
    // The INTEGER claims 3 octets, the SEQUENCE holds only 1 of them; the
    // octets after the sequence must not be read.
    Bytes packet = {0x30, 0x03, 0x02, 0x03, 0x01, 0x02, 0x03};
    InStream in = streamOf(packet);
    ASSERT_TRUE(in.enterSeq());
    int value = 0;
    EXPECT_FALSE(in.getInt(value));
    EXPECT_FALSE(in.skip());
    EXPECT_EQ(in.position(), 2u);
    EXPECT_TRUE(in.exitSeq());
    EXPECT_EQ(in.position(), 5u);
}

struct IntCase {
    Bytes bytes;
    bool ok;
    int value;
};

class InStreamGetInt : public testing::TestWithParam<IntCase> {};

TEST_P(InStreamGetInt, AcceptsOnlyWellFormedValues) {
    InStream in = streamOf(GetParam().bytes);
    int value = 12345;
    EXPECT_EQ(in.getInt(value), GetParam().ok);
    EXPECT_EQ(value, GetParam().ok ? GetParam().value : 12345);
    EXPECT_EQ(in.position(), GetParam().ok ? GetParam().bytes.size() : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, InStreamGetInt,
    testing::Values(IntCase{{0x02, 0x01, 0x00}, true, 0}, IntCase{{0x02, 0x01, 0xff}, true, -1},
                    IntCase{{0x02, 0x02, 0x00, 0x80}, true, 128},
                    IntCase{{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, true, INT_MIN},
                    IntCase{{0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}, true, INT_MAX},
                    IntCase{{0x41, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, true, -1},
                    IntCase{{0x42, 0x01, 0x2a}, true, 42},
                    IntCase{{0x43, 0x03, 0x01, 0xe2, 0x40}, true, 123456},
                    IntCase{{0x02, 0x00}, false, 0},                                // empty
                    IntCase{{0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, false, 0},  // > int
                    IntCase{{0x02, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, false, 0},
                    IntCase{{0x02, 0x02, 0x00, 0x7f}, false, 0},                    // redundant
                    IntCase{{0x02, 0x02, 0xff, 0x80}, false, 0},                    // redundant
                    IntCase{{0x41, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, false, 0},  // >= 2^32
                    IntCase{{0x42, 0x01, 0x80}, false, 0},                          // negative
                    IntCase{{0x41, 0x00}, false, 0},
                    IntCase{{0x46, 0x01, 0x01}, false, 0},  // Counter64 is get64's
                    IntCase{{0x04, 0x01, 0x01}, false, 0},  // wrong type
                    IntCase{{0x02, 0x04, 0x01}, false, 0}   // truncated
                    ));

TEST(InStream, Get64AcceptsCounter64AndNonNegativeThirtyTwoBitTypes) {
    struct Case {
        Bytes bytes;
        bool ok;
        unsigned long long value;
    } cases[] = {
        {{0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, true, ~0ull},
        {{0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, true, 1ull << 40},
        {{0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, true, 4294967295ull},
        {{0x02, 0x01, 0x07}, true, 7},
        {{0x02, 0x01, 0xff}, false, 0},
        {{0x46, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, false, 0},
        {{0x46, 0x0a, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, false, 0},
        {{0x04, 0x01, 0x07}, false, 0},
    };
    for (const Case& c : cases) {
        InStream in = streamOf(c.bytes);
        unsigned long long value = 99;
        EXPECT_EQ(in.get64(value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 99);
    }
}

TEST(InStream, WrongTypeIsLeftForTheRightReader) {
    Bytes bytes = {0x04, 0x02, 'h', 'i', 0x02, 0x01, 0x05};
    InStream in = streamOf(bytes);
    int number = 0;
    OID oid;
    unsigned long long wide = 0;
    EXPECT_FALSE(in.getInt(number) || in.getOID(oid) || in.get64(wide));
    std::string text;
    ASSERT_TRUE(in.getString(text));
    EXPECT_EQ(text, "hi");
    EXPECT_FALSE(in.getString(text));
    EXPECT_TRUE(in.getInt(number));
    EXPECT_EQ(number, 5);
    EXPECT_TRUE(in.isSeqEnd());
    EXPECT_EQ(in.getType(), 0u);
}

TEST(InStream, IpAddressMustHaveFourOctets) {
    Bytes bytes = {0x40, 0x05, 1, 2, 3, 4, 5};
    InStream in = streamOf(bytes);
    std::string value;
    EXPECT_FALSE(in.getString(value));
}

struct OIDCase {
    const char* what;
    Bytes bytes;
    bool ok;
    OID value;
};

void PrintTo(const OIDCase& c, std::ostream* os) {
    *os << c.what;
}

class InStreamGetOID : public testing::TestWithParam<OIDCase> {};

TEST_P(InStreamGetOID, DecodesOrFailsWithoutConsuming) {
    InStream in = streamOf(GetParam().bytes);
    OID value{42};
    EXPECT_EQ(in.getOID(value), GetParam().ok);
    EXPECT_EQ(value, GetParam().ok ? GetParam().value : OID{42});
    EXPECT_EQ(in.position(), GetParam().ok ? GetParam().bytes.size() : 0u);
}

Bytes oidOfArcs(size_t arcs) {
    Bytes bytes = {0x06, static_cast<unsigned char>(arcs - 1), 0x2b};
    bytes.resize(arcs + 1, 0x01);
    return bytes;
}

OID arcsOneThenOnes(size_t arcs) {
    OID oid{1, 3};
    while (oid.size() < arcs)
        oid += 1;
    return oid;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, InStreamGetOID,
    testing::Values(
        OIDCase{"zero zero", {0x06, 0x01, 0x00}, true, OID{0, 0}},
        OIDCase{"first arc 2 large second", {0x06, 0x02, 0x81, 0x48}, true, OID{2, 120}},
        OIDCase{"max arc",
                {0x06, 0x06, 0x2b, 0x8f, 0xff, 0xff, 0xff, 0x7f},
                true,
                OID{1, 3, 4294967295u}},
        OIDCase{"128 arcs", oidOfArcs(128), true, arcsOneThenOnes(128)},
        OIDCase{"129 arcs", oidOfArcs(129), false, {}},
        OIDCase{"arc above 2^32-1", {0x06, 0x06, 0x2b, 0x90, 0x80, 0x80, 0x80, 0x00}, false, {}},
        OIDCase{"very long arc",
                {0x06, 0x08, 0x2b, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
                false,
                {}},
        OIDCase{"unterminated", {0x06, 0x02, 0x2b, 0x86}, false, {}},
        OIDCase{"leading 0x80", {0x06, 0x03, 0x2b, 0x80, 0x01}, false, {}},
        OIDCase{"empty content", {0x06, 0x00}, false, {}},
        OIDCase{"wrong tag", {0x04, 0x01, 0x2b}, false, {}}));

Bytes nested(size_t depth) {
    Bytes bytes;
    for (size_t i = 0; i < depth; ++i) {
        bytes.push_back(0x30);
        bytes.push_back(static_cast<unsigned char>(2 * (depth - 1 - i) + 3));
    }
    bytes.insert(bytes.end(), {0x02, 0x01, 0x07});
    return bytes;
}

TEST(InStream, NestingIsBoundedAndUnwinds) {
    InStream shallow = streamOf(nested(ber::MAX_DEPTH));
    for (size_t i = 0; i < ber::MAX_DEPTH; ++i)
        ASSERT_TRUE(shallow.enterSeq());
    int value = 0;
    EXPECT_TRUE(shallow.getInt(value));
    for (size_t i = 0; i < ber::MAX_DEPTH; ++i)
        ASSERT_TRUE(shallow.exitSeq());
    EXPECT_FALSE(shallow.exitSeq());
    EXPECT_TRUE(shallow.isSeqEnd());

    InStream deep = streamOf(nested(60));
    size_t entered = 0;
    while (deep.enterSeq())
        ++entered;
    EXPECT_EQ(entered, ber::MAX_DEPTH);
    InStream walked = streamOf(nested(60));
    size_t elements = 0;
    EXPECT_FALSE(walkElements(walked, elements));
}

TEST(InStream, EmptyStreamReadsNothing) {
    InStream in(nullptr, 0);
    EXPECT_TRUE(in.isSeqEnd());
    EXPECT_EQ(in.getType(), 0u);
    EXPECT_EQ(in.getVersion(), -1);
    EXPECT_FALSE(in.exitSeq());
    int value = 0;
    EXPECT_FALSE(in.getInt(value));
}

TEST(InStream, CopiesItsBytes) {
    Bytes packet = captured::GET_V2C;
    InStream in = streamOf(packet);
    std::fill(packet.begin(), packet.end(), 0);
    EXPECT_EQ(in.getVersion(), 1);
}

}  // namespace
