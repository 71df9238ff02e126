#include "platform/snmp/oid.h"

#include <gtest/gtest.h>

namespace {

TEST(OID, ParsesDottedDecimalOrGivesEmpty) {
    const std::pair<const char*, OID> cases[] = {
        {"1.3.6.1", {1, 3, 6, 1}},
        {".1.3.6.1", {1, 3, 6, 1}},
        {"4294967295", {4294967295u}},
        {"1.3.6.1.4.1.4294967295", {1, 3, 6, 1, 4, 1, 4294967295u}},
        {"", {}},
        {".", {}},
        {"1..3", {}},
        {"1.3.", {}},
        {"..1", {}},
        {"1.3.6.x", {}},
        {"1.-3", {}},
        {" 1.3", {}},
        {"1.3.4294967296", {}},
        {"1.99999999999999999999999", {}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(OID(text), expected) << '"' << text << '"';
}

TEST(OID, OrdersByUnsignedArcWithPrefixFirst) {
    const std::vector<OID> sorted = {
        OID{},        OID{0},          OID{1},    OID{1, 3},        OID{1, 3, 0},
        OID{1, 3, 6}, OID{1, 3, 6, 1}, OID{1, 4}, OID{2147483648u}, OID{4294967295u}};
    for (size_t i = 0; i < sorted.size(); ++i) {
        for (size_t j = 0; j < sorted.size(); ++j) {
            EXPECT_EQ(sorted[i] < sorted[j], i < j) << sorted[i] << " vs " << sorted[j];
            EXPECT_EQ(sorted[i] == sorted[j], i == j);
        }
    }
}

TEST(OID, LongOIDsCopyMoveAndCompareLikeShortOnes) {
    OID longer("1.3.6.1.4.1.1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20");
    ASSERT_EQ(longer.size(), 26u);
    OID copy = longer;
    copy += 21;
    EXPECT_EQ(longer.size(), 26u);
    EXPECT_TRUE(longer.isPrefixOf(copy));
    EXPECT_LT(longer, copy);
    OID moved = std::move(copy);
    EXPECT_EQ(moved.size(), 27u);
    EXPECT_EQ(moved.back(), 21u);
    OID shortOne{1, 3};
    shortOne = moved;
    EXPECT_EQ(shortOne, moved);
    moved = OID{7};
    EXPECT_EQ(moved, OID{7});
}

TEST(OIDPop, TooFewArcsRemovesNothing) {
    OID fragment{9};
    OID three{1, 2, 3};
    EXPECT_FALSE(three.popIP(fragment));
    OID lengthTooBig{3, 1, 2};
    EXPECT_FALSE(lengthTooBig.popOID(fragment));
    EXPECT_FALSE(lengthTooBig.popString(fragment));
    EXPECT_FALSE(three.popString(fragment, 4));
    OID empty;
    EXPECT_FALSE(empty.popUnsigned(fragment));
    EXPECT_FALSE(empty.popString(fragment));
    EXPECT_EQ(three, OID("1.2.3"));
    EXPECT_EQ(lengthTooBig, OID("3.1.2"));
    EXPECT_EQ(fragment, OID{9});
}

TEST(OIDAs, RejectsFragmentsOfTheWrongShape) {
    uint32_t number = 77;
    EXPECT_FALSE(OID{}.asUnsigned(number));
    EXPECT_FALSE((OID{1, 2}).asUnsigned(number));
    EXPECT_FALSE((OID{10, 0, 0}).asIP(number));
    EXPECT_FALSE((OID{10, 0, 256, 1}).asIP(number));
    EXPECT_EQ(number, 77u);
    std::string text = "keep";
    EXPECT_FALSE((OID{97, 256}).asString(text));
    EXPECT_EQ(text, "keep");
}

}  // namespace
