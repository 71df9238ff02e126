#include "platform/ifaced/interface_reader.h"

#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/ifaced/fake_sysfs.h"

using namespace std::string_literals;

namespace {

using ifaced::InterfaceInfo;
using ifaced::InterfaceReader;
using ifaced::OperStatus;
using ifacedtest::FakeSysfs;

// Reads the tree's only interface.
InterfaceInfo readOnly(const FakeSysfs& sysfs) {
    std::vector<InterfaceInfo> all = InterfaceReader(sysfs.root()).readAll();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? InterfaceInfo() : all.front();
}

// Names, indexes, MTUs and octet counters against a real sysfs are the
// end-to-end interfaces test's; here the derived and 64-bit values.
TEST(InterfaceReader, DerivesUnicastAndKeepsSixtyFourBitCounters) {
    FakeSysfs sysfs;
    sysfs.addInterface("eth0", 2);
    sysfs.write("eth0", "ifalias", "uplink\n");
    sysfs.write("eth0", "statistics/rx_packets", "100\n");
    sysfs.write("eth0", "statistics/multicast", "30\n");
    sysfs.write("eth0", "statistics/tx_bytes", "18446744073709551615\n");
    InterfaceInfo info = readOnly(sysfs);
    EXPECT_EQ(info.alias, "uplink");
    EXPECT_EQ(info.counters.inUcastPackets, 70u);
    EXPECT_EQ(info.counters.inMulticastPackets, 30u);
    EXPECT_EQ(info.counters.outOctets, UINT64_MAX);
}

struct AttributeCase {
    const char* attribute;
    const char* text;
    uint32_t expected;
};

// Readable test names: the attribute and its text with newlines escaped.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}
void PrintTo(const AttributeCase& c, std::ostream* os) {
    *os << c.attribute << "=" << escaped(c.text);
}

// ifType from the ARPHRD number, ifOperStatus and ifAdminStatus (RFC 2863).
class AttributeMapping : public testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeMapping, GivesTheMibValueOrTheDefault) {
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    sysfs.write("if0", GetParam().attribute, GetParam().text);
    InterfaceInfo info = readOnly(sysfs);
    const std::string attribute = GetParam().attribute;
    uint32_t actual = attribute == "flags"  ? (info.adminUp ? 1u : 2u)
                      : attribute == "type" ? info.type
                                            : static_cast<uint32_t>(info.operStatus);
    EXPECT_EQ(actual, GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    TypeOperAndAdmin, AttributeMapping,
    testing::Values(AttributeCase{"type", "772\n", 24}, AttributeCase{"type", "776\n", 131},
                    AttributeCase{"type", "32\n", 1}, AttributeCase{"type", "1x\n", 1},
                    AttributeCase{"type", "", 1}, AttributeCase{"type", "-1\n", 1},
                    AttributeCase{"operstate", "dormant\n", 5},
                    AttributeCase{"operstate", "notpresent\n", 6},
                    AttributeCase{"operstate", "lowerlayerdown\n", 7},
                    AttributeCase{"operstate", "UP\n", 4},
                    AttributeCase{"operstate", "up\nup\n", 4},
                    AttributeCase{"flags", "0x1003\n", 1}, AttributeCase{"flags", "0x1002\n", 2},
                    AttributeCase{"flags", "0x9", 1}, AttributeCase{"flags", "4099\n", 2},
                    AttributeCase{"flags", "0x\n", 2}, AttributeCase{"flags", "0x100000001\n", 2}));

struct AddressCase {
    const char* address;
    const char* length;
    std::string expected;
};

void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << escaped(c.address) << " len " << escaped(c.length);
}

class HwAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(HwAddress, IsTheRawOctetsOrEmpty) {
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    sysfs.write("if0", "address", GetParam().address);
    sysfs.write("if0", "addr_len", GetParam().length);
    EXPECT_EQ(readOnly(sysfs).hwAddress, GetParam().expected) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(
    AddressAndLength, HwAddress,
    testing::Values(AddressCase{"aa:BB:0c:00:00:ff\n", "6\n", "\xaa\xbb\x0c\x00\x00\xff"s},
                    AddressCase{"0a:00:00:01\n", "4\n", "\x0a\x00\x00\x01"s},
                    // Loopback and tunnels: all zeros means no address.
                    AddressCase{"00:00:00:00:00:00\n", "6\n", ""}, AddressCase{"\n", "0\n", ""},
                    AddressCase{"02:00:00:00:00:01\n", "4\n", ""},
                    AddressCase{"02:00:00:00:00:01\n", "8\n", ""},
                    AddressCase{"02:00:00:00:00:0g\n", "6\n", ""},
                    AddressCase{"02-00-00-00-00-01\n", "6\n", ""},
                    AddressCase{"02:00:00:00:00:01\n", "99999999999999999999999\n", ""},
                    AddressCase{"02:00:00:00:00:01\n", "garbage\n", ""}));

TEST(InterfaceReader, HostileFilesGiveDefaults) {
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    sysfs.write("if0", "mtu", "15x00\n");
    sysfs.write("if0", "speed", "-1\n");
    sysfs.write("if0", "ifalias", std::string(1 << 20, 'a'));
    sysfs.write("if0", "statistics/rx_bytes", "18446744073709551616\n");  // 2^64
    sysfs.write("if0", "statistics/rx_packets", "3\n");
    sysfs.write("if0", "statistics/multicast", "10\n");
    sysfs.write("if0", "statistics/tx_bytes", " 12\n");
    sysfs.remove("if0", "statistics/tx_packets");
    sysfs.remove("if0", "operstate");
    // Neither a FIFO nor a directory is read; the FIFO must not block.
    ASSERT_EQ(::mkfifo(sysfs.path("if0", "operstate").c_str(), 0600), 0);
    sysfs.remove("if0", "flags");
    std::filesystem::create_directory(sysfs.path("if0", "flags"));

    InterfaceInfo info = readOnly(sysfs);
    EXPECT_EQ(info.mtu, 0u);
    EXPECT_EQ(info.speedMbps, 0u);
    EXPECT_EQ(info.alias, "");
    EXPECT_EQ(info.counters.inOctets, 0u);
    EXPECT_EQ(info.counters.inUcastPackets, 0u);
    EXPECT_EQ(info.counters.outOctets, 0u);
    EXPECT_EQ(info.counters.outUcastPackets, 0u);
    EXPECT_EQ(info.operStatus, OperStatus::Unknown);
    EXPECT_FALSE(info.adminUp);
}

TEST(InterfaceReader, AliasLongerThan64OctetsIsCut) {
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    sysfs.write("if0", "ifalias", std::string(256, 'x') + "\n");
    EXPECT_EQ(readOnly(sysfs).alias, std::string(64, 'x'));
}

TEST(InterfaceReader, SkipsEntriesThatAreNotInterfaces) {
    FakeSysfs sysfs;
    sysfs.addInterface("eth0", 2);
    sysfs.addInterface("noindex", 3);
    sysfs.remove("noindex", "ifindex");
    sysfs.addInterface("zeroindex", 4);
    sysfs.write("zeroindex", "ifindex", "0\n");
    sysfs.addInterface("hugeindex", 5);
    sysfs.write("hugeindex", "ifindex", "4294967296\n");
    sysfs.addInterface("dup", 2);  // sorts before eth0, so it is kept
    sysfs.addInterface("name:colon", 6);
    sysfs.addInterface("sixteen-octets-x", 7);
    sysfs.addInterface("fifteen-octet-x", 8);
    std::ofstream(sysfs.root() + "/class/net/bonding_masters") << "\n";

    std::vector<InterfaceInfo> all = InterfaceReader(sysfs.root()).readAll();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].name, "dup");
    EXPECT_EQ(all[1].name, "fifteen-octet-x");
    // The count takes directories with valid names, without reading them.
    EXPECT_EQ(InterfaceReader(sysfs.root()).count(), 6u);
}

TEST(InterfaceReader, MissingTreeReadsAsNoInterfaces) {
    InterfaceReader reader("/nonexistent/ifaced-test");
    EXPECT_TRUE(reader.readAll().empty());
    EXPECT_EQ(reader.count(), 0u);
    EXPECT_EQ(reader.nameOf(1), "");
}

}  // namespace
