// GetBulkRequest as the dispatcher serves it (RFC 3416 4.2.3), and the
// per-binding snmpGetBulk handler of the plug-in interface.
#include <gtest/gtest.h>

#include "request/get_next.h"
#include "tests/request/request_fixture.h"

using namespace fixture;

namespace {

const PduPolicy READ{true, false};

struct BulkCase {
    const char* scenario;
    int nonRepeaters;
    int maxRepetitions;
    std::vector<OID> names;
    int status;
    int index;
    std::vector<std::string> replyNames;
};

class Bulk : public Tree, public ::testing::WithParamInterface<BulkCase> {};

// Repeaters after a non-repeater, off the end of the tree and after it, and
// zero repetitions are the end-to-end bulk test's.
// clang-format off
const BulkCase CASES[] = {
    {"SecondRepeaterPastEndCutsRepetition", 0, 3, {under({2, 1}), under({4, 0})}, 0, 0, {e("2.2")}},
    {"FirstRepeaterFailingAfterNonRepeaters", 1, 5, {under({1}), under({4, 0})}, 0, 0, {e("1.0")}},
    {"FailingNonRepeaterAnsweredAsGetNext", 2, 1, {under({1}), under({4, 0}), under({2})}, 2, 2,
     {e("1.0"), e("4.0")}},
    {"NegativeRepetitionsAsZero", 0, -1, {under({1})}, 0, 0, {}},
    {"NegativeNonRepeatersAsZero", -3, 1, {under({1}), under({2})}, 0, 0, {e("1.0"), e("2.1")}},
    {"NonRepeatersBeyondListAllNonRepeating", 7, 4, {under({1}), under({2})}, 0, 0, {e("1.0"), e("2.1")}},
};
// clang-format on

TEST_P(Bulk, AnswersInRfc3416Layout) {
    const BulkCase& c = GetParam();
    std::vector<VariableBinding> bindings;
    for (const OID& name : c.names)
        bindings.push_back(binding(name));
    Reply reply;
    ASSERT_TRUE(serve(
        request(1, "public", ber::GET_BULK_REQUEST, c.nonRepeaters, c.maxRepetitions, bindings),
        READ, reply));
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.index, c.index);
    EXPECT_EQ(names(reply), c.replyNames);
}

INSTANTIATE_TEST_SUITE_P(Pdu, Bulk, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.scenario); });

TEST_F(Tree, BulkWithoutReadEchoesFirstBindingWithNoSuchName) {
    Reply reply;
    ASSERT_TRUE(serve(request(1, "public", ber::GET_BULK_REQUEST, 0, 5,
                              {binding(under({1})), binding(under({2}))}),
                      PduPolicy{false, false}, reply));
    EXPECT_EQ(reply.status, 2);
    EXPECT_EQ(reply.index, 1);
    EXPECT_EQ(names(reply), std::vector<std::string>{e("1")});
}

// A huge table and max-repetitions: the reply stops at the size limit, and
// the work at what such a reply could hold.
TEST_F(Tree, HugeRepetitionsStopAtReplyLimit) {
    Column huge({}, 1000000);
    addLeaf(under({5}), &huge);
    for (const size_t limit : {size_t(ber::MAX_UDP_PAYLOAD), size_t(484)}) {
        SCOPED_TRACE(limit);
        huge.nextCalls = 0;
        PduPolicy policy = READ;
        policy.replyLimit = limit;
        Reply reply;
        size_t size = 0;
        ASSERT_TRUE(serve(request(1, "public", ber::GET_BULK_REQUEST, 0, 0x7fffffff,
                                  {binding(under({5})), binding(under({5, 500000}))}),
                          policy, reply, &size));
        EXPECT_EQ(reply.status, 0);
        EXPECT_LE(size, limit);
        EXPECT_GT(size + 40, limit);  // filled up to about one binding below the limit
        ASSERT_GE(reply.bindings.size(), 2u);
        for (size_t i = 0; i < reply.bindings.size(); ++i) {
            const uint32_t row = uint32_t(i / 2 + 1) + (i % 2 == 0 ? 0 : 500000);
            ASSERT_EQ(reply.bindings[i].oid, under({5, row})) << i;
        }
        EXPECT_LE(huge.nextCalls, reply.bindings.size() + 1);
    }
}

TEST_F(Tree, BulkFirstBindingBeyondLimitIsTooBig) {
    Scalar large(std::string(300, 'l'));
    addLeaf(under({0}), &large);
    PduPolicy policy = READ;
    policy.replyLimit = 200;
    Reply reply;
    ASSERT_TRUE(serve(request(1, "public", ber::GET_BULK_REQUEST, 0, 3, {binding(ENTERPRISE)}),
                      policy, reply));
    EXPECT_EQ(reply.status, 1);
    EXPECT_EQ(reply.index, 0);
    EXPECT_TRUE(reply.bindings.empty());
}

// The per-binding handler: it writes its repetitions itself, leaving the last
// binding open for its caller to close.
TEST_F(Tree, GetBulkHandlerRepeatsOneBinding) {
    struct HandlerCase {
        int repetitions;
        unsigned status;
        std::vector<OID> written;
        const char* line;
    };
    const HandlerCase cases[] = {
        {3, 0, {under({1, 0}), under({2, 1}), under({2, 2})}, ""},
        {0, 0, {}, ""},
        {-1, 0, {}, ""},
        {9,
         2,
         {under({1, 0}), under({2, 1}), under({2, 2}), under({2, 5}), under({4, 0})},
         "Error 2\n"},
    };
    for (const HandlerCase& c : cases) {
        SCOPED_TRACE(c.repetitions);
        Context ctx(nullptr, 0);
        ctx.out.startSeq(ber::SEQUENCE);  // the binding list
        ctx.out.startSeq(ber::SEQUENCE);  // the binding the caller opens
        ctx.oid = under({1});
        ctx.maxRepetitions = c.repetitions;
        testing::internal::CaptureStderr();
        EXPECT_EQ(snmpGetBulk(ctx), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        ctx.out.endSeq();
        ctx.out.endSeq();
        InStream in(ctx.out.data(), ctx.out.size());
        ASSERT_TRUE(in.enterSeq());
        std::vector<OID> written;
        while (!in.isSeqEnd()) {
            OID name;
            ASSERT_TRUE(in.enterSeq());
            if (in.getOID(name)) written.push_back(name);
            in.exitSeq();
        }
        EXPECT_EQ(written, c.written);
    }
}

}  // namespace
