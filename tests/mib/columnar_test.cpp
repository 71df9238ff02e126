#include <gtest/gtest.h>

#include "mib/columnar.h"
#include "mib/ip_packer.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/string_packer.h"
#include "request/get_set.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

const OID IF_ENTRY("1.3.6.1.2.1.2.2.1");
const OID IF_DESCR = IF_ENTRY + 2u;
const OID IF_TYPE = IF_ENTRY + 3u;

// ifDescr and ifType over a MapTable indexed by one integer, rows 1 and 3.
class Columns : public ::testing::Test {
  protected:
    void SetUp() override {
        releaseRegistered();
        table.addIndex(&index);
        provider.add(1, "lo")->ip = 24;
        provider.add(3, "eth0")->ip = 6;
        addColumnarLeaf(IF_DESCR, &descr, &table);
        addColumnarLeaf(IF_TYPE, &type, &table);
    }
    void TearDown() override { releaseRegistered(); }

    unsigned run(RequestHandler handler, Context& ctx, const OID& name) {
        ctx.oid = name;
        testing::internal::CaptureStderr();
        const unsigned status = handler(ctx);
        testing::internal::GetCapturedStderr();
        return status;
    }

    FakeTableProvider provider;
    MapTable table{&provider};
    DataNumPacker index{field(&Rec::num), ber::INTEGER};
    DataStringPacker descr{field(&Rec::str), ber::OCTET_STRING, 0};
    DataIPPacker type{field(&Rec::ip), ber::INTEGER};  // any field will do as a column
};

// Walks of columns are the end-to-end interfaces test's.
TEST_F(Columns, GetOfAnythingButARowIndexIsNoSuchName) {
    for (const OID& name : {IF_DESCR + 2u, IF_DESCR, IF_DESCR + 3u + 0u}) {
        Context miss(nullptr, 0);
        EXPECT_EQ(run(snmpGet, miss, name), 2u) << name;
        EXPECT_EQ(miss.out.size(), 0u) << name;
    }
}

TEST_F(Columns, SetNeverCreatesRows) {
    for (const OID& name : {IF_DESCR + 5u, IF_DESCR}) {
        Context ctx = contextOver(encoded([](OutStream& o) { o.add("new", ber::OCTET_STRING); }));
        EXPECT_EQ(run(snmpSet, ctx, name), 2u) << name;
        EXPECT_EQ(ctx.out.size(), 0u);
    }
    EXPECT_TRUE(provider.setRecords.empty());
    EXPECT_EQ(table.count(), 2u);
}

// Index: an address then an integer; a partial index finds the first row
// that begins with it.
TEST(ColumnarLeaf, PartialIndexOfMultiColumnTable) {
    FakeTableProvider provider;
    MapTable table(&provider);
    DataIPPacker address(field(&Rec::ip), ber::IP_ADDRESS);
    DataNumPacker port(field(&Rec::num), ber::INTEGER);
    table.addIndex(&address);
    table.addIndex(&port);
    provider.add(161, "", 0xc0a80001);
    provider.add(162, "", 0x0a000001);
    provider.add(161, "", 0x0a000001);
    ColumnarLeaf column(&port, &table);

    const auto nextAfter = [&](const OID& oid) {
        Context ctx(nullptr, 0);
        ctx.name = IF_ENTRY;
        ctx.oid = oid;
        if (!column.getNext(ctx)) return OID();
        EXPECT_EQ(written(ctx).name, ctx.name);
        return ctx.name.suffix(IF_ENTRY.size());
    };
    EXPECT_EQ(nextAfter(OID()), OID("10.0.0.1.161"));
    EXPECT_EQ(nextAfter(OID("10.0")), OID("10.0.0.1.161"));
    EXPECT_EQ(nextAfter(OID("10.0.0.1.161")), OID("10.0.0.1.162"));
    EXPECT_EQ(nextAfter(OID("10.0.0.2")), OID("192.168.0.1.161"));
    EXPECT_EQ(nextAfter(OID("192.168.0.1.161")), OID());
}

}  // namespace
