#include "request/pdu.h"

#include <gtest/gtest.h>

#include "request/error_status.h"
#include "tests/request/request_fixture.h"

using namespace fixture;

namespace {

const PduPolicy READ_ONLY_POLICY{true, false};
const PduPolicy READ_WRITE_POLICY{true, true};

Reply serveOk(uint32_t pduType, int second, int third, const std::vector<VariableBinding>& bindings,
              const PduPolicy& policy = READ_WRITE_POLICY) {
    Reply reply;
    EXPECT_TRUE(serve(request(1, "public", pduType, second, third, bindings), policy, reply));
    EXPECT_EQ(reply.pduType, ber::RESPONSE);
    EXPECT_EQ(reply.requestId, 4711);
    return reply;
}

struct Case {
    const char* scenario;
    uint32_t pduType;
    std::vector<VariableBinding> bindings;
    PduPolicy policy;
    int status;
    int index;
    std::vector<std::string> replyNames;
};

class Operations : public Tree, public ::testing::WithParamInterface<Case> {};

// Gets and walks of instances, objects, missing rows, the end of the tree
// and names outside it, and the rights of communities, are the end-to-end
// walk and access tests'.
// clang-format off
const Case CASES[] = {
    {"GetNestedOnlyTriesGreatestKey", ber::GET_REQUEST, {binding(OID("1.3.6.1.3.7.1.6.0"))},
     READ_ONLY_POLICY, 2, 1, {"1.3.6.1.3.7.1.6.0"}},
    {"GetNextSkipsRefusingLeaf", ber::GET_NEXT_REQUEST, {binding(under({2, 5}))}, READ_ONLY_POLICY, 0, 0, {e("4.0")}},
    {"SetOutsideTree", ber::SET_REQUEST, {binding(OID("2.5.4"), ber::INTEGER, integer(1))},
     READ_WRITE_POLICY, 2, 1, {"2.5.4"}},
    {"UnknownBindingValueTypeIsLeftToLeaf", ber::SET_REQUEST, {binding(under({2, 1}), ber::OCTET_STRING, "x")},
     READ_WRITE_POLICY, 2, 1, {e("2.1")}},
};
// clang-format on

TEST_P(Operations, AnswersWithStatusIndexAndBindings) {
    const Case& c = GetParam();
    const Reply reply = serveOk(c.pduType, 0, 0, c.bindings, c.policy);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.index, c.index);
    EXPECT_EQ(names(reply), c.replyNames);
    // A failing binding is echoed with NULL; answered ones carry a value.
    for (size_t i = 0; i < reply.bindings.size(); ++i) {
        const bool failed = c.status != 0 && i + 1 == reply.bindings.size();
        EXPECT_EQ(reply.bindings[i].type == ber::NULL_VALUE, failed) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Pdu, Operations, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(Tree, SetStopsAtFailingBindingKeepingEarlierOnesAndReadOnlySetsNothing) {
    const Reply reply = serveOk(ber::SET_REQUEST, 0, 0,
                                {binding(under({2, 1}), ber::INTEGER, integer(11)),
                                 binding(under({2, 3}), ber::INTEGER, integer(33)),
                                 binding(under({2, 2}), ber::INTEGER, integer(22))});
    EXPECT_EQ(reply.status, 2);
    EXPECT_EQ(reply.index, 2);
    EXPECT_EQ(names(reply), (std::vector<std::string>{e("2.1"), e("2.3")}));
    EXPECT_EQ(reply.bindings[0].value, integer(11));
    EXPECT_EQ(column.rows, (std::map<uint32_t, int>{{1, 11}, {2, 20}, {5, 50}}));

    serveOk(ber::SET_REQUEST, 0, 0, {binding(under({1, 0}), ber::OCTET_STRING, "x")},
            READ_ONLY_POLICY);
    EXPECT_EQ(alpha.value, "alpha");
}

TEST_F(Tree, SetReachesLongestRegisteredPrefix) {
    testing::internal::CaptureStderr();
    const Reply reply = serveOk(ber::SET_REQUEST, 0, 0,
                                {binding(OID("1.3.6.1.3.7.1.6.0"), ber::INTEGER, integer(1))});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "snmpSet found 1.3.6.1.3.7\n");
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(catchAll.lastSuffix, OID("1.6.0"));
}

// The limit of an SNMPv3 reply (the manager's msgMaxSize) is lower than a
// datagram's; the largest payload itself is the end-to-end bulk test's.
TEST_F(Tree, ReplyOverTheLimitIsTooBigWithNoBindings) {
    PduPolicy lowered = READ_ONLY_POLICY;
    lowered.replyLimit = 40;
    Reply reply;
    ASSERT_TRUE(serve(request(1, "public", ber::GET_REQUEST, 0, 0, {binding(under({1, 0}))}),
                      lowered, reply));
    EXPECT_EQ(reply.status, 1);
    EXPECT_EQ(reply.index, 0);
    EXPECT_TRUE(reply.bindings.empty());
}

TEST_F(Tree, UndecodableRequestsGetNoReply) {
    // A binding whose name is not an OID, after a good one.
    std::vector<unsigned char> badName = request(1, "public", ber::GET_REQUEST, 0, 0,
                                                 {binding(under({1, 0})), binding(under({4, 0}))});
    badName[badName.size() - 2 - 12] = ber::OCTET_STRING;  // the second name's tag
    // A PDU header missing its third INTEGER.
    OutStream shortHeader;
    shortHeader.startSeq(ber::SEQUENCE);
    shortHeader.add(1, ber::INTEGER);
    shortHeader.add(std::string("public"), ber::OCTET_STRING);
    shortHeader.startSeq(ber::GET_REQUEST);
    shortHeader.add(1, ber::INTEGER);
    shortHeader.add(0, ber::INTEGER);
    shortHeader.endSeq();
    shortHeader.endSeq();
    for (const auto& datagram : {badName, shortHeader.bytes()}) {
        Reply reply;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(serve(datagram, READ_ONLY_POLICY, reply));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

}  // namespace
