#include "tools/orla-cli/snmp_values.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace orla::cli {
namespace {

struct PrefixCase {
    const char* text;
    bool accepted;
    const char* address;
    const char* netmask;
};

void PrintTo(const PrefixCase& c, std::ostream* os) {
    *os << c.text;
}

class AddressPrefix : public testing::TestWithParam<PrefixCase> {};

TEST_P(AddressPrefix, ParsesAddressAndMaskInNetworkOrder) {
    const PrefixCase& c = GetParam();
    uint32_t address = 0xdeadbeef, netmask = 0xdeadbeef;
    ASSERT_EQ(c.accepted, parseAddressPrefix(c.text, address, netmask)) << c.text;
    if (!c.accepted) return;
    EXPECT_EQ(c.address, formatIPv4(address));
    EXPECT_EQ(c.netmask, formatIPv4(netmask));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressPrefix,
    testing::Values(
        PrefixCase{"192.0.2.0/24", true, "192.0.2.0", "255.255.255.0"},
        PrefixCase{"10.0.0.7/32", true, "10.0.0.7", "255.255.255.255"},
        PrefixCase{"0.0.0.0/0", true, "0.0.0.0", "0.0.0.0"},
        PrefixCase{"172.16.0.0/12", true, "172.16.0.0", "255.240.0.0"},
        PrefixCase{"10.0.0.1/1", true, "10.0.0.1", "128.0.0.0"},
        PrefixCase{"10.0.0.1/33", false, "", ""}, PrefixCase{"10.0.0.1/", false, "", ""},
        PrefixCase{"10.0.0.1", false, "", ""}, PrefixCase{"10.0.0.1/0x18", false, "", ""},
        PrefixCase{"10.0.0.1/+8", false, "", ""}, PrefixCase{"10.0.0.1/-1", false, "", ""},
        PrefixCase{"10.0.0.1/008", false, "", ""}, PrefixCase{"10.0.0/8", false, "", ""},
        PrefixCase{"10.0.0.256/8", false, "", ""}, PrefixCase{"/8", false, "", ""},
        PrefixCase{"10.0.0.1/8/8", false, "", ""}));

TEST(PrefixLength, ContiguousMasksGiveTheirLengthOthersMinusOne) {
    EXPECT_EQ(0, prefixLength(htonl(0)));
    EXPECT_EQ(24, prefixLength(htonl(0xffffff00)));
    EXPECT_EQ(32, prefixLength(htonl(0xffffffff)));
    EXPECT_EQ(1, prefixLength(htonl(0x80000000)));
    EXPECT_EQ(-1, prefixLength(htonl(0xff00ff00)));
    EXPECT_EQ(-1, prefixLength(htonl(0x000000ff)));
}

TEST(IPv4, KeepsNetworkByteOrder) {
    uint32_t value = 0;
    ASSERT_TRUE(parseIPv4("192.0.2.9", value));
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&value);
    EXPECT_EQ(192, bytes[0]);
    EXPECT_EQ(9, bytes[3]);
    EXPECT_EQ("192.0.2.9", formatIPv4(value));
    EXPECT_FALSE(parseIPv4("192.0.2", value));
    EXPECT_FALSE(parseIPv4("", value));
    EXPECT_FALSE(parseIPv4("any", value));
}

TEST(NamedCode, TrapVersionNamesWinOverNumbers) {
    uint32_t code = 99;
    ASSERT_TRUE(parseNamedCode("1", TRAP_VERSIONS, code));
    EXPECT_EQ(0u, code);
    ASSERT_TRUE(parseNamedCode("2c", TRAP_VERSIONS, code));
    EXPECT_EQ(1u, code);
    ASSERT_TRUE(parseNamedCode("3", TRAP_VERSIONS, code));
    EXPECT_EQ(3u, code);
    ASSERT_TRUE(parseNamedCode("0", TRAP_VERSIONS, code));
    EXPECT_EQ(0u, code);
    ASSERT_TRUE(parseNamedCode("2", TRAP_VERSIONS, code));
    EXPECT_EQ(2u, code);
    EXPECT_FALSE(parseNamedCode("2C", TRAP_VERSIONS, code));
    EXPECT_FALSE(parseNamedCode("v2", TRAP_VERSIONS, code));
    EXPECT_FALSE(parseNamedCode("", TRAP_VERSIONS, code));
}

TEST(NamedCode, FormatsNamesAndFallsBackToNumbers) {
    EXPECT_EQ("1", formatNamedCode(0, TRAP_VERSIONS));
    EXPECT_EQ("2c", formatNamedCode(1, TRAP_VERSIONS));
    EXPECT_EQ("priv", formatNamedCode(2, SECURITY_LEVELS));
    EXPECT_EQ("7", formatNamedCode(7, SECURITY_LEVELS));
    EXPECT_EQ("sha1", formatNamedCode(1, AUTH_PROTOCOLS));
    EXPECT_EQ("aes", formatNamedCode(1, PRIV_PROTOCOLS));
    EXPECT_EQ("9", formatNamedCode(9, PRIV_PROTOCOLS));
    uint32_t code = 7;
    ASSERT_TRUE(parseNamedCode("md5", AUTH_PROTOCOLS, code));
    EXPECT_EQ(0u, code);
    ASSERT_TRUE(parseNamedCode("des", PRIV_PROTOCOLS, code));
    EXPECT_EQ(0u, code);
    ASSERT_TRUE(parseNamedCode("1", AUTH_PROTOCOLS, code));
    EXPECT_EQ(1u, code);
    EXPECT_FALSE(parseNamedCode("sha256", AUTH_PROTOCOLS, code));
    EXPECT_FALSE(parseNamedCode("des", AUTH_PROTOCOLS, code));
}

TEST(Printable, EscapesControlBytesAndBackslash) {
    EXPECT_EQ("rack 4", printable("rack 4"));
    EXPECT_EQ("a\\x0ab\\x1b[2J", printable("a\nb\x1b[2J"));
    EXPECT_EQ("\\x5c\\xff", printable("\\\xff"));
    EXPECT_EQ("\\x00", printable(std::string(1, '\0')));
}

}  // namespace
}  // namespace orla::cli
