// Tables past what the end-to-end walks of the IF-MIB and the example table
// see: keys of different lengths, indexes of several fields and their order,
// keys that do not parse, and the static multiplexing table that no shipped
// plug-in uses.
#include <gtest/gtest.h>

#include "mib/columnar.h"
#include "mib/ip_packer.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/static_mux_table.h"
#include "mib/string_packer.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

std::vector<OID> walk(Table& table) {
    std::vector<OID> indexes;
    OID index;
    for (auto next = table.getNext(index); next.second; next = table.getNext(index)) {
        index = next.first;
        indexes.push_back(index);
        if (indexes.size() > 100) break;
    }
    return indexes;
}

// Keys each record by its `oid` field, to place rows at any index.
class OidKeyedTable : public MapTable {
  public:
    using MapTable::MapTable;
    OID getKey(Data const* rec) const override { return static_cast<Rec const*>(rec)->oid; }
};

class AnnouncementOrder : public ::testing::TestWithParam<bool> {};

TEST_P(AnnouncementOrder, GetNextFollowsOidOrderNotArrival) {
    FakeTableProvider provider;
    OidKeyedTable table(&provider);
    Rec* first = provider.add(1);
    Rec* second = provider.add(2);
    first->oid = OID("1.5");
    second->oid = OID("2");
    if (GetParam()) std::swap(provider.records[0], provider.records[1]);

    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("1.5"), static_cast<Data*>(first)));
    EXPECT_EQ(table.getNext(OID("1.5")).first, OID("2"));
    EXPECT_EQ(table.getNext(OID("1.5.0")).first, OID("2"));  // 1.5 < 1.5.0 < 2
    EXPECT_EQ(table.getNext(OID("1")).first, OID("1.5"));
    EXPECT_EQ(table.getNext(OID("2")), std::make_pair(OID(), static_cast<Data*>(nullptr)));
    EXPECT_EQ(table.get(OID("1.5")), first);
    EXPECT_EQ(table.get(OID("1")), nullptr);
    EXPECT_EQ(table.get(OID("1.5.0")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, AnnouncementOrder, ::testing::Bool());

// Index: integer, variable-length string, address.
class MultiColumnIndex : public ::testing::Test {
  protected:
    MultiColumnIndex() {
        table.addIndex(&num);
        table.addIndex(&str);
        table.addIndex(&ip);
    }
    FakeTableProvider provider;
    MapTable table{&provider};
    DataNumPacker num{field(&Rec::num), ber::INTEGER};
    DataStringPacker str{field(&Rec::str), ber::OCTET_STRING, 0};
    DataIPPacker ip{field(&Rec::ip), ber::IP_ADDRESS};
};

TEST_F(MultiColumnIndex, WalkVisitsRowsInIndexOrderAndKeepsTheLaterOfTwoEqualKeys) {
    provider.add(2, "", 1);
    provider.add(1, "ab", 1);
    provider.add(1, "b", 2);
    provider.add(1, "b", 1);
    provider.add(-1, "a", 0);  // 4294967295: last
    Rec* later = provider.add(1, "b", 2);
    // A shorter string sorts first: its length arc is smaller.
    EXPECT_EQ(walk(table), (std::vector<OID>{OID("1.1.98.0.0.0.1"), OID("1.1.98.0.0.0.2"),
                                             OID("1.2.97.98.0.0.0.1"), OID("2.0.0.0.0.1"),
                                             OID("4294967295.1.97.0.0.0.0")}));
    EXPECT_EQ(table.count(), 5u);
    EXPECT_EQ(table.get(OID("1.1.98.0.0.0.2")), later);
}

// A full index fills every field, extra arcs are ignored; an unreadable
// fragment stops the split there.
TEST_F(MultiColumnIndex, StoreKeySplitsTheIndexIntoFieldsUpToAnUnreadableOne) {
    Rec rec;
    table.storeKey(&rec, OID("4294967291.3.120.121.122.192.168.1.2.99.98"));
    EXPECT_EQ(rec.num, -5);
    EXPECT_EQ(rec.str, "xyz");
    EXPECT_EQ(rec.ip, 0xc0a80102u);
    EXPECT_EQ(table.getKey(&rec), OID("4294967291.3.120.121.122.192.168.1.2"));

    Rec partial;
    partial.ip = 0x01010101;
    table.storeKey(&partial, OID("4.5.97"));  // string claims 5 octets, has 1
    EXPECT_EQ(partial.num, 4);
    EXPECT_EQ(partial.str, "");
    EXPECT_EQ(partial.ip, 0x01010101u);  // saw an empty rest
}

// Index: an address then an integer; a partial index finds the first row
// that begins with it.
TEST(ColumnarLeaf, PartialIndexOfMultiColumnTable) {
    const OID entry("1.3.6.1.2.1.2.2.1");
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
        ctx.name = entry;
        ctx.oid = oid;
        if (!column.getNext(ctx)) return OID();
        EXPECT_EQ(written(ctx).name, ctx.name);
        return ctx.name.suffix(entry.size());
    };
    EXPECT_EQ(nextAfter(OID()), OID("10.0.0.1.161"));
    EXPECT_EQ(nextAfter(OID("10.0")), OID("10.0.0.1.161"));
    EXPECT_EQ(nextAfter(OID("10.0.0.1.161")), OID("10.0.0.1.162"));
    EXPECT_EQ(nextAfter(OID("10.0.0.2")), OID("192.168.0.1.161"));
    EXPECT_EQ(nextAfter(OID("192.168.0.1.161")), OID());
}

TEST(StaticMuxTable, ServesBoundRowsInOrderStopsAtOneWithoutDataAndSetsOnlyBoundOnes) {
    Rec firstRecord;
    Rec secondRecord;
    FakeProvider first{&firstRecord};
    FakeProvider second{&secondRecord};
    StaticMuxTable table;
    table.addProvider(OID("2"), &second);
    table.addProvider(OID("1"), &first);
    const std::pair<OID, Data*> end{OID(), nullptr};

    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("1"), static_cast<Data*>(&firstRecord)));
    EXPECT_EQ(table.getNext(OID("1")), std::make_pair(OID("2"), static_cast<Data*>(&secondRecord)));
    EXPECT_EQ(table.getNext(OID("2")), end);
    EXPECT_EQ(table.get(OID("3")), nullptr);
    EXPECT_EQ(table.get(OID("1.0")), nullptr);
    first.rec = nullptr;
    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("1"), static_cast<Data*>(nullptr)));
    EXPECT_EQ(table.get(OID("2")), &secondRecord);
    EXPECT_EQ(table.count(), 2u);

    EXPECT_EQ(table.set(OID("2"), &secondRecord), 1);
    EXPECT_EQ(second.lastSet, &secondRecord);
    EXPECT_EQ(table.set(OID("7"), &secondRecord), 0);
    EXPECT_EQ(first.sets + second.sets, 1u);
}

}  // namespace
