#include <gtest/gtest.h>

#include <map>
#include <set>

#include "mib/augment_proxy_table.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/static_mux_table.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

const std::pair<OID, Data*> END{OID(), nullptr};

// Extends each base row with a record of its own; rows listed in `without`
// have none.
class Extension : public AugmentProxyTable {
  public:
    using AugmentProxyTable::AugmentProxyTable;
    Data* augment(OID const& index, Data* baseRecord) override {
        calls.push_back(index);
        if (without.count(index)) return nullptr;
        Rec& rec = extensions[index];
        rec.num = static_cast<Rec*>(baseRecord)->num * 10;
        return &rec;
    }
    std::map<OID, Rec> extensions;
    std::set<OID> without;
    std::vector<OID> calls;
};

class Augment : public ::testing::Test {
  protected:
    Augment() {
        base.addIndex(&index);
        provider.add(1);
        provider.add(2);
    }
    FakeTableProvider provider;
    MapTable base{&provider};
    DataNumPacker index{field(&Rec::num), ber::INTEGER};
    Extension table{&base};
};

// Walks of an augmenting table are the end-to-end interfaces test's (ifXTable).
TEST_F(Augment, CountIsTheBaseTablesHoweverItGetsIt) {
    EXPECT_EQ(table.count(), 2u);
    provider.directCount = 9;
    EXPECT_EQ(table.count(), 9u);
}

TEST_F(Augment, RowWithoutExtensionEndsWalkButIsCounted) {
    table.without.insert(OID("1"));
    EXPECT_EQ(table.get(OID("1")), nullptr);
    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("1"), static_cast<Data*>(nullptr)));
    EXPECT_EQ(table.count(), 2u);
}

class StaticMux : public ::testing::Test {
  protected:
    StaticMux() {
        table.addProvider(OID("2"), &second);
        table.addProvider(OID("1"), &first);
    }
    Rec firstRecord;
    Rec secondRecord;
    FakeProvider first{&firstRecord};
    FakeProvider second{&secondRecord};
    StaticMuxTable table;
};

TEST_F(StaticMux, ServesBoundRowsInIndexOrderAndStopsAtOneWithoutData) {
    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("1"), static_cast<Data*>(&firstRecord)));
    EXPECT_EQ(table.getNext(OID("1")), std::make_pair(OID("2"), static_cast<Data*>(&secondRecord)));
    EXPECT_EQ(table.getNext(OID("2")), END);
    EXPECT_EQ(table.get(OID("3")), nullptr);
    EXPECT_EQ(table.get(OID("1.0")), nullptr);
    first.rec = nullptr;
    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("1"), static_cast<Data*>(nullptr)));
    EXPECT_EQ(table.get(OID("2")), &secondRecord);
    EXPECT_EQ(table.count(), 2u);
}

TEST_F(StaticMux, SetGoesToBoundProviderOnly) {
    EXPECT_EQ(table.set(OID("2"), &secondRecord), 1);
    EXPECT_EQ(second.lastSet, &secondRecord);
    EXPECT_EQ(table.set(OID("7"), &secondRecord), 0);
    EXPECT_EQ(first.sets + second.sets, 1u);
}

}  // namespace
