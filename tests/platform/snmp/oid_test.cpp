#include "platform/snmp/oid.h"

#include <gtest/gtest.h>

namespace {

TEST(OID, ParsesDottedDecimalOrGivesEmpty) {
    const std::pair<const char*, OID> cases[] = {
        {"1.3.6.1", {1, 3, 6, 1}},
        {".1.3.6.1", {1, 3, 6, 1}},
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
    EXPECT_LT(OID("1.3"), OID("1.3.0"));
    EXPECT_LT(OID("1.3.2147483647"), OID("1.3.2147483648"));
    EXPECT_LT(OID("1.3.2147483648.5"), OID("1.3.4294967295"));
}

}  // namespace
