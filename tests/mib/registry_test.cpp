#include <gtest/gtest.h>

#include "request/get_next.h"
#include "request/get_set.h"
#include "tests/request/request_fixture.h"

using namespace fixture;

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { leafs.clear(); }
    void TearDown() override { leafs.clear(); }
};

TEST_F(Registry, EmptyTreeAnswersEveryOperationWithNoSuchName) {
    for (RequestHandler handler : {snmpGet, snmpGetNext, snmpSet}) {
        Context ctx(nullptr, 0);
        ctx.oid = under({1, 0});
        EXPECT_EQ(handler(ctx), 2u);
        EXPECT_EQ(ctx.out.size(), 0u);
    }
}

// How the handlers prepare the Context for the leaf they pick.
TEST_F(Registry, HandlersHandLeavesTheirInstancePart) {
    CatchAll outer;
    CatchAll inner;
    addLeaf(OID("1.3.6.1.3.7"), &outer);
    addLeaf(OID("1.3.6.1.3.7.1.5"), &inner);

    Context ctx(nullptr, 0);
    ctx.oid = OID("1.3.6.1.3.7.1.5.9.9");
    ASSERT_EQ(snmpGet(ctx), 0u);
    EXPECT_EQ(ctx.name, OID("1.3.6.1.3.7.1.5.9.9"));  // leaf extended name by oid 9.9
    EXPECT_EQ(ctx.oid, OID("9.9"));

    ctx.oid = OID("1.3.6.1.3.7.1.5");
    ctx.name.clear();
    ASSERT_EQ(snmpSet(ctx), 0u);
    EXPECT_EQ(ctx.setPrefix, OID("1.3.6.1.3.7.1.5"));
    EXPECT_TRUE(inner.lastSuffix.empty());
    EXPECT_TRUE(ctx.name.empty());
    EXPECT_EQ(ctx.oid, OID("1.3.6.1.3.7.1.5"));  // Set leaves the requested name

    ctx.oid = OID("1.3.6.1.3.7.2.1");
    ASSERT_EQ(snmpSet(ctx), 0u);
    EXPECT_EQ(outer.lastSuffix, OID("2.1"));
}

TEST(ErrorOutcomes, StampStatusWithoutTouchingIndex) {
    Context ctx(nullptr, 0);
    ctx.out.startSeq(ber::RESPONSE);
    ctx.out.addErrorStatus(0);
    ctx.out.addErrorIndex(3);
    const std::vector<unsigned char> before = ctx.out.bytes();
    AccessError().apply(ctx);
    EXPECT_EQ(ctx.out.bytes(), before);
    EXPECT_EQ(ctx.notFound, 0u);

    const PathNotExists notExists;
    const AccessError& asBase = notExists;
    asBase.apply(ctx);
    EXPECT_EQ(ctx.notFound, 1u);
    MiscError().apply(ctx);
    InvalidOID().apply(ctx);
    ctx.out.endSeq();
    const std::vector<unsigned char> expected = {0xa2, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x03};
    EXPECT_EQ(ctx.out.bytes(), expected);
    EXPECT_EQ(ctx.notFound, 1u);
}

}  // namespace
