#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "mib/ip_packer.h"
#include "mib/num_packer.h"
#include "mib/oid_packer.h"
#include "mib/string_packer.h"
#include "tests/mib/mib_fixture.h"

using namespace mibtest;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes packed(const Packer& packer, const Data* rec) {
    Context ctx(nullptr, 0);
    packer.pack(ctx, rec);
    return ctx.out.bytes();
}

// ---- field(): member pointers of a record class used through Data.

struct Base : Data {
    int first = 1;
};
struct Derived : Base {
    int second = 2;
};

TEST(Field, ReachesMembersOfRecordAndOfItsBases) {
    Derived rec;
    const int Data::*first = field(&Derived::first);  // declared in Base
    const int Data::*second = field(&Derived::second);
    Data& asData = rec;
    EXPECT_EQ(asData.*first, 1);
    EXPECT_EQ(asData.*second, 2);
    DataNumPacker packer(field(&Derived::second), ber::INTEGER);
    packer.set(&rec, 7);
    EXPECT_EQ(rec.second, 7);
    EXPECT_EQ(rec.first, 1);
}

// ---- Encodings.

struct PackCase {
    const char* name;
    std::function<Packer*()> make;
    std::function<void(Rec&)> fill;
    Bytes expected;
};

void PrintTo(const PackCase& c, std::ostream* os) {
    *os << c.name;
}

class PackEncoding : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackEncoding, WritesExactOctets) {
    const PackCase& c = GetParam();
    std::unique_ptr<Packer> packer(c.make());
    Rec rec;
    c.fill(rec);
    EXPECT_EQ(packed(*packer, &rec), c.expected);
}

const auto noFill = [](Rec&) {};

INSTANTIATE_TEST_SUITE_P(
    Families, PackEncoding,
    ::testing::Values(
        PackCase{"IntegerNegative",
                 [] { return new DataNumPacker(field(&Rec::num), ber::INTEGER); },
                 [](Rec& r) { r.num = -5; },
                 {0x02, 0x01, 0xfb}},
        PackCase{"Gauge32OfNegativeIntIsUnsigned",
                 [] { return new DataNumPacker(field(&Rec::num), ber::GAUGE32); },
                 [](Rec& r) { r.num = -1; },
                 {0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}},
        PackCase{"ConstGauge32",
                 [] { return new ConstNumPacker(42, ber::GAUGE32); },
                 noFill,
                 {0x42, 0x01, 0x2a}},
        PackCase{"Counter64",
                 [] { return new DataBignumPacker(field(&Rec::big), ber::COUNTER64); },
                 [](Rec& r) { r.big = 1ull << 40; },
                 {0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
        PackCase{"Counter64Max",
                 [] { return new ConstBignumPacker(~0ull, ber::COUNTER64); },
                 noFill,
                 {0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
        PackCase{"IpAddressFourOctetsFirstOctetFirst",
                 [] { return new DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS); },
                 [](Rec& r) { r.ip = 0x0a000001; },
                 {0x40, 0x04, 0x0a, 0x00, 0x00, 0x01}},
        PackCase{"IpAddressZeroStillFourOctets",
                 [] { return new ConstIPPacker(0, ber::IP_ADDRESS); },
                 noFill,
                 {0x40, 0x04, 0x00, 0x00, 0x00, 0x00}},
        PackCase{"ObjectIdentifier",
                 [] { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); },
                 [](Rec& r) { r.oid = OID("1.3.6.1.2.1"); },
                 {0x06, 0x05, 0x2b, 0x06, 0x01, 0x02, 0x01}},
        PackCase{"OctetString",
                 [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                 [](Rec& r) { r.str = "ab"; },
                 {0x04, 0x02, 'a', 'b'}},
        PackCase{"RawBytes",
                 [] { return new DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 0); },
                 [](Rec& r) {
                     r.raw = {0x00, 0xff};
                 },
                 {0x04, 0x02, 0x00, 0xff}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConstPackers, IgnoreNullRecordAndSet) {
    ConstNumPacker num(42, ber::GAUGE32);
    num.set(nullptr, 7);
    EXPECT_EQ(num.get(nullptr), 42);
    ConstStringPacker str("x", ber::OCTET_STRING, 0);
    Rec rec;
    str.set(&rec, "y");
    EXPECT_EQ(str.get(&rec), "x");
    EXPECT_EQ(packed(ConstOIDPacker(OID("1.3"), ber::OBJECT_IDENTIFIER), nullptr),
              (Bytes{0x06, 0x01, 0x2b}));
}

// ---- Decoding Set values.

TEST(Unpack, StoresDecodedValues) {
    Rec rec;
    Context num = contextOver({0x02, 0x01, 0xfb});
    EXPECT_TRUE(DataNumPacker(field(&Rec::num), ber::INTEGER).unpack(&rec, num));
    EXPECT_EQ(rec.num, -5);

    Context big = contextOver(encoded([](OutStream& o) { o.add(1ull << 40, ber::COUNTER64); }));
    EXPECT_TRUE(DataBignumPacker(field(&Rec::big), ber::COUNTER64).unpack(&rec, big));
    EXPECT_EQ(rec.big, 1ull << 40);

    Context ip = contextOver({0x40, 0x04, 192, 168, 0, 1});
    EXPECT_TRUE(DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS).unpack(&rec, ip));
    EXPECT_EQ(rec.ip, 0xc0a80001u);

    Context oid = contextOver({0x06, 0x03, 0x2b, 0x06, 0x01});
    EXPECT_TRUE(DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER).unpack(&rec, oid));
    EXPECT_EQ(rec.oid, OID("1.3.6.1"));

    Context raw = contextOver({0x04, 0x02, 0x00, 0xff});
    testing::internal::CaptureStderr();
    EXPECT_TRUE(DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 0).unpack(&rec, raw));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(rec.raw, (Bytes{0x00, 0xff}));
}

TEST(Unpack, StringReportsDecodedOctets) {
    Rec rec;
    Context ctx = contextOver({0x04, 0x03, 'n', 'e', 'w'});
    testing::internal::CaptureStderr();
    EXPECT_TRUE(DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0).unpack(&rec, ctx));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "unpacked s = new\n");
    EXPECT_EQ(rec.str, "new");
}

// A value of the wrong form leaves the field as it was.
TEST(Unpack, WrongFormLeavesRecordUnchanged) {
    Rec rec;
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
    Context integer = contextOver({0x02, 0x01, 0x01});
    EXPECT_FALSE(DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER).unpack(&rec, integer));
    EXPECT_EQ(rec.oid, OID("1.3"));
    EXPECT_FALSE(DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0).unpack(&rec, integer));
    EXPECT_EQ(rec.str, "old");
    Context truncated = contextOver({0x46, 0x05, 0x01});
    EXPECT_FALSE(DataBignumPacker(field(&Rec::big), ber::COUNTER64).unpack(&rec, truncated));
    EXPECT_EQ(rec.big, 0u);
}

// ---- Index fragments.

struct KeyCase {
    const char* name;
    std::function<Packer*()> make;
    std::function<void(Rec&)> fill;
    OID fragment;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class IndexFragment : public ::testing::TestWithParam<KeyCase> {};

TEST_P(IndexFragment, ComposesExpectedArcs) {
    const KeyCase& c = GetParam();
    std::unique_ptr<Packer> packer(c.make());
    Rec rec;
    c.fill(rec);
    EXPECT_EQ(packer->getAsKey(&rec), c.fragment);
}

// setFromKey(fragment(v) + R) stores v and returns R, for any rest R.
TEST_P(IndexFragment, ParsingIsTheInverseWhateverFollows) {
    const KeyCase& c = GetParam();
    std::unique_ptr<Packer> packer(c.make());
    Rec source;
    c.fill(source);
    for (const OID& rest : {OID(), OID({7, 8}), OID({0}), OID({4294967295u, 256})}) {
        Rec parsed;
        EXPECT_EQ(packer->setFromKey(&parsed, c.fragment + rest), rest) << rest;
        EXPECT_EQ(packed(*packer, &parsed), packed(*packer, &source)) << rest;
    }
}

OID longOid() {
    OID oid;
    for (uint32_t arc = 0; arc < 40; ++arc)
        oid += arc * 1000;
    return oid;
}

INSTANTIATE_TEST_SUITE_P(
    Families, IndexFragment,
    ::testing::Values(
        KeyCase{"NumZero", [] { return new DataNumPacker(field(&Rec::num), ber::INTEGER); },
                [](Rec& r) { r.num = 0; }, OID({0})},
        KeyCase{"NumNegativeIsTwosComplement",
                [] { return new DataNumPacker(field(&Rec::num), ber::INTEGER); },
                [](Rec& r) { r.num = -5; }, OID({4294967291u})},
        KeyCase{"NumMinusOne", [] { return new DataNumPacker(field(&Rec::num), ber::INTEGER); },
                [](Rec& r) { r.num = -1; }, OID({4294967295u})},
        KeyCase{"NumMax", [] { return new DataNumPacker(field(&Rec::num), ber::GAUGE32); },
                [](Rec& r) { r.num = INT_MAX; }, OID({2147483647u})},
        KeyCase{"NumMin", [] { return new DataNumPacker(field(&Rec::num), ber::INTEGER); },
                [](Rec& r) { r.num = INT_MIN; }, OID({2147483648u})},
        KeyCase{"Ip", [] { return new DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS); },
                [](Rec& r) { r.ip = 0xc0a80001; }, OID({192, 168, 0, 1})},
        KeyCase{"IpAllOnes", [] { return new DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS); },
                [](Rec& r) { r.ip = 0xffffffff; }, OID({255, 255, 255, 255})},
        KeyCase{"Oid", [] { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); },
                [](Rec& r) { r.oid = OID("1.3.6.1.2.1"); }, OID({6, 1, 3, 6, 1, 2, 1})},
        KeyCase{"OidEmpty",
                [] { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); },
                [](Rec& r) { r.oid = OID(); }, OID({0})},
        KeyCase{"OidLong",
                [] { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); },
                [](Rec& r) { r.oid = longOid(); }, OID({40}) + longOid()},
        KeyCase{"StringVariable",
                [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                [](Rec& r) { r.str = "abc"; }, OID({3, 97, 98, 99})},
        KeyCase{"StringVariableEmpty",
                [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                [](Rec& r) { r.str.clear(); }, OID({0})},
        KeyCase{"StringVariableHighOctets",
                [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                [](Rec& r) { r.str = std::string("\0\xff", 2); }, OID({2, 0, 255})},
        KeyCase{"StringFixed",
                [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 2); },
                [](Rec& r) { r.str = "ab"; }, OID({97, 98})},
        KeyCase{"ConstString", [] { return new ConstStringPacker("ab", ber::OCTET_STRING, 0); },
                noFill, OID({2, 97, 98})},
        KeyCase{"Raw", [] { return new DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 0); },
                [](Rec& r) {
                    r.raw = {0, 255};
                },
                OID({2, 0, 255})},
        KeyCase{"RawFixed",
                [] { return new DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 3); },
                [](Rec& r) {
                    r.raw = {1, 2, 3};
                },
                OID({1, 2, 3})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IndexFragment, FixedStringOfOtherLengthHasNone) {
    Rec rec;
    rec.str = "ab";
    DataStringPacker packer(field(&Rec::str), ber::OCTET_STRING, 3);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(packer.getAsKey(&rec).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "inconsistent key length\n");
}

// Keys whose front holds no value: nothing stored, empty rest.
struct BadKeyCase {
    const char* name;
    std::function<Packer*()> make;
    OID key;
};

void PrintTo(const BadKeyCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadableKey : public ::testing::TestWithParam<BadKeyCase> {};

TEST_P(UnreadableKey, LeavesRecordAndGivesEmptyRest) {
    const BadKeyCase& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    Families, UnreadableKey,
    ::testing::Values(
        BadKeyCase{"NumEmpty", [] { return new DataNumPacker(field(&Rec::num), ber::INTEGER); },
                   OID()},
        BadKeyCase{"IpThreeArcs", [] { return new DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS); },
                   OID({10, 0, 0})},
        BadKeyCase{"IpArcAbove255",
                   [] { return new DataIPPacker(field(&Rec::ip), ber::IP_ADDRESS); },
                   OID({10, 0, 256, 1, 5})},
        BadKeyCase{"OidLengthPastEnd",
                   [] { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); },
                   OID({5, 1, 3})},
        BadKeyCase{"OidHugeLength",
                   [] { return new DataOIDPacker(field(&Rec::oid), ber::OBJECT_IDENTIFIER); },
                   OID({4294967295u, 1})},
        BadKeyCase{"StringEmpty",
                   [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                   OID()},
        BadKeyCase{"StringLengthPastEnd",
                   [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                   OID({3, 97, 98})},
        BadKeyCase{"StringArcAbove255",
                   [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 0); },
                   OID({2, 97, 300, 1})},
        BadKeyCase{"StringFixedTooShort",
                   [] { return new DataStringPacker(field(&Rec::str), ber::OCTET_STRING, 3); },
                   OID({97, 98})},
        BadKeyCase{"RawArcAbove255",
                   [] { return new DataRawPacker(field(&Rec::raw), ber::OCTET_STRING, 2); },
                   OID({1, 256})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IndexFragment, BignumIsNoIndexAndSaysSo) {
    Rec rec;
    rec.big = 5;
    DataBignumPacker packer(field(&Rec::big), ber::COUNTER64);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(packer.getAsKey(&rec).empty());
    EXPECT_TRUE(packer.setFromKey(&rec, OID({5, 6})).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "BUG: Packer::getAsKey called\nBUG: Packer::setFromKey called\n");
    EXPECT_EQ(rec.big, 5u);
}

}  // namespace
