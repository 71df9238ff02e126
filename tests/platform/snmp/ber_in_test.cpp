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

// Plain truncations are the end-to-end robustness test's. Here the message
// length is patched to the truncated size, so the inner elements overrun.
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

TEST(InStream, MalformedHeaderFailsWithoutConsuming) {
    const std::pair<const char*, Bytes> cases[] = {
        {"length past end", {0x30, 0x05, 0x02, 0x01, 0x01}},
        {"long length past end", {0x30, 0x81, 0x04, 0x02, 0x01, 0x01}},
        {"length octets missing", {0x30, 0x82, 0x00}},
        {"five length octets", {0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x03, 0x02, 0x01, 0x01}},
        {"indefinite length", {0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}},
        {"reserved length 0xff", {0x30, 0xff, 0x02, 0x01, 0x01}},
        {"huge long length", {0x30, 0x84, 0xff, 0xff, 0xff, 0xff, 0x02}},
        {"high tag number", {0x3f, 0x81, 0x01, 0x03, 0x02, 0x01, 0x01}},
        {"tag only", {0x30}},
        {"empty", {}},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        InStream in = streamOf(bytes);
        BerElement element;
        EXPECT_FALSE(in.peekElement(element));
        EXPECT_FALSE(in.enterSeq());
        EXPECT_FALSE(in.skip());
        EXPECT_EQ(in.position(), 0u);
        InStream message = streamOf(bytes);
        EXPECT_EQ(message.getVersion(), -1);
    }
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

// getInt takes INTEGER and the 32-bit application types; get64 takes
// Counter64 and the non-negative rest. Failures consume nothing.
TEST(InStream, NumbersAcceptOnlyWellFormedValuesOfTheirTypes) {
    struct Case {
        Bytes bytes;
        bool wide;  // read with get64
        bool ok;
        long long value;
    };
    const Case cases[] = {
        {{0x02, 0x01, 0x00}, false, true, 0},
        {{0x02, 0x01, 0xff}, false, true, -1},
        {{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, false, true, INT_MIN},
        {{0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}, false, true, INT_MAX},
        {{0x41, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, false, true, -1},
        {{0x43, 0x03, 0x01, 0xe2, 0x40}, false, true, 123456},
        {{0x02, 0x00}, false, false, 0},                                // empty
        {{0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, false, false, 0},  // > int
        {{0x02, 0x02, 0x00, 0x7f}, false, false, 0},                    // redundant octet
        {{0x41, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, false, false, 0},  // >= 2^32
        {{0x42, 0x01, 0x80}, false, false, 0},                          // negative
        {{0x46, 0x01, 0x01}, false, false, 0},                          // get64's
        {{0x04, 0x01, 0x01}, false, false, 0},                          // wrong type
        {{0x02, 0x04, 0x01}, false, false, 0},                          // truncated
        {{0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, true, true, -1},
        {{0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, true, true, 1ll << 40},
        {{0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, true, true, 4294967295ll},
        {{0x02, 0x01, 0x07}, true, true, 7},
        {{0x02, 0x01, 0xff}, true, false, 0},
        {{0x46, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, true, false, 0},
        {{0x46, 0x0a, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        InStream in = streamOf(c.bytes);
        if (c.wide) {
            unsigned long long value = 99;
            EXPECT_EQ(in.get64(value), c.ok);
            EXPECT_EQ(value, c.ok ? static_cast<unsigned long long>(c.value) : 99);
        } else {
            int value = 12345;
            EXPECT_EQ(in.getInt(value), c.ok);
            EXPECT_EQ(value, c.ok ? c.value : 12345);
        }
        EXPECT_EQ(in.position(), c.ok ? c.bytes.size() : 0u);
    }
}

TEST(InStream, StringsRefuseOtherTypesAndAddressesOfOtherSizes) {
    Bytes bytes = {0x02, 0x01, 0x05, 0x40, 0x05, 1, 2, 3, 4, 5};
    InStream in = streamOf(bytes);
    std::string text = "kept";
    EXPECT_FALSE(in.getString(text));
    int number = 0;
    ASSERT_TRUE(in.getInt(number));
    EXPECT_FALSE(in.getString(text));  // an IpAddress has four octets
    EXPECT_EQ(text, "kept");
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

TEST(InStream, OIDDecodesOrFailsWithoutConsuming) {
    struct Case {
        const char* what;
        Bytes bytes;
        bool ok;
        OID value;
    };
    const Case cases[] = {
        {"zero zero", {0x06, 0x01, 0x00}, true, OID{0, 0}},
        {"first arc 2 large second", {0x06, 0x02, 0x81, 0x48}, true, OID{2, 120}},
        {"max arc", {0x06, 0x06, 0x2b, 0x8f, 0xff, 0xff, 0xff, 0x7f}, true, OID{1, 3, 4294967295u}},
        {"128 arcs", oidOfArcs(128), true, arcsOneThenOnes(128)},
        {"129 arcs", oidOfArcs(129), false, {}},
        {"arc above 2^32-1", {0x06, 0x06, 0x2b, 0x90, 0x80, 0x80, 0x80, 0x00}, false, {}},
        {"very long arc", {0x06, 0x08, 0x2b, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f}, false, {}},
        {"unterminated", {0x06, 0x02, 0x2b, 0x86}, false, {}},
        {"leading 0x80", {0x06, 0x03, 0x2b, 0x80, 0x01}, false, {}},
        {"empty content", {0x06, 0x00}, false, {}},
        {"wrong tag", {0x04, 0x01, 0x2b}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InStream in = streamOf(c.bytes);
        OID value{42};
        EXPECT_EQ(in.getOID(value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : OID{42});
        EXPECT_EQ(in.position(), c.ok ? c.bytes.size() : 0u);
    }
}

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

TEST(InStream, CopiesItsBytes) {
    Bytes packet = captured::GET_V2C;
    InStream in = streamOf(packet);
    std::fill(packet.begin(), packet.end(), 0);
    EXPECT_EQ(in.getVersion(), 1);
}

}  // namespace
