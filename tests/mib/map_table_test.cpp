#include <gtest/gtest.h>

#include "mib/ip_packer.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/string_packer.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

// Keys each record by its `oid` field, to place rows at any index.
class OidKeyedTable : public MapTable {
  public:
    using MapTable::MapTable;
    OID getKey(Data const* rec) const override { return static_cast<Rec const*>(rec)->oid; }
};

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

TEST_F(MultiColumnIndex, WalkVisitsRowsInIndexOrder) {
    provider.add(2, "", 1);
    provider.add(1, "ab", 1);
    provider.add(1, "b", 2);
    provider.add(1, "b", 1);
    provider.add(-1, "a", 0);  // 4294967295: last
    // A shorter string sorts first: its length arc is smaller.
    EXPECT_EQ(walk(table), (std::vector<OID>{OID("1.1.98.0.0.0.1"), OID("1.1.98.0.0.0.2"),
                                             OID("1.2.97.98.0.0.0.1"), OID("2.0.0.0.0.1"),
                                             OID("4294967295.1.97.0.0.0.0")}));
    EXPECT_EQ(table.count(), 5u);
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

TEST(MapTable, SameKeyAnnouncedTwiceKeepsTheLater) {
    FakeTableProvider provider;
    MapTable table(&provider);
    DataNumPacker num(field(&Rec::num), ber::INTEGER);
    table.addIndex(&num);
    provider.add(3);
    Rec* later = provider.add(3);
    EXPECT_EQ(table.get(OID("3")), later);
    EXPECT_EQ(table.count(), 1u);
}

// The provider clears its clients before deleting records, then refills on
// the next read: the table shows only the new records.
TEST(MapTable, FollowsProviderCacheThroughDropAndRefill) {
    FakeTableProvider provider;
    MapTable table(&provider);
    DataNumPacker num(field(&Rec::num), ber::INTEGER);
    table.addIndex(&num);
    provider.add(1);
    provider.add(2);
    EXPECT_EQ(walk(table), (std::vector<OID>{OID("1"), OID("2")}));

    provider.drop();
    provider.add(5);
    EXPECT_EQ(table.get(OID("1")), nullptr);
    EXPECT_EQ(walk(table), (std::vector<OID>{OID("5")}));
    EXPECT_EQ(table.count(), 1u);
}

}  // namespace
