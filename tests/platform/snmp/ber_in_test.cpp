#include "platform/snmp/ber_in.h"

#include <gtest/gtest.h>

#include <climits>

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

}  // namespace
