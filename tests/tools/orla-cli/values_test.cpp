// Values typed on orla-cli's command line, at the bounds of what each takes.
// Typical values against the running agent are the end-to-end tests'.
#include <gtest/gtest.h>

#include <string>

#include "tools/orla-cli/snmp_values.h"
#include "tools/orla-cli/trap_value.h"

namespace orla::cli {
namespace {

TEST(AddressPrefix, ParsesAddressAndMaskInNetworkOrder) {
    const std::array<const char*, 3> accepted[] = {{"10.0.0.7/32", "10.0.0.7", "255.255.255.255"},
                                                   {"0.0.0.0/0", "0.0.0.0", "0.0.0.0"},
                                                   {"172.16.0.0/12", "172.16.0.0", "255.240.0.0"}};
    for (const auto& [text, expectedAddress, expectedNetmask] : accepted) {
        uint32_t address = 0, netmask = 0;
        ASSERT_TRUE(parseAddressPrefix(text, address, netmask)) << text;
        EXPECT_EQ(expectedAddress, formatIPv4(address));
        EXPECT_EQ(expectedNetmask, formatIPv4(netmask));
    }
    for (const char* text :
         {"10.0.0.1/33", "10.0.0.1/", "10.0.0.1", "10.0.0.1/0x18", "10.0.0.1/+8", "10.0.0.1/-1",
          "10.0.0.1/008", "10.0.0/8", "10.0.0.256/8", "/8", "10.0.0.1/8/8"}) {
        uint32_t address = 0, netmask = 0;
        EXPECT_FALSE(parseAddressPrefix(text, address, netmask)) << text;
    }
}

// Names win over numbers: "1" is SNMPv1 (code 0) for trap versions.
TEST(NamedCode, ParsesNamesThenNumbersAndPrintsBack) {
    const std::tuple<const char*, std::span<const NamedCode>, bool, uint32_t> cases[] = {
        {"1", TRAP_VERSIONS, true, 0},          {"2", TRAP_VERSIONS, true, 2},
        {"2C", TRAP_VERSIONS, false, 0},        {"", TRAP_VERSIONS, false, 0},
        {"1", AUTH_PROTOCOLS, true, 1},         {"des", AUTH_PROTOCOLS, false, 0},
        {"0x46", TRAP_VALUE_TYPES, true, 0x46}, {"float", TRAP_VALUE_TYPES, false, 0}};
    for (const auto& [text, table, accepted, expected] : cases) {
        uint32_t code = 99;
        EXPECT_EQ(parseNamedCode(text, table, code), accepted) << text;
        EXPECT_EQ(code, accepted ? expected : 99u) << text;
    }
    EXPECT_EQ("2c", formatNamedCode(1, TRAP_VERSIONS));
    EXPECT_EQ("9", formatNamedCode(9, PRIV_PROTOCOLS));
    // Stored names cannot disturb the terminal.
    EXPECT_EQ("a\\x0ab\\x1b[2J", printable("a\nb\x1b[2J"));
    EXPECT_EQ("\\x5c\\xff\\x00", printable(std::string("\\\xff\0", 3)));
}

// X.690 8.3 and 8.19: minimal two's complement, unsigned types never read as
// negative, at most 128 arcs of which the first two share one subidentifier.
TEST(TrapValue, EncodesToContentOctetsOrRefusesTextOfAnotherType) {
    std::string arcs128 = "1.3";
    for (int i = 0; i < 126; ++i)
        arcs128 += ".1";
    const std::tuple<uint32_t, std::string, std::string> encoded[] = {
        {0x02, "128", std::string("\x00\x80", 2)},
        {0x02, "-129", "\xff\x7f"},
        {0x02, "-2147483648", std::string("\x80\x00\x00\x00", 4)},
        {0x42, "4294967295", std::string("\x00\xff\xff\xff\xff", 5)},
        {0x06, "2.999", std::string("\x88\x37", 2)},
        {0x06, "1.3.4294967295", std::string("\x2b\x8f\xff\xff\xff\x7f", 6)},
        {0x06, arcs128, "\x2b" + std::string(126, '\x01')},
        {0x44, "raw", "raw"}};
    for (const auto& [type, text, expected] : encoded) {
        std::string content = "stale";
        EXPECT_TRUE(encodeTrapValue(type, text, content)) << text;
        EXPECT_EQ(content, expected) << text;
    }
    const std::pair<uint32_t, std::string> refused[] = {
        {0x02, ""},           {0x02, "-"},           {0x02, "5x"},
        {0x02, "2147483648"}, {0x02, "-2147483649"}, {0x41, "-1"},
        {0x42, "4294967296"}, {0x43, "0x10"},        {0x40, "192.0.2"},
        {0x06, "1"},          {0x06, "1..3"},        {0x06, "1.3."},
        {0x06, "3.1"},        {0x06, "1.40"},        {0x06, arcs128 + ".1"},
        {0x05, "x"}};
    for (const auto& [type, text] : refused) {
        std::string content;
        EXPECT_FALSE(encodeTrapValue(type, text, content)) << type << " " << text;
    }
}

}  // namespace
}  // namespace orla::cli
