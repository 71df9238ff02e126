#include "platform/snmp/ber_out.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/snmp/ber_in.h"
#include "tests/platform/snmp/request_walk.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct NumberCase {
    long long value;  // taken as int, unsigned or 64-bit by `kind`
    char kind;        // 'i' int, 'u' unsigned int, 'w' unsigned long long
    uint32_t tag;
    Bytes expected;
};

const NumberCase NUMBER_CASES[] = {
    {0, 'i', 2, {0x02, 0x01, 0x00}},
    {127, 'i', 2, {0x02, 0x01, 0x7f}},
    {128, 'i', 2, {0x02, 0x02, 0x00, 0x80}},
    {-1, 'i', 2, {0x02, 0x01, 0xff}},
    {-129, 'i', 2, {0x02, 0x02, 0xff, 0x7f}},
    {INT_MIN, 'i', 2, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
    {-1, 'i', 0x42, {0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}},
    {-1, 'i', 0x40, {0x40, 0x04, 0xff, 0xff, 0xff, 0xff}},
    {0x80000000, 'u', 0x41, {0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
    {255, 'u', 0x43, {0x43, 0x02, 0x00, 0xff}},
    {1ll << 40, 'w', 0x46, {0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {-1, 'w', 0x46, {0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}}};

// X.690 8.3: minimal two's complement; the unsigned application types get a
// leading zero octet where the top bit is set, an IpAddress always four octets.
TEST(OutStream, NumbersWriteMinimalContentAndReadBack) {
    for (const NumberCase& c : NUMBER_CASES) {
        SCOPED_TRACE(testing::PrintToString(c.expected));
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
}

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

// X.690 8.1.3: the short form below 128, then as few length octets as fit,
// also for a sequence whose length is only known at its end.
TEST(OutStream, LengthsUseTheShortestForm) {
    const std::pair<size_t, Bytes> cases[] = {
        {0, {0x04, 0x00}},
        {127, {0x04, 0x7f}},
        {128, {0x04, 0x81, 0x80}},
        {255, {0x04, 0x81, 0xff}},
        {256, {0x04, 0x82, 0x01, 0x00}},
        {65536, {0x04, 0x83, 0x01, 0x00, 0x00}},
    };
    auto headerSize = [](size_t content) {
        return content < 128 ? 2u : content < 256 ? 3u : content < 65536 ? 4u : 5u;
    };
    for (const auto& [length, header] : cases) {
        SCOPED_TRACE(length);
        OutStream primitive;
        primitive.add(std::string(length, 'x'), ber::OCTET_STRING);
        ASSERT_EQ(primitive.size(), header.size() + length);
        EXPECT_TRUE(std::equal(header.begin(), header.end(), primitive.data()));

        OutStream constructed;
        constructed.startSeq(ber::SEQUENCE);
        constructed.add(std::string(length, 'x'), ber::OCTET_STRING);
        constructed.endSeq();
        EXPECT_EQ(constructed.size(), headerSize(primitive.size()) + primitive.size());
        InStream in(constructed.data(), constructed.size());
        std::string back;
        ASSERT_TRUE(in.enterSeq() && in.getString(back));
        EXPECT_EQ(back.size(), length);
        EXPECT_TRUE(in.isSeqEnd());
    }
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
    out.addErrorStatus(snmp::ErrorStatus::NO_ERROR);
    out.addErrorIndex(0);
    out.startSeq(ber::SEQUENCE);
    for (uint32_t i = 0; i < 300; ++i) {
        out.startSeq(ber::SEQUENCE);
        out.addOID(OID("1.3.6.1.2.1.2.2.1.10") + i);
        out.add(i * 1000u, ber::COUNTER32);
        out.endSeq();
    }
    out.addErrorStatus(snmp::ErrorStatus::NO_SUCH_NAME);
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

}  // namespace
