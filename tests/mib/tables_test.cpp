// Packers and tables past what the end-to-end walks of the system group, the
// IF-MIB and the example table see: each packer family's own forms, index
// fragments that do not parse, indexes of several fields and their order,
// and the static multiplexing table that no shipped plug-in uses.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "mib/augment_proxy_table.h"
#include "mib/ip_packer.h"
#include "mib/map_table.h"
#include "mib/num_packer.h"
#include "mib/oid_packer.h"
#include "mib/static_mux_table.h"
#include "mib/string_packer.h"
#include "tests/fixture.h"

using namespace fixture;

namespace {

using Bytes = std::vector<unsigned char>;
using Fill = std::function<void(Rec&)>;

Bytes packed(const Packer& packer, const Data* rec) {
    Context ctx(nullptr, 0);
    packer.pack(ctx, rec);
    return ctx.out.bytes();
}

// The packers under test, one of each family and key form.
struct Make {
    static Packer* integer() { return new DataNumPacker(field(&Rec::num), ber::INTEGER); }
    static Packer* ip() { return new DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS); }
    static Packer* oid() { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); }
    static Packer* string() { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); }
    static Packer* string2() {
        return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 2);
    }
    static Packer* string3() {
        return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 3);
    }
    static Packer* raw3() { return new DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 3); }
};

// An address is read in network order; a value of the wrong form leaves the
// field as it was.
TEST(Unpack, TakesOnlyItsOwnForm) {
    Rec rec;
    Context address = contextOver({0x40, 0x04, 192, 168, 0, 1});
    EXPECT_TRUE(DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS).unpack(&rec, address));
    EXPECT_EQ(rec.ip, 0xc0a80001u);
    rec.num = 9;
    rec.ip = 0x01020304;
    rec.oid = OID("1.3");
    rec.str = "old";
    Context str = contextOver({0x04, 0x01, 'x'});
    EXPECT_FALSE(DataNumPacker(field(&Rec::num), ber::INTEGER).unpack(&rec, str));
    EXPECT_EQ(rec.num, 9);
    Context fiveOctets = contextOver({0x04, 0x05, 1, 2, 3, 4, 5});
    EXPECT_FALSE(DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS).unpack(&rec, fiveOctets));
    EXPECT_EQ(rec.ip, 0x01020304u);
    Context number = contextOver({0x02, 0x01, 0x01});
    EXPECT_FALSE(DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER).unpack(&rec, number));
    EXPECT_EQ(rec.oid, OID("1.3"));
    EXPECT_FALSE(DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0).unpack(&rec, number));
    EXPECT_EQ(rec.str, "old");
    Context truncated = contextOver({0x46, 0x05, 0x01});
    EXPECT_FALSE(DataBignumPacker(field(&Rec::big), ber::COUNTER64).unpack(&rec, truncated));
    EXPECT_EQ(rec.big, 0u);
}

OID longOid() {
    OID name;
    for (uint32_t arc = 0; arc < 40; ++arc)
        name += arc * 1000;
    return name;
}

// getAsKey gives the index fragment; setFromKey(fragment + R) stores the
// value back and returns R, for any rest R.
TEST(IndexFragment, ComposesArcsAndParsesThemBackWhateverFollows) {
    struct Case {
        const char* name;
        Packer* (*make)();
        Fill fill;
        OID fragment;
    };
    const Case cases[] = {
        {"negative int is two's complement", Make::integer, [](Rec& r) { r.num = -5; },
         OID({4294967291u})},
        {"INT_MIN", Make::integer, [](Rec& r) { r.num = INT_MIN; }, OID({2147483648u})},
        {"IpAddress", Make::ip, [](Rec& r) { r.ip = 0xc0a80001; }, OID({192, 168, 0, 1})},
        {"empty OID", Make::oid, [](Rec& r) { r.oid = OID(); }, OID({0})},
        {"long OID", Make::oid, [](Rec& r) { r.oid = longOid(); }, OID({40}) + longOid()},
        {"empty string", Make::string, [](Rec& r) { r.str.clear(); }, OID({0})},
        {"string high octets", Make::string, [](Rec& r) { r.str = std::string("\0\xff", 2); },
         OID({2, 0, 255})},
        {"fixed-length string", Make::string2, [](Rec& r) { r.str = "ab"; }, OID({97, 98})},
        {"fixed-length raw", Make::raw3, [](Rec& r) { r.raw.assign(3, 7); }, OID({7, 7, 7})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Packer> packer(c.make());
        Rec source;
        c.fill(source);
        EXPECT_EQ(packer->getAsKey(&source), c.fragment);
        for (const OID& rest : {OID(), OID({7, 8}), OID({0}), OID({4294967295u, 256})}) {
            Rec parsed;
            EXPECT_EQ(packer->setFromKey(&parsed, c.fragment + rest), rest) << rest;
            EXPECT_EQ(packed(*packer, &parsed), packed(*packer, &source)) << rest;
        }
    }
    EXPECT_EQ(packed(ConstStringPacker("ab", ber::OCTET_STRING, 0), nullptr),
              (Bytes{0x04, 0x02, 'a', 'b'}));
}

// The SDK's string packers read their value in place, but a plug-in's
// packer derived from one of them (or from StringPacker) that supplies its
// own get still gives the value, to a Get and to a table index alike.
TEST(StringPacker, DerivedPackerWithItsOwnGetGivesTheValue) {
    struct Const : ConstStringPacker {
        Const() : ConstStringPacker("field", ber::OCTET_STRING, 0) {}
        std::string get(Data const*) const override { return "own"; }
    };
    struct Text : DataStringPacker {
        Text() : DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0) {}
        std::string get(Data const*) const override { return "own"; }
    };
    struct Raw : DataRawPacker {
        Raw() : DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 0) {}
        std::string get(Data const*) const override { return "own"; }
    };
    struct Own : StringPacker {
        Own() : StringPacker(ber::OCTET_STRING, 0) {}
        std::string get(Data const*) const override { return "own"; }
        void set(Data*, std::string const&) const override {}
    };
    Rec rec;
    rec.str = "field";
    rec.raw.assign(5, 'f');
    const Const constant;
    const Text text;
    const Raw raw;
    const Own own;
    for (const StringPacker* packer :
         std::initializer_list<const StringPacker*>{&constant, &text, &raw, &own}) {
        SCOPED_TRACE(typeid(*packer).name());
        EXPECT_EQ(packed(*packer, &rec), (Bytes{0x04, 0x03, 'o', 'w', 'n'}));
        EXPECT_EQ(packer->getAsKey(&rec), OID({3, 'o', 'w', 'n'}));
    }
}

// Keys whose front holds no value: nothing stored, empty rest.
TEST(IndexFragment, UnreadableKeyLeavesRecordAndGivesEmptyRest) {
    struct Case {
        const char* name;
        Packer* (*make)();
        OID key;
    };
    const Case cases[] = {
        {"no arc for a number", Make::integer, OID()},
        {"three arcs for an address", Make::ip, OID({10, 0, 0})},
        {"address arc above 255", Make::ip, OID({10, 0, 256, 1, 5})},
        {"OID length past the end", Make::oid, OID({5, 1, 3})},
        {"huge OID length", Make::oid, OID({4294967295u, 1})},
        {"no arc for a string", Make::string, OID()},
        {"string length past the end", Make::string, OID({3, 97, 98})},
        {"string arc above 255", Make::string, OID({2, 97, 300, 1})},
        {"fixed-length string too short", Make::string3, OID({97, 98})},
        {"raw arc above 255", Make::raw3, OID({1, 256, 2})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Packer> packer(c.make());
        Rec rec;
        rec.num = 9;
        rec.ip = 0x01020304;
        rec.oid = OID("9.9");
        rec.str = "keep";
        rec.raw = {9};
        const Bytes before = packed(*packer, &rec);
        EXPECT_TRUE(packer->setFromKey(&rec, c.key).empty());
        EXPECT_EQ(packed(*packer, &rec), before);
    }
}

}  // namespace

namespace {

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

TEST(StaticMuxTable, ServesBoundRowsInOrderSkipsOneWithoutDataAndSetsOnlyBoundOnes) {
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
    EXPECT_EQ(table.getNext(OID()), std::make_pair(OID("2"), static_cast<Data*>(&secondRecord)));
    EXPECT_EQ(table.get(OID("2")), &secondRecord);
    EXPECT_EQ(table.count(), 2u);

    EXPECT_TRUE(table.commit(OID("2"), &secondRecord));
    EXPECT_EQ(second.lastSet, &secondRecord);
    EXPECT_FALSE(table.commit(OID("7"), &secondRecord));
    EXPECT_EQ(first.sets + second.sets, 1u);
}

// A walk goes on past rows the proxy gives no record, and a fixed-length
// string of another length makes no row rather than one under a shorter
// index.
TEST(Tables, RowsWithoutRecordOrIndexAreLeftOut) {
    Rec records[3];
    FakeProvider providers[3] = {FakeProvider{&records[0]}, FakeProvider{&records[1]},
                                 FakeProvider{&records[2]}};
    StaticMuxTable base;
    for (uint32_t row = 0; row < 3; ++row)
        base.addProvider(OID({row + 1}), &providers[row]);
    struct WithoutSecond : AugmentProxyTable {
        using AugmentProxyTable::AugmentProxyTable;
        Data* augment(OID const& index, Data* rec) override {
            return index == OID("2") ? nullptr : rec;
        }
    } proxy(&base);
    EXPECT_EQ(proxy.getNext(OID("1")).first, OID("3"));
    EXPECT_EQ(proxy.get(OID("2")), nullptr);
    EXPECT_EQ(proxy.getNext(OID("3")).second, nullptr);

    FakeTableProvider feed;
    MapTable table(&feed);
    DataStringPacker code(field(&Rec::str), ber::OCTET_STRING, 3);
    table.addIndex(&code);
    records[0].str = "abc";
    records[1].str = "ab";
    testing::internal::CaptureStderr();
    table.change(&records[0]);
    table.change(&records[1]);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "inconsistent key length\n");
    EXPECT_EQ(table.getNext(OID()).first, OID("97.98.99"));
    EXPECT_EQ(table.getNext(OID("97.98.99")).second, nullptr);
}

// What a Set value must be for each packer family, in the order RFC 3416
// 4.2.5 checks it: the tag, then the encoding, then length and range.
TEST(TestValue, RefusesWhatTheFieldCannotTake) {
    using snmp::ErrorStatus;
    DataNumPacker level(field(&Rec::num), ber::INTEGER);
    level.setRange(1, 3);
    DataNumPacker gauge(field(&Rec::num), ber::GAUGE32);
    DataStringPacker text(field(&Rec::str), ber::OCTET_STRING, 0);
    text.setMaxLength(4);
    DataIPPacker ip(field(&Rec::ip), ber::IP_ADDRESS);
    DataOIDPacker oid(field(&Rec::oid), ber::OBJECT_IDENTIFIER);
    DataBignumPacker counter(field(&Rec::big), ber::COUNTER64);
    const struct {
        const Packer& packer;
        Bytes value;
        ErrorStatus status;
    } cases[] = {
        {level, {0x02, 0x01, 0x03}, ErrorStatus::NO_ERROR},
        {level, {0x02, 0x01, 0x04}, ErrorStatus::WRONG_VALUE},
        {level, {0x02, 0x01, 0xff}, ErrorStatus::WRONG_VALUE},
        {level, {0x02, 0x05, 0x01, 0, 0, 0, 1}, ErrorStatus::WRONG_VALUE},
        {level, {0x02, 0x02, 0x00, 0x01}, ErrorStatus::WRONG_ENCODING},
        {level, {0x41, 0x01, 0x01}, ErrorStatus::WRONG_TYPE},
        {level, {0x04, 0x01, 'x'}, ErrorStatus::WRONG_TYPE},
        {gauge, {0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, ErrorStatus::NO_ERROR},
        {gauge, {0x02, 0x01, 0x01}, ErrorStatus::WRONG_TYPE},
        {text, {0x04, 0x04, 'a', 'b', 'c', 'd'}, ErrorStatus::NO_ERROR},
        {text, {0x04, 0x05, 'a', 'b', 'c', 'd', 'e'}, ErrorStatus::WRONG_LENGTH},
        {text, {0x40, 0x04, 1, 2, 3, 4}, ErrorStatus::WRONG_TYPE},
        {ip, {0x40, 0x04, 10, 0, 0, 1}, ErrorStatus::NO_ERROR},
        {ip, {0x40, 0x03, 10, 0, 0}, ErrorStatus::WRONG_LENGTH},
        {ip, {0x04, 0x04, 10, 0, 0, 1}, ErrorStatus::WRONG_TYPE},
        {oid, {0x06, 0x02, 0x2b, 0x06}, ErrorStatus::NO_ERROR},
        {oid, {0x06, 0x01, 0x80}, ErrorStatus::WRONG_ENCODING},
        {counter, {0x46, 0x01, 0x01}, ErrorStatus::NO_ERROR},
        {counter, {0x46, 0x0a, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ErrorStatus::WRONG_VALUE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        Context ctx = contextOver(c.value);
        EXPECT_EQ(c.packer.testValue(ctx), c.status);
    }
    EXPECT_FALSE(ConstNumPacker(1, ber::INTEGER).writable());
    EXPECT_TRUE(level.writable());
}

}  // namespace
