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

const ValueCase ENCODED[] = {
    // X.690 8.3: minimal two's complement.
    {0x02, "0", std::string(1, '\0')},
    {0x02, "127", "\x7f"},
    {0x02, "128", std::string("\x00\x80", 2)},
    {0x02, "-1", "\xff"},
    {0x02, "-128", "\x80"},
    {0x02, "-129", "\xff\x7f"},
    {0x02, "2147483647", "\x7f\xff\xff\xff"},
    {0x02, "-2147483648", std::string("\x80\x00\x00\x00", 4)},
    // Unsigned types never read as negative.
    {0x41, "255", std::string("\x00\xff", 2)},
    {0x42, "4294967295", std::string("\x00\xff\xff\xff\xff", 5)},
    {0x43, "100", "\x64"},
    {0x40, "192.0.2.1", std::string("\xc0\x00\x02\x01", 4)},
    // X.690 8.19: 1.3 in one octet, 32473 in base 128.
    {0x06, "1.3.6.1.4.1.32473", std::string("\x2b\x06\x01\x04\x01\x81\xfd\x59", 8)},
    {0x06, "2.999", std::string("\x88\x37", 2)},
    {0x06, "1.3.4294967295", std::string("\x2b\x8f\xff\xff\xff\x7f", 6)},
    {0x04, "", ""},
    {0x05, "", ""},
    {0x44, "raw", "raw"}};

TEST(TrapValue, EncodesToContentOctetsOrRefusesTextOfAnotherType) {
    for (const ValueCase& c : ENCODED) {
        std::string content = "stale";
        EXPECT_TRUE(encodeTrapValue(c.type, c.text, content)) << c.text;
        EXPECT_EQ(content, c.content) << c.text;
    }
    const std::pair<uint32_t, const char*> refused[] = {{0x02, ""},
                                                        {0x02, "-"},
                                                        {0x02, "5x"},
                                                        {0x02, "2147483648"},
                                                        {0x02, "-2147483649"},
                                                        {0x02, "99999999999999999999"},
                                                        {0x41, "-1"},
                                                        {0x42, "4294967296"},
                                                        {0x43, "0x10"},
                                                        {0x40, "192.0.2"},
                                                        {0x40, "host"},
                                                        {0x06, "1"},
                                                        {0x06, "1..3"},
                                                        {0x06, "1.3."},
                                                        {0x06, "3.1"},
                                                        {0x06, "1.40"},
                                                        {0x06, "1.3.4294967296"},
                                                        {0x05, "x"}};
    for (const auto& [type, text] : refused) {
        std::string content;
        EXPECT_FALSE(encodeTrapValue(type, text, content)) << type << " " << text;
    }
}

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
