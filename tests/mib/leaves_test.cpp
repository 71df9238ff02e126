// The agent's scalar and columnar leaves on requests that fail or carry the
// wrong value; reads, walks and good writes are the end-to-end system MIB
// and IF-MIB tests'.
#include <gtest/gtest.h>

#include "mib/columnar.h"
#include "mib/ip_packer.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/scalar.h"
#include "mib/string_packer.h"
#include "request/get_next.h"
#include "request/get_set.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

const OID SYS_NAME("1.3.6.1.2.1.1.5");
const OID SYS_LOCATION("1.3.6.1.2.1.1.6");
const OID IF_DESCR("1.3.6.1.2.1.2.2.1.2");

// sysName from a provider's record and sysLocation a constant after it;
// ifDescr over a table indexed by one integer, rows 1 and 3.
class Leaves : public ::testing::Test {
  protected:
    void SetUp() override {
        releaseRegistered();
        record.str = "router";
        addScalarLeaf(SYS_NAME, &namePacker, &provider);
        addScalarConstStringLeaf(SYS_LOCATION, "attic", ber::OCTET_STRING);
        table.addIndex(&index);
        rows.add(1, "lo");
        rows.add(3, "eth0");
        addColumnarLeaf(IF_DESCR, &descr, &table);
    }
    void TearDown() override { releaseRegistered(); }

    static unsigned run(RequestHandler handler, Context& ctx, const OID& name) {
        ctx.oid = name;
        testing::internal::CaptureStderr();
        const unsigned status = handler(ctx);
        testing::internal::GetCapturedStderr();
        return status;
    }

    Rec record;
    FakeProvider provider{&record};
    DataStringPacker namePacker{field(&Rec::str), ber::OCTET_STRING, 0};
    FakeTableProvider rows;
    MapTable table{&rows};
    DataNumPacker index{field(&Rec::num), ber::INTEGER};
    DataStringPacker descr{field(&Rec::str), ber::OCTET_STRING, 0};
};

TEST_F(Leaves, ScalarWithoutRecordFailsGetAndSetAndIsSkippedByGetNext) {
    provider.rec = nullptr;
    Context get(nullptr, 0);
    EXPECT_EQ(run(snmpGet, get, SYS_NAME + 0u), 2u);
    Context set = contextOver({0x04, 0x01, 'x'});
    EXPECT_EQ(run(snmpSet, set, SYS_NAME + 0u), 2u);
    EXPECT_EQ(set.out.size(), 0u);
    EXPECT_EQ(provider.sets, 0u);
    Context next(nullptr, 0);
    ASSERT_EQ(run(snmpGetNext, next, SYS_NAME), 0u);
    EXPECT_EQ(written(next).name, SYS_LOCATION + 0u);
}

TEST_F(Leaves, ScalarSetOfUndecodableValueCommitsAndEchoesUnchangedRecord) {
    Context ctx = contextOver({0x02, 0x01, 0x05});  // INTEGER for a string object
    ASSERT_EQ(run(snmpSet, ctx, SYS_NAME + 0u), 0u);
    EXPECT_EQ(record.str, "router");
    EXPECT_EQ(provider.sets, 1u);
    const std::vector<unsigned char> router{'r', 'o', 'u', 't', 'e', 'r'};
    EXPECT_EQ(written(ctx).content, router);
}

TEST_F(Leaves, ColumnAnswersRowIndexesOnlyAndNeverCreatesRows) {
    for (const OID& name : {IF_DESCR + 2u, IF_DESCR, IF_DESCR + 3u + 0u}) {
        Context miss(nullptr, 0);
        EXPECT_EQ(run(snmpGet, miss, name), 2u) << name;
        EXPECT_EQ(miss.out.size(), 0u) << name;
    }
    for (const OID& name : {IF_DESCR + 5u, IF_DESCR}) {
        Context ctx = contextOver({0x04, 0x03, 'n', 'e', 'w'});
        EXPECT_EQ(run(snmpSet, ctx, name), 2u) << name;
        EXPECT_EQ(ctx.out.size(), 0u);
    }
    EXPECT_TRUE(rows.setRecords.empty());
    EXPECT_EQ(table.count(), 2u);
}

}  // namespace
