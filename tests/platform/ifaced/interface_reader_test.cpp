#include "platform/ifaced/interface_reader.h"

#include <sys/stat.h>

#include <filesystem>
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

// ifType from the ARPHRD number, ifOperStatus and ifAdminStatus (RFC 2863).
TEST(InterfaceReader, AttributesGiveTheMibValueOrTheDefault) {
    struct Case {
        const char* attribute;
        const char* text;
        uint32_t expected;
    };
    const Case cases[] = {
        {"type", "772\n", 24},
        {"type", "776\n", 131},
        {"type", "32\n", 1},
        {"type", "1x\n", 1},
        {"type", "", 1},
        {"type", "-1\n", 1},
        {"operstate", "dormant\n", 5},
        {"operstate", "notpresent\n", 6},
        {"operstate", "lowerlayerdown\n", 7},
        {"operstate", "UP\n", 4},
        {"operstate", "up\nup\n", 4},
        {"flags", "0x1003\n", 1},
        {"flags", "0x1002\n", 2},
        {"flags", "0x9", 1},
        {"flags", "4099\n", 2},
        {"flags", "0x\n", 2},
        {"flags", "0x100000001\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.attribute) + "=" + c.text);
        FakeSysfs sysfs;
        sysfs.addInterface("if0", 1);
        sysfs.write("if0", c.attribute, c.text);
        InterfaceInfo info = readOnly(sysfs);
        const std::string attribute = c.attribute;
        uint32_t actual = attribute == "flags"  ? (info.adminUp ? 1u : 2u)
                          : attribute == "type" ? info.type
                                                : static_cast<uint32_t>(info.operStatus);
        EXPECT_EQ(actual, c.expected);
    }
}

TEST(InterfaceReader, HwAddressIsTheRawOctetsOrEmpty) {
    struct Case {
        const char* address;
        const char* length;
        std::string expected;
    };
    const Case cases[] = {
        {"aa:BB:0c:00:00:ff\n", "6\n", "\xaa\xbb\x0c\x00\x00\xff"s},
        {"0a:00:00:01\n", "4\n", "\x0a\x00\x00\x01"s},
        // Loopback and tunnels: all zeros means no address.
        {"00:00:00:00:00:00\n", "6\n", ""},
        {"\n", "0\n", ""},
        {"02:00:00:00:00:01\n", "4\n", ""},
        {"02:00:00:00:00:01\n", "8\n", ""},
        {"02:00:00:00:00:0g\n", "6\n", ""},
        {"02-00-00-00-00-01\n", "6\n", ""},
        {"02:00:00:00:00:01\n", "99999999999999999999999\n", ""},
        {"02:00:00:00:00:01\n", "garbage\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " len " + c.length);
        FakeSysfs sysfs;
        sysfs.addInterface("if0", 1);
        sysfs.write("if0", "address", c.address);
        sysfs.write("if0", "addr_len", c.length);
        EXPECT_EQ(readOnly(sysfs).hwAddress, c.expected);
    }
}

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
