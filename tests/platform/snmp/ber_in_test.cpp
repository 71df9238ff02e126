#include "platform/snmp/ber_in.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/snmp/ber_content.h"

namespace {

// getInt takes INTEGER and the 32-bit application types, get64 Counter64 and
// the non-negative rest, getString OCTET STRING and four-octet IpAddress, all
// in minimal form (X.690 8.3.2). A refusal (value 99 below) consumes nothing
// and leaves the value alone. Element bounds are the end-to-end tests'
// hostile datagrams'.
TEST(InStream, ValuesAcceptOnlyWellFormedContentOfTheirTypes) {
    const std::tuple<std::vector<unsigned char>, char, long long> cases[] = {
        {{0x02, 0x01, 0xff}, 'i', -1},
        {{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, 'i', INT_MIN},
        {{0x41, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, 'i', -1},
        {{0x43, 0x03, 0x01, 0xe2, 0x40}, 'i', 123456},
        {{0x02, 0x00}, 'i', 99},
        {{0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, 'i', 99},  // > INT_MAX
        {{0x02, 0x02, 0x00, 0x7f}, 'i', 99},                    // redundant octet
        {{0x41, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, 'i', 99},  // >= 2^32
        {{0x42, 0x01, 0x80}, 'i', 99},                          // negative Gauge32
        {{0x46, 0x01, 0x01}, 'i', 99},
        {{0x02, 0x04, 0x01}, 'i', 99},  // truncated
        {{0x46, 0x09, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, 'w', -1},
        {{0x42, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}, 'w', 4294967295ll},
        {{0x02, 0x01, 0x07}, 'w', 7},
        {{0x02, 0x01, 0xff}, 'w', 99},
        {{0x46, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 'w', 99},  // 2^64
        {{0x40, 0x04, 1, 2, 3, 4}, 's', 4},
        {{0x40, 0x05, 1, 2, 3, 4, 5}, 's', 99},
        {{0x02, 0x01, 0x05}, 's', 99},
    };
    for (const auto& [bytes, reader, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        InStream in(bytes.data(), bytes.size());
        int number = 99;
        unsigned long long wide = 99;
        std::string text(99, 'k');
        const bool ok = reader == 'i'   ? in.getInt(number)
                        : reader == 'w' ? in.get64(wide)
                                        : in.getString(text);
        EXPECT_EQ(ok, expected != 99);
        EXPECT_EQ(reader == 'i'   ? number
                  : reader == 'w' ? (long long)wide
                                  : (long long)text.size(),
                  expected);
        EXPECT_EQ(in.position(), ok ? bytes.size() : 0u);
    }
}

// A binding's value as content octets: minimal, the unsigned types never
// negative, the first two arcs sharing one sub-identifier; what the decoder
// reads back under the value's tag.
TEST(BerContent, IntegersAndOidsAreMinimalAndReadBack) {
    auto element = [](uint32_t tag, const std::string& content) {
        std::vector<unsigned char> bytes{static_cast<unsigned char>(tag),
                                         static_cast<unsigned char>(content.size())};
        bytes.insert(bytes.end(), content.begin(), content.end());
        return bytes;
    };
    const std::pair<long long, std::string> signedCases[] = {
        {0, std::string(1, '\0')},
        {127, "\x7f"},
        {128, std::string("\x00\x80", 2)},
        {-1, "\xff"},
        {-128, "\x80"},
        {-129, "\xff\x7f"},
        {INT_MIN, std::string("\x80\x00\x00\x00", 4)},
        {INT_MAX, "\x7f\xff\xff\xff"},
        {LLONG_MIN, "\x80" + std::string(7, '\0')},
    };
    for (const auto& [value, expected] : signedCases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(ber::integerContent(value), expected);
        if (value < INT_MIN || value > INT_MAX) continue;
        const auto bytes = element(ber::INTEGER, expected);
        InStream in(bytes.data(), bytes.size());
        int read = 99;
        EXPECT_TRUE(in.getInt(read));
        EXPECT_EQ(read, value);
    }
    const std::pair<unsigned long long, std::string> unsignedCases[] = {
        {0, std::string(1, '\0')},
        {255, std::string("\x00\xff", 2)},
        {4294967295ull, std::string("\x00\xff\xff\xff\xff", 5)},
        {ULLONG_MAX, std::string(1, '\0') + std::string(8, '\xff')},
    };
    for (const auto& [value, expected] : unsignedCases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(ber::unsignedContent(value), expected);
        const auto bytes = element(ber::COUNTER64, expected);
        InStream in(bytes.data(), bytes.size());
        unsigned long long read = 99;
        EXPECT_TRUE(in.get64(read));
        EXPECT_EQ(read, value);
    }
    const std::pair<OID, std::string> oidCases[] = {
        {OID("1.3.6.1.4.1.4294967295"), "\x2b\x06\x01\x04\x01\x8f\xff\xff\xff\x7f"},
        {OID("2.999"), "\x88\x37"},
        {OID("1.3.0"), std::string("\x2b\x00", 2)},
    };
    for (const auto& [oid, expected] : oidCases) {
        SCOPED_TRACE(oid.toString());
        EXPECT_EQ(ber::oidContent(oid), expected);
        const auto bytes = element(ber::OBJECT_IDENTIFIER, expected);
        InStream in(bytes.data(), bytes.size());
        OID read;
        EXPECT_TRUE(in.getOID(read));
        EXPECT_EQ(read, oid);
    }
    // The first sub-identifier may pass 32 bits: 40 * 2 + 2^32 - 1.
    EXPECT_EQ(ber::oidContent(OID("2.4294967295")), "\x90\x80\x80\x80\x4f");
    // X.690 8.19.4: fewer than two arcs cannot be encoded; 0.0 and x.0 stand in.
    EXPECT_EQ(ber::oidContent(OID()), std::string(1, '\0'));
    EXPECT_EQ(ber::oidContent(OID("1")), "\x28");
}

}  // namespace
