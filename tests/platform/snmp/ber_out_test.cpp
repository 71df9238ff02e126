#include "platform/snmp/ber_out.h"

#include <gtest/gtest.h>

#include "platform/snmp/ber_in.h"
#include "tests/platform/snmp/request_walk.h"

namespace {

// Encodes a response of 300 bindings, whose lists exceed 127 octets, then
// grows the error index past one octet, twice while the list is still open.
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
    out.addErrorIndex(70000);
    for (int open = 0; open < 3; ++open)
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

}  // namespace
