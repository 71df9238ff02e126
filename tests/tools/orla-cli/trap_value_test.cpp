// Trap binding values typed on the command line: the content octets each
// type gets, and the texts each type refuses.
#include "tools/orla-cli/trap_value.h"

#include <gtest/gtest.h>

#include <string>

namespace orla::cli {
namespace {

struct ValueCase {
    uint32_t type;
    std::string text;
    std::string content;
};

class TrapValueEncodes : public ::testing::TestWithParam<ValueCase> {};

TEST_P(TrapValueEncodes, ToContentOctets) {
    std::string content = "stale";
    ASSERT_TRUE(encodeTrapValue(GetParam().type, GetParam().text, content));
    EXPECT_EQ(content, GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    TrapValue, TrapValueEncodes,
    ::testing::Values(
        // X.690 8.3: minimal two's complement.
        ValueCase{0x02, "5", "\x05"}, ValueCase{0x02, "0", std::string(1, '\0')},
        ValueCase{0x02, "127", "\x7f"}, ValueCase{0x02, "128", std::string("\x00\x80", 2)},
        ValueCase{0x02, "-1", "\xff"}, ValueCase{0x02, "-128", "\x80"},
        ValueCase{0x02, "-129", "\xff\x7f"}, ValueCase{0x02, "2147483647", "\x7f\xff\xff\xff"},
        ValueCase{0x02, "-2147483648", std::string("\x80\x00\x00\x00", 4)},
        // Unsigned types never read as negative.
        ValueCase{0x41, "255", std::string("\x00\xff", 2)},
        ValueCase{0x42, "4294967295", std::string("\x00\xff\xff\xff\xff", 5)},
        ValueCase{0x43, "100", "\x64"},
        ValueCase{0x40, "192.0.2.1", std::string("\xc0\x00\x02\x01", 4)},
        // X.690 8.19: 1.3 in one octet, 32473 in base 128.
        ValueCase{0x06, "1.3.6.1.4.1.32473", std::string("\x2b\x06\x01\x04\x01\x81\xfd\x59", 8)},
        ValueCase{0x06, "2.999", std::string("\x88\x37", 2)},
        ValueCase{0x06, "1.3.4294967295", std::string("\x2b\x8f\xff\xff\xff\x7f", 6)},
        ValueCase{0x04, "edge 1", "edge 1"}, ValueCase{0x04, "", ""}, ValueCase{0x05, "", ""},
        ValueCase{0x44, "raw", "raw"}));

struct RefusedCase {
    uint32_t type;
    std::string text;
};

class TrapValueRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(TrapValueRefuses, TextOfAnotherType) {
    std::string content;
    EXPECT_FALSE(encodeTrapValue(GetParam().type, GetParam().text, content));
}

INSTANTIATE_TEST_SUITE_P(
    TrapValue, TrapValueRefuses,
    ::testing::Values(RefusedCase{0x02, ""}, RefusedCase{0x02, "-"}, RefusedCase{0x02, "5x"},
                      RefusedCase{0x02, "2147483648"}, RefusedCase{0x02, "-2147483649"},
                      RefusedCase{0x02, "99999999999999999999"}, RefusedCase{0x41, "-1"},
                      RefusedCase{0x42, "4294967296"}, RefusedCase{0x43, "0x10"},
                      RefusedCase{0x40, "192.0.2"}, RefusedCase{0x40, "host"},
                      RefusedCase{0x06, "1"}, RefusedCase{0x06, "1..3"}, RefusedCase{0x06, "1.3."},
                      RefusedCase{0x06, "3.1"}, RefusedCase{0x06, "1.40"},
                      RefusedCase{0x06, "1.3.4294967296"}, RefusedCase{0x05, "x"}));

TEST(TrapValue, OidOfMoreThan128ArcsIsRefused) {
    std::string text = "1.3";
    for (int i = 0; i < 126; ++i)
        text += ".1";
    std::string content;
    EXPECT_TRUE(encodeTrapValue(0x06, text, content));
    EXPECT_FALSE(encodeTrapValue(0x06, text + ".1", content));
}

TEST(TrapValue, TypesByNameOrTag) {
    uint32_t type = 0;
    EXPECT_TRUE(parseNamedCode("timeticks", TRAP_VALUE_TYPES, type));
    EXPECT_EQ(type, 0x43u);
    EXPECT_TRUE(parseNamedCode("0x46", TRAP_VALUE_TYPES, type));
    EXPECT_EQ(type, 0x46u);
    EXPECT_FALSE(parseNamedCode("float", TRAP_VALUE_TYPES, type));
}

}  // namespace
}  // namespace orla::cli
