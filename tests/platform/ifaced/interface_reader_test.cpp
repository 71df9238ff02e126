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
using ifacedtest::FakeSysfs;

// Reads the tree's only interface, if0, after writing `attribute`.
InterfaceInfo readWith(const std::string& attribute, const std::string& text,
                       const std::string& other = "", const std::string& otherText = "") {
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    sysfs.write("if0", attribute, text);
    if (!other.empty()) sysfs.write("if0", other, otherText);
    std::vector<InterfaceInfo> all = InterfaceReader(sysfs.root()).readAll();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? InterfaceInfo() : all.front();
}

// Names, indexes, MTUs and octet counters against a real sysfs are the
// end-to-end interfaces test's; here ifType from the ARPHRD number,
// ifOperStatus and ifAdminStatus (RFC 2863), and the values of odd files.
TEST(InterfaceReader, AttributesGiveTheMibValueOrTheDefault) {
    const std::tuple<const char*, const char*, uint32_t> cases[] = {
        {"type", "772\n", 24},
        {"type", "776\n", 131},
        {"type", "32\n", 1},
        {"type", "1x\n", 1},
        {"type", "", 1},
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
        {"mtu", "15x00\n", 0},
        {"speed", "-1\n", 0},
    };
    for (const auto& [attribute, text, expected] : cases) {
        SCOPED_TRACE(std::string(attribute) + "=" + text);
        InterfaceInfo info = readWith(attribute, text);
        const std::string name = attribute;
        EXPECT_EQ(name == "flags"       ? (info.adminUp ? 1u : 2u)
                  : name == "type"      ? info.type
                  : name == "operstate" ? static_cast<uint32_t>(info.operStatus)
                  : name == "mtu"       ? info.mtu
                                        : info.speedMbps,
                  expected);
    }
}

TEST(InterfaceReader, HwAddressIsTheRawOctetsOrEmpty) {
    const std::tuple<const char*, const char*, std::string> cases[] = {
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
    for (const auto& [address, length, expected] : cases)
        EXPECT_EQ(readWith("address", address, "addr_len", length).hwAddress, expected)
            << address << " len " << length;
}

TEST(InterfaceReader, CountersAndAliasOfHostileFiles) {
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    sysfs.write("if0", "ifalias", std::string(1 << 20, 'a'));
    sysfs.write("if0", "statistics/rx_bytes", "18446744073709551616\n");  // 2^64
    sysfs.write("if0", "statistics/rx_packets", "3\n");
    sysfs.write("if0", "statistics/multicast", "10\n");
    sysfs.write("if0", "statistics/tx_bytes", " 12\n");
    sysfs.remove("if0", "statistics/tx_packets");
    // Neither a FIFO nor a directory is read; the FIFO must not block.
    sysfs.remove("if0", "operstate");
    ASSERT_EQ(::mkfifo(sysfs.path("if0", "operstate").c_str(), 0600), 0);
    sysfs.remove("if0", "flags");
    std::filesystem::create_directory(sysfs.path("if0", "flags"));
    InterfaceInfo info = InterfaceReader(sysfs.root()).readAll().at(0);
    EXPECT_EQ(info.alias, "");
    EXPECT_EQ(std::tuple(info.counters.inOctets, info.counters.inUcastPackets,
                         info.counters.outOctets, info.counters.outUcastPackets),
              std::tuple(0u, 0u, 0u, 0u));
    EXPECT_EQ(info.operStatus, ifaced::OperStatus::Unknown);
    EXPECT_FALSE(info.adminUp);

    EXPECT_EQ(readWith("ifalias", std::string(256, 'x') + "\n").alias, std::string(64, 'x'));
    info = readWith("statistics/rx_packets", "100\n", "statistics/multicast", "30\n");
    EXPECT_EQ(info.counters.inUcastPackets, 70u);
    EXPECT_EQ(info.counters.inMulticastPackets, 30u);
    EXPECT_EQ(readWith("statistics/tx_bytes", "18446744073709551615\n").counters.outOctets,
              UINT64_MAX);
}

// ifPromiscuousMode and ifConnectorPresent: IFF_PROMISC, and a device link
// (hardware) behind the interface.
TEST(InterfaceReader, PromiscuousFromFlagsConnectorFromADevice) {
    EXPECT_TRUE(readWith("flags", "0x1103\n").promiscuous);
    EXPECT_FALSE(readWith("flags", "0x1003\n").promiscuous);
    FakeSysfs sysfs;
    sysfs.addInterface("if0", 1);
    InterfaceReader reader(sysfs.root());
    EXPECT_FALSE(reader.readAll().at(0).connectorPresent);
    std::filesystem::create_directory_symlink("/", sysfs.path("if0", "device"));
    EXPECT_TRUE(reader.readOne("if0", 1).value().connectorPresent);
    EXPECT_FALSE(reader.readOne("if0", 2));
}

}  // namespace
