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

// The error outcomes' status and index in replies are the pdu and bulk tests'.

}  // namespace
