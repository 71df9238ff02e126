#include "platform/snmp/ber_in.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using Bytes = std::vector<unsigned char>;

InStream streamOf(const Bytes& bytes) {
    return InStream(bytes.data(), bytes.size());
}

// getInt takes INTEGER and the 32-bit application types, get64 Counter64 and
// the non-negative rest, getString OCTET STRING and four-octet IpAddress.
// Failures consume nothing and leave the value alone.
TEST(InStream, ValuesAcceptOnlyWellFormedContentOfTheirTypes) {
    struct Case {
        Bytes bytes;
        char reader;  // 'i' getInt, 'w' get64, 's' getString
        bool ok;
        long long value;
    };
    const Case cases[] = {
        {{0x02, 0x01, 0x00}, 'i', true, 0},
        {{0x02, 0x01, 0xff}, 'i', true, -1},
        {{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, 'i', true, INT_MIN},
        {{0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}, 'i', true, INT_MAX},
        {{0x41, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, 'i', true, -1},
        {{0x43, 0x03, 0x01, 0xe2, 0x40}, 'i', true, 123456},
        {{0x02, 0x00}, 'i', false, 0},                                // empty
        {{0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, 'i', false, 0},  // > int
        {{0x02, 0x02, 0x00, 0x7f}, 'i', false, 0},                    // redundant octet
        {{0x41, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, 'i', false, 0},  // >= 2^32
        {{0x42, 0x01, 0x80}, 'i', false, 0},                          // negative
        {{0x46, 0x01, 0x01}, 'i', false, 0},                          // get64's
        {{0x04, 0x01, 0x01}, 'i', false, 0},                          // wrong type
        {{0x02, 0x04, 0x01}, 'i', false, 0},                          // truncated
        {{0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, 'w', true, -1},
        {{0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 'w', true, 1ll << 40},
        {{0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, 'w', true, 4294967295ll},
        {{0x02, 0x01, 0x07}, 'w', true, 7},
        {{0x02, 0x01, 0xff}, 'w', false, 0},
        {{0x04, 0x01, 0x07}, 'w', false, 0},
        {{0x46, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 'w', false, 0},
        {{0x46, 0x0a, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, 'w', false, 0},
        {{0x40, 0x04, 1, 2, 3, 4}, 's', true, 4},
        {{0x40, 0x05, 1, 2, 3, 4, 5}, 's', false, 0},
        {{0x02, 0x01, 0x05}, 's', false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        InStream in = streamOf(c.bytes);
        long long value = 99;
        if (c.reader == 'i') {
            int number = 99;
            EXPECT_EQ(in.getInt(number), c.ok);
            value = number;
        } else if (c.reader == 'w') {
            unsigned long long number = 99;
            EXPECT_EQ(in.get64(number), c.ok);
            value = static_cast<long long>(number);
        } else {
            std::string text(99, 'k');
            EXPECT_EQ(in.getString(text), c.ok);
            value = static_cast<long long>(text.size());
        }
        EXPECT_EQ(value, c.ok ? c.value : 99);
        EXPECT_EQ(in.position(), c.ok ? c.bytes.size() : 0u);
    }
}

Bytes oidOfArcs(size_t arcs) {
    Bytes bytes = {0x06, static_cast<unsigned char>(arcs - 1), 0x2b};
    bytes.resize(arcs + 1, 0x01);
    return bytes;
}

TEST(InStream, OIDDecodesOrFailsWithoutConsuming) {
    OID longest{1, 3};
    while (longest.size() < 128)
        longest += 1;
    const std::tuple<const char*, Bytes, OID> cases[] = {
        {"zero zero", {0x06, 0x01, 0x00}, OID{0, 0}},
        {"first arc 2 large second", {0x06, 0x02, 0x81, 0x48}, OID{2, 120}},
        {"max arc", {0x06, 0x06, 0x2b, 0x8f, 0xff, 0xff, 0xff, 0x7f}, OID{1, 3, 4294967295u}},
        {"128 arcs", oidOfArcs(128), longest},
        {"129 arcs", oidOfArcs(129), OID{42}},
        {"arc above 2^32-1", {0x06, 0x06, 0x2b, 0x90, 0x80, 0x80, 0x80, 0x00}, OID{42}},
        {"very long arc", {0x06, 0x08, 0x2b, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f}, OID{42}},
        {"unterminated", {0x06, 0x02, 0x2b, 0x86}, OID{42}},
        {"leading 0x80", {0x06, 0x03, 0x2b, 0x80, 0x01}, OID{42}},
        {"empty content", {0x06, 0x00}, OID{42}},
        {"wrong tag", {0x04, 0x01, 0x2b}, OID{42}},
    };
    for (const auto& [what, bytes, expected] : cases) {
        SCOPED_TRACE(what);
        const bool ok = expected != OID{42};
        InStream in = streamOf(bytes);
        OID value{42};
        EXPECT_EQ(in.getOID(value), ok);
        EXPECT_EQ(value, expected);
        EXPECT_EQ(in.position(), ok ? bytes.size() : 0u);
    }
}

}  // namespace
