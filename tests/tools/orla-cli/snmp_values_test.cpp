#include "tools/orla-cli/snmp_values.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>

namespace orla::cli {
namespace {

TEST(AddressPrefix, ParsesAddressAndMaskInNetworkOrder) {
    const std::array<const char*, 3> accepted[] = {{"192.0.2.0/24", "192.0.2.0", "255.255.255.0"},
                                                   {"10.0.0.7/32", "10.0.0.7", "255.255.255.255"},
                                                   {"0.0.0.0/0", "0.0.0.0", "0.0.0.0"},
                                                   {"172.16.0.0/12", "172.16.0.0", "255.240.0.0"},
                                                   {"10.0.0.1/1", "10.0.0.1", "128.0.0.0"}};
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

TEST(PrefixLength, ContiguousMasksGiveTheirLengthOthersMinusOne) {
    EXPECT_EQ(0, prefixLength(htonl(0)));
    EXPECT_EQ(32, prefixLength(htonl(0xffffffff)));
    EXPECT_EQ(-1, prefixLength(htonl(0xff00ff00)));
    EXPECT_EQ(-1, prefixLength(htonl(0x000000ff)));
}

// Names win over numbers: "1" is SNMPv1 (code 0) for trap versions.
TEST(NamedCode, ParsesNamesThenNumbersAndFormatsBack) {
    struct Case {
        const char* text;
        std::span<const NamedCode> table;
        bool accepted;
        uint32_t code;
    };
    const Case cases[] = {{"1", TRAP_VERSIONS, true, 0},       {"2c", TRAP_VERSIONS, true, 1},
                          {"3", TRAP_VERSIONS, true, 3},       {"0", TRAP_VERSIONS, true, 0},
                          {"2", TRAP_VERSIONS, true, 2},       {"2C", TRAP_VERSIONS, false, 0},
                          {"v2", TRAP_VERSIONS, false, 0},     {"", TRAP_VERSIONS, false, 0},
                          {"md5", AUTH_PROTOCOLS, true, 0},    {"1", AUTH_PROTOCOLS, true, 1},
                          {"des", PRIV_PROTOCOLS, true, 0},    {"des", AUTH_PROTOCOLS, false, 0},
                          {"sha256", AUTH_PROTOCOLS, false, 0}};
    for (const Case& c : cases) {
        uint32_t code = 99;
        EXPECT_EQ(parseNamedCode(c.text, c.table, code), c.accepted) << c.text;
        EXPECT_EQ(code, c.accepted ? c.code : 99u) << c.text;
    }
    EXPECT_EQ("2c", formatNamedCode(1, TRAP_VERSIONS));
    EXPECT_EQ("priv", formatNamedCode(2, SECURITY_LEVELS));
    EXPECT_EQ("sha1", formatNamedCode(1, AUTH_PROTOCOLS));
    EXPECT_EQ("aes", formatNamedCode(1, PRIV_PROTOCOLS));
    EXPECT_EQ("9", formatNamedCode(9, PRIV_PROTOCOLS));
}

TEST(Printable, EscapesControlBytesAndBackslash) {
    EXPECT_EQ("rack 4", printable("rack 4"));
    EXPECT_EQ("a\\x0ab\\x1b[2J", printable("a\nb\x1b[2J"));
    EXPECT_EQ("\\x5c\\xff", printable("\\\xff"));
    EXPECT_EQ("\\x00", printable(std::string(1, '\0')));
}

}  // namespace
}  // namespace orla::cli
