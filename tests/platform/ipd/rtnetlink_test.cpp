// The rtnetlink dump parsing against replies captured from the kernel in a
// network namespace: a veth pair v0 (ifindex 3) - v1 (2) with 10.7.0.1/24
// and 2001:db8:7::1/64 on v0; routes 10.8.0.0/16 via 10.7.0.2 metric 7, a
// blackhole, an unreachable, a two-hop multipath, a BGP route, one in table
// 100, 2001:db8:99::/48 and a default via fe80::1. Each capture is one dump,
// its messages in one buffer, sequence numbers 101 to 103; the damaged cases
// patch single octets of them. Then the neighbour dumps (ARP and IPv6, seq
// 104 and 105) of 10.7.0.9 permanent, 10.7.0.10 stale, 10.7.0.11
// incomplete and 2001:db8:7::9 reachable on v0, beside the kernel's
// multicast entries. Then the shapes of a route's and a neighbour's rows.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <vector>

#include "platform/ipd/ip_object.h"
#include "platform/ipd/rtnetlink.h"
#include "platform/ipd/sock_diag.h"

namespace {

using namespace std::string_literals;

const char* const ADDRESSES =
    "4c000000140002006500000016000000020880fe01000000080001007f000001080002007f00000107000300"
    "6c6f0000080008008000000014000600ffffffffffffffff8226190082261900540000001400020065000000"
    "160000000218800003000000080001000a070001080002000a070001080004000a0700ff0700030076300000"
    "080008008000000014000600ffffffffffffffff862619008626190050000000140002006500000016000000"
    "0a8080fe01000000140001000000000000000000000000000000000114000600ffffffffffffffff82261900"
    "82261900080008008000000005000b0001000000500000001400020065000000160000000a40c0fd02000000"
    "14000100fe800000000000009ca6abfffe6a9fa114000600ffffffffffffffff862619008626190008000800"
    "c000000005000b0003000000480000001400020065000000160000000a408200030000001400010020010db8"
    "00070000000000000000000114000600ffffffffffffffff8726190087261900080008008200000050000000"
    "1400020065000000160000000a40c0fd0300000014000100fe8000000000000058883efffe40417f14000600"
    "ffffffffffffffff862619008626190008000800c000000005000b0003000000140000000300020065000000"
    "1600000000000000";
const char* const ROUTES_V4 =
    "3c00000018000200660000001600000002100000640300010000000008000f0064000000080001000a0b0000"
    "080005000a07000208000400030000003c00000018000200660000001600000002180000fe02fd0100000000"
    "08000f00fe000000080001000a070000080007000a0700010800040003000000440000001800020066000000"
    "1600000002100000fe0300010000000008000f00fe000000080001000a080000080006000700000008000500"
    "0a07000208000400030000005000000018000200660000001600000002100000fe0300010000000008000f00"
    "fe000000080001000a090000240009001000000003000000080005000a070002100000000300000008000500"
    "0a0700033c00000018000200660000001600000002100000feba00010000000008000f00fe00000008000100"
    "0a0a0000080005000a07000208000400030000002c00000018000200660000001600000002100000fe030006"
    "0000000008000f00fe000000080001000a4200002c00000018000200660000001600000002100000fe030007"
    "0000000008000f00fe000000080001000a4300003c00000018000200660000001600000002200000ff02fe02"
    "0000000008000f00ff000000080001000a070001080007000a07000108000400030000003c00000018000200"
    "660000001600000002200000ff02fd030000000008000f00ff000000080001000a0700ff080007000a070001"
    "08000400030000003c00000018000200660000001600000002080000ff02fe020000000008000f00ff000000"
    "080001007f000000080007007f00000108000400010000003c00000018000200660000001600000002200000"
    "ff02fe020000000008000f00ff000000080001007f000001080007007f00000108000400010000003c000000"
    "18000200660000001600000002200000ff02fd030000000008000f00ff000000080001007fffffff08000700"
    "7f00000108000400010000001400000003000200660000001600000000000000";
const char* const ROUTES_V6 =
    "740000001800020067000000160000000a400000fe0200010000000008000f00fe0000001400010020010db8"
    "0007000000000000000000000800060000010000080004000300000024000c00000000000000000000000000"
    "0000000000000000000000000000000000000000050014000000000088000000180002006700000016000000"
    "0a300000fe0300010000000008000f00fe0000001400010020010db800990000000000000000000008000600"
    "000400001400050020010db8000700000000000000000002080004000300000024000c000000000000000000"
    "0000000000000000000000000000000000000000000000000500140000000000740000001800020067000000"
    "160000000a400000fe0200010000000008000f00fe00000014000100fe800000000000000000000000000000"
    "0800060000010000080004000200000024000c00000000000000000000000000000000000000000000000000"
    "00000000000000000500140000000000740000001800020067000000160000000a400000fe02000100000000"
    "08000f00fe00000014000100fe80000000000000000000000000000008000600000100000800040003000000"
    "24000c0000000000000000000000000000000000000000000000000000000000000000000500140000000000"
    "740000001800020067000000160000000a000000fe0300010000000008000f00fe0000000800060000040000"
    "14000500fe800000000000000000000000000001080004000300000024000c00000000000000000000000000"
    "0000000000000000000000000000000000000000050014000000000074000000180002006700000016000000"
    "0a800000ff0200020000000008000f00ff000000140001000000000000000000000000000000000108000600"
    "00000000080004000100000024000c0000000000000000000000000000000000000000000000000000000000"
    "000000000500140000000000740000001800020067000000160000000a800000ff0200020000000008000f00"
    "ff0000001400010020010db80007000000000000000000010800060000000000080004000300000024000c00"
    "0000000000000000000000000000000000000000000000000000000000000000050014000000000074000000"
    "1800020067000000160000000a080000ff0200050000000008000f00ff00000014000100ff00000000000000"
    "00000000000000000800060000010000080004000200000024000c0000000000000000000000000000000000"
    "000000000000000000000000000000000500140000000000740000001800020067000000160000000a080000"
    "ff0200050000000008000f00ff00000014000100ff0000000000000000000000000000000800060000010000"
    "080004000300000024000c000000000000000000000000000000000000000000000000000000000000000000"
    "05001400000000001400000003000200670000001600000000000000";

std::vector<uint8_t> bytesOf(const char* hex) {
    std::vector<uint8_t> bytes;
    for (std::string text = hex; text.size() >= 2; text.erase(0, 2))
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(0, 2), nullptr, 16)));
    return bytes;
}

std::string text(const std::string& octets) {
    char buffer[INET6_ADDRSTRLEN] = "-";
    if (!octets.empty())
        inet_ntop(octets.size() == 4 ? AF_INET : AF_INET6, octets.data(), buffer, sizeof buffer);
    return buffer;
}

std::string describe(const ipd::AddressInfo& a) {
    return std::to_string(a.ifIndex) + " " + text(a.address) + "/" +
           std::to_string(a.prefixLength) + " origin " + std::to_string(a.origin) + " status " +
           std::to_string(a.status) + " brd " + text(a.broadcast);
}

std::string describe(const ipd::RouteInfo& r) {
    return text(r.dest) + "/" + std::to_string(r.prefixLength) + " via " + text(r.nextHop) +
           " if " + std::to_string(r.ifIndex) + " type " + std::to_string(r.type) + " proto " +
           std::to_string(r.protocol) + " metric " + std::to_string(r.metric);
}

std::string describe(const ipd::NeighbourInfo& n) {
    std::string link;
    for (unsigned char octet : n.linkAddress)
        link += std::to_string(octet) + ":";
    return std::to_string(n.ifIndex) + " " + text(n.address) + " " + (link.empty() ? "-" : link) +
           " type " + std::to_string(n.type) + " state " + std::to_string(n.state);
}

std::string describe(const ipd::SocketInfo& s) {
    auto endpoint = [](const std::string& address, uint16_t port) {
        return (address.size() == 4 || address.size() == 16 ? text(address)
                                                            : std::to_string(address.size())) +
               " " + std::to_string(port);
    };
    return std::to_string(s.state) + " " + endpoint(s.localAddress, s.localPort) + " " +
           endpoint(s.remoteAddress, s.remotePort) + " inode " + std::to_string(s.inode);
}

const std::vector<std::string> V4_MAIN = {
    "10.7.0.0/24 via - if 3 type 3 proto 2 metric 0",
    "10.8.0.0/16 via 10.7.0.2 if 3 type 4 proto 3 metric 7",
    "10.9.0.0/16 via 10.7.0.2 if 3 type 4 proto 3 metric 0",
    "10.9.0.0/16 via 10.7.0.3 if 3 type 4 proto 3 metric 0",
    "10.10.0.0/16 via 10.7.0.2 if 3 type 4 proto 14 metric 0",
    "10.66.0.0/16 via - if 0 type 5 proto 3 metric 0",
    "10.67.0.0/16 via - if 0 type 2 proto 3 metric 0",
};

const char* const NEIGHBOURS_V4 =
    "4c0000001c00020068000000b8120000020000000300000004000001080001000a07000a0a00020002000000"
    "000a0000080004000000000014000300721700000200000002000000000000004c0000001c00020068000000"
    "b8120000020000000300000080000001080001000a0700090a00020002000000000900000800040000000000"
    "1400030003000000030000000300000000000000400000001c00020068000000b81200000200000003000000"
    "01000001080001000a07000b0800040000000000140003007217000002000000020000000000000014000000"
    "0300020068000000b812000000000000";
const char* const NEIGHBOURS_V6 =
    "580000001c00020069000000b81200000a000000030000004000000514000100ff0200000000000000000000"
    "000000160a000200333300000016000008000400000000001400030072170000020000000200000000000000"
    "580000001c00020069000000b81200000a000000020000004000000514000100ff0200000000000000000000"
    "000000160a000200333300000016000008000400000000001400030073170000030000000300000000000000"
    "580000001c00020069000000b81200000a00000003000000020000011400010020010db80007000000000000"
    "000000090a00020002000000000b000008000400000000001400030001000000010000000100000001000000"
    "140000000300020069000000b812000000000000";
// Socket diagnostics dumps (seq 106 to 108) in a namespace: a dual-stack
// listener on [::]:7777, 127.0.0.1:40000 connected to it (the accepted end
// an IPv6 socket with IPv4-mapped addresses), an IPv6-only listener on
// [::1]:7778 and a UDP socket bound to [::1]:7779.
const char* const SOCKETS_TCP4 =
    "7c000000140002006a0000000f510000020100009c401e617f0000010000000000000000000000007f000001"
    "000000000000000000000000000000002703000000000000000000000000000000000000000000001b451100"
    "050008000000000008000f00000000000c001500010000000000000006001600520000001400000003000200"
    "6a0000000f51000000000000";
const char* const SOCKETS_TCP6 =
    "84000000140002006b0000000f5100000a0a00001e6100000000000000000000000000000000000000000000"
    "000000000000000000000000000000002803000000000000000000000000000080000000000000001a451100"
    "050008000000000005000b000000000008000f00000000000c00150001000000000000000600160012000000"
    "84000000140002006b0000000f5100000a0a00001e6200000000000000000000000000000000000100000000"
    "000000000000000000000000000000002903000000000000000000000000000080000000000000001d451100"
    "050008000000000005000b000100000008000f00000000000c00150001000000000000000600160012000000"
    "7c000000140002006b0000000f5100000a0100001e619c4000000000000000000000ffff7f00000100000000"
    "000000000000ffff7f000001000000002a03000000000000000000000000000000000000000000001c451100"
    "050008000000000008000f00000000000c001500010000000000000006001600120000001400000003000200"
    "6b0000000f51000000000000";
const char* const SOCKETS_UDP6 =
    "84000000140002006c0000000f5100000a0700001e6300000000000000000000000000000000000100000000"
    "000000000000000000000000000000002b03000000000000000000000000000000000000000000001e451100"
    "050008000000000005000b000100000008000f00000000000c00150001000000000000000600160010000000"
    "14000000030002006c0000000f51000000000000";

// A capture, damaged by its patches and cut, and what a parser makes of it:
// the dump's status and the records it parsed, as describe shows them.
struct Case {
    const char* name;
    const char* capture;
    uint32_t seq;
    std::vector<std::pair<size_t, uint8_t>> patches;  // offset, new octet
    ipd::DumpStatus status;
    std::vector<std::string> parsed;
    size_t cut = 0;  // 0: the whole capture
};

template <class Record, class Parse>
void expectParsed(const Case& c, Parse parse) {
    std::vector<uint8_t> bytes = bytesOf(c.capture);
    for (auto [offset, octet] : c.patches)
        bytes.at(offset) = octet;
    if (c.cut) bytes.resize(c.cut);
    std::vector<Record> records;
    EXPECT_EQ(c.status, parse(bytes, c.seq, records)) << c.name;
    std::vector<std::string> parsed;
    for (const Record& record : records)
        parsed.push_back(describe(record));
    EXPECT_EQ(c.parsed, parsed) << c.name;
}

TEST(Rtnetlink, ParsesCapturedDumps) {
    using ipd::DumpStatus;
    const std::vector<Case> cases = {
        {"addresses: IPv4 with broadcast, IPv6 configured and link-local (tentative)",
         ADDRESSES,
         101,
         {},
         DumpStatus::Done,
         {"1 127.0.0.1/8 origin 2 status 1 brd -", "3 10.7.0.1/24 origin 2 status 1 brd 10.7.0.255",
          "1 ::1/128 origin 2 status 1 brd -",
          "2 fe80::9ca6:abff:fe6a:9fa1/64 origin 5 status 6 brd -",
          "3 2001:db8:7::1/64 origin 2 status 1 brd -",
          "3 fe80::5888:3eff:fe40:417f/64 origin 5 status 6 brd -"}},
        {"IPv4 routes of the main table, one per next hop", ROUTES_V4, 102, {}, DumpStatus::Done,
         V4_MAIN},
        {"IPv6 routes: link-local twice, default via a link-local gateway",
         ROUTES_V6,
         103,
         {},
         DumpStatus::Done,
         {"2001:db8:7::/64 via - if 3 type 3 proto 2 metric 256",
          "2001:db8:99::/48 via 2001:db8:7::2 if 3 type 4 proto 3 metric 1024",
          "fe80::/64 via - if 2 type 3 proto 2 metric 256",
          "fe80::/64 via - if 3 type 3 proto 2 metric 256",
          "::/0 via fe80::1 if 3 type 4 proto 3 metric 1024"}},
        {"another dump's messages are skipped", ROUTES_V4, 7, {}, DumpStatus::More, {}},
        {"an error reply fails the dump", ROUTES_V4, 102, {{720, 2}}, DumpStatus::Failed, V4_MAIN},
        {"a message longer than the datagram", ROUTES_V4, 102, {}, DumpStatus::Failed, V4_MAIN,
         700},
        {"an attribute running past its message", ROUTES_V4, 102, {{156, 0xff}},
         DumpStatus::Failed, {V4_MAIN[0]}},
        {"a gateway of three octets", ROUTES_V4, 102, {{172, 7}}, DumpStatus::Failed,
         {V4_MAIN[0]}},
        {"a next hop longer than its multipath attribute", ROUTES_V4, 102, {{236, 0x30}},
         DumpStatus::Failed, {V4_MAIN[0], V4_MAIN[1]}},
        {"an address of two octets", ADDRESSES, 101, {{108, 6}}, DumpStatus::Failed,
         {"1 127.0.0.1/8 origin 2 status 1 brd -"}},
        {"a prefix longer than the family's", ADDRESSES, 101, {{93, 33}}, DumpStatus::Failed,
         {"1 127.0.0.1/8 origin 2 status 1 brd -"}},
    };
    // The addresses' capture is parsed as addresses, the others as routes.
    for (const Case& c : cases) {
        if (c.capture == ADDRESSES)
            expectParsed<ipd::AddressInfo>(c, ipd::parseAddresses);
        else
            expectParsed<ipd::RouteInfo>(c, ipd::parseRoutes);
    }
}

TEST(Rtnetlink, ParsesNeighbourDumps) {
    using ipd::DumpStatus;
    const std::vector<std::string> ipv4 = {"3 10.7.0.10 2:0:0:0:0:10: type 3 state 2",
                                           "3 10.7.0.9 2:0:0:0:0:9: type 4 state 6",
                                           "3 10.7.0.11 - type 3 state 7"};
    const Case cases[] = {
        {"ARP: permanent, stale, incomplete", NEIGHBOURS_V4, 104, {}, DumpStatus::Done, ipv4},
        {"IPv6: the multicast (NOARP) entries left out",
         NEIGHBOURS_V6,
         105,
         {},
         DumpStatus::Done,
         {"3 2001:db8:7::9 2:0:0:0:0:11: type 3 state 1"}},
        {"an address of three octets", NEIGHBOURS_V4, 104, {{28, 7}}, DumpStatus::Failed, {}},
        {"an attribute running past its message",
         NEIGHBOURS_V4,
         104,
         {{28, 0xff}},
         DumpStatus::Failed,
         {}},
        {"a message too short for its header",
         NEIGHBOURS_V4,
         104,
         {{0, 24}},
         DumpStatus::Failed,
         {}},
    };
    for (const Case& c : cases)
        expectParsed<ipd::NeighbourInfo>(c, ipd::parseNeighbours);
}

// Addresses as the MIBs index them: "0" is an empty address (a wildcard
// that takes both versions, or a remote wildcard).
TEST(SockDiag, ParsesSocketDumps) {
    using ipd::DumpStatus;
    const std::vector<std::string> tcp6 = {"10 0 7777 0 0 inode 1131802",
                                           "10 ::1 7778 0 0 inode 1131805",
                                           "1 127.0.0.1 7777 127.0.0.1 40000 inode 1131804"};
    const Case cases[] = {
        {"TCP over IPv4: the connecting end",
         SOCKETS_TCP4,
         106,
         {},
         DumpStatus::Done,
         {"1 127.0.0.1 40000 127.0.0.1 7777 inode 1131803"}},
        {"TCP over IPv6: dual-stack and IPv6-only listeners, an IPv4-mapped connection",
         SOCKETS_TCP6,
         107,
         {},
         DumpStatus::Done,
         tcp6},
        {"UDP over IPv6, IPv6-only",
         SOCKETS_UDP6,
         108,
         {},
         DumpStatus::Done,
         {"7 ::1 7779 0 0 inode 1131806"}},
        {"another dump's messages are skipped", SOCKETS_UDP6, 9, {}, DumpStatus::More, {}},
        {"a v6only flag of two octets", SOCKETS_TCP6, 107, {{96, 6}}, DumpStatus::Failed, {}},
        {"an attribute running past its message",
         SOCKETS_TCP6,
         107,
         {{96, 0xff}},
         DumpStatus::Failed,
         {}},
        {"a message too short for inet_diag_msg",
         SOCKETS_TCP4,
         106,
         {{0, 80}},
         DumpStatus::Failed,
         {}},
    };
    for (const Case& c : cases)
        expectParsed<ipd::SocketInfo>(c, ipd::parseSockets);
}

// The process of a socket: the lowest pid whose descriptors hold it; other
// links, other entries and sockets no process holds give none.
TEST(SockDiag, FindsTheProcessHoldingEachSocket) {
    char pattern[] = "/tmp/ipd-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const std::string proc = pattern;
    const struct {
        const char* fd;
        const char* link;
    } links[] = {
        {"12/fd/3", "socket:[500]"}, {"7/fd/9", "socket:[500]"},    {"30/fd/0", "socket:[600]"},
        {"31/fd/1", "pipe:[700]"},   {"self/fd/4", "socket:[700]"}, {"32/fd/2", "socket:[70x]"},
    };
    for (const auto& each : links) {
        const std::filesystem::path fd = proc + "/" + each.fd;
        std::filesystem::create_directories(fd.parent_path());
        std::filesystem::create_symlink(each.link, fd);
    }
    std::vector<ipd::SocketInfo> sockets(4);
    const uint32_t inodes[] = {500, 600, 700, 0};
    for (size_t i = 0; i < sockets.size(); ++i)
        sockets[i].inode = inodes[i];
    ipd::findOwners(proc, sockets);
    std::vector<uint32_t> pids;
    for (const auto& socket : sockets)
        pids.push_back(socket.pid);
    EXPECT_EQ((std::vector<uint32_t>{7, 30, 0, 0}), pids);
    std::filesystem::remove_all(proc);
}

// A neighbour's row as the IP-MIB plug-in takes it: ipNetToPhysicalTable's
// and ipNetToMediaTable's index shapes, and fields cut short.
TEST(NeighbourRow, IndexShapesAndFields) {
    const std::string v4{10, 7, 0, 9}, v6(16, '\x20');
    const struct {
        const char* what;
        std::vector<uint32_t> index;
        bool media;
        bool valid;
    } cases[] = {
        {"IPv4", ipd::neighbourIndex(3, v4), false, true},
        {"IPv6", ipd::neighbourIndex(3, v6), false, true},
        {"IPv4 media", ipd::mediaIndex(3, v4), true, true},
        {"a media index as a physical one", ipd::mediaIndex(3, v4), false, false},
        {"ifIndex 0", ipd::neighbourIndex(0, v4), false, false},
        {"ipv6z", {3, 4, 20, 1, 2}, false, false},
        {"a length of another type", {3, 1, 16, 10, 7, 0, 9}, false, false},
        {"an octet above 255", {3, 10, 7, 256, 9}, true, false},
        {"an arc after the address", {3, 10, 7, 0, 9, 0}, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ipd::isNeighbourIndex(c.index.data(), c.index.size(), c.media), c.valid)
            << c.what;

    const std::string fields = ipd::neighbourFields({3, 2, "\x02\x00\x00\x00\x00\x0a"s});
    ipd::NeighbourFields read;
    EXPECT_FALSE(ipd::readNeighbourFields(fields.substr(0, 8), read));
    ASSERT_TRUE(ipd::readNeighbourFields(fields + "later", read));
    EXPECT_EQ(read.type, 3);
    EXPECT_EQ(read.state, 2);
    EXPECT_EQ(read.linkAddress, "\x02\x00\x00\x00\x00\x0a"s);
}

// A socket's row as the transport plug-in takes it: each table's index
// shape, and fields cut short.
TEST(EndpointRow, IndexShapesAndFields) {
    using ipd::EndpointShape;
    const std::string v4{127, 0, 0, 1}, v6z(20, '\x01');
    const auto listener = ipd::endpointIndex(EndpointShape::TcpListener, "", 7777, "", 0, 0);
    const auto connection =
        ipd::endpointIndex(EndpointShape::TcpConnection, v4, 40000, v4, 7777, 0);
    const auto endpoint = ipd::endpointIndex(EndpointShape::UdpEndpoint, v6z, 53, "", 0, 2);
    auto changed = [](std::vector<uint32_t> index, size_t at, uint32_t arc) {
        index[at] = arc;
        return index;
    };
    const struct {
        const char* what;
        std::vector<uint32_t> index;
        EndpointShape shape;
        bool valid;
    } cases[] = {
        {"a dual-stack listener", listener, EndpointShape::TcpListener, true},
        {"an IPv4 connection", connection, EndpointShape::TcpConnection, true},
        {"an IPv6z endpoint, remote wildcard", endpoint, EndpointShape::UdpEndpoint, true},
        {"a listener index as a connection's", listener, EndpointShape::TcpConnection, false},
        {"a connection index as an endpoint's", connection, EndpointShape::UdpEndpoint, false},
        {"a port above 65535", changed(connection, 6, 65536), EndpointShape::TcpConnection, false},
        {"an ipv4 address of 16 octets", changed(connection, 1, 16), EndpointShape::TcpConnection,
         false},
        {"instance 0", changed(endpoint, endpoint.size() - 1, 0), EndpointShape::UdpEndpoint,
         false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ipd::isEndpointIndex(c.index.data(), c.index.size(), c.shape), c.valid) << c.what;

    const std::string fields = ipd::endpointFields({5, 0x01020304});
    ipd::EndpointFields read;
    EXPECT_FALSE(ipd::readEndpointFields(fields.substr(0, 4), read));
    ASSERT_TRUE(ipd::readEndpointFields(fields + "later", read));
    EXPECT_EQ(read.state, 5);
    EXPECT_EQ(read.process, 0x01020304u);
}

// A route's row as the IP-FORWARD-MIB plug-in takes it from the service: an
// index of any other shape, or fields cut short, leave the row out.
TEST(RouteRow, IndexShapesAndFields) {
    const std::string v4{10, 8, 0, 0}, hop4{10, 7, 0, 2}, v6(16, '\x20'), hop6z(20, '\x01');
    const std::vector<uint32_t> route = ipd::routeIndex(v4, 16, hop4);  // 16 arcs
    auto changed = [&](size_t at, uint32_t arc) {
        std::vector<uint32_t> index = route;
        index[at] = arc;
        return index;
    };
    std::vector<uint32_t> trailing = route, cut = route;
    trailing.push_back(0);
    cut.pop_back();
    const struct {
        const char* what;
        std::vector<uint32_t> index;
        bool route;
    } cases[] = {
        {"IPv4 via IPv4", route, true},
        {"IPv6 without next hop", ipd::routeIndex(v6, 48, ""), true},
        {"IPv6 via a zoned link-local", ipd::routeIndex(v6, 0, hop6z), true},
        {"IPv4 via IPv6", ipd::routeIndex(v4, 8, hop6z), false},
        {"prefix longer than the address", changed(6, 33), false},
        {"a policy other than zeroDotZero", changed(9, 1), false},
        {"an octet above 255", changed(3, 256), false},
        {"destination type ipv4z", changed(0, 3), false},
        {"an arc after the next hop", trailing, false},
        {"the next hop cut short", cut, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ipd::isRouteIndex(c.index.data(), c.index.size()), c.route) << c.what;

    // RFC 2096: destination, mask, TOS 0, next hop (0.0.0.0 without one).
    const std::vector<uint32_t> cidr = ipd::cidrRouteIndex(v4, 17, hop4);
    EXPECT_EQ((std::vector<uint32_t>{10, 8, 0, 0, 255, 255, 128, 0, 0, 10, 7, 0, 2}), cidr);
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              ipd::cidrRouteIndex(std::string(4, '\0'), 0, ""));
    std::vector<uint32_t> tos = cidr, octet = cidr, cutCidr = cidr;
    tos[8] = 1;
    octet[12] = 256;
    cutCidr.pop_back();
    EXPECT_TRUE(ipd::isCidrRouteIndex(cidr.data(), cidr.size()));
    for (const auto& bad : {tos, octet, cutCidr})
        EXPECT_FALSE(ipd::isCidrRouteIndex(bad.data(), bad.size()));

    const std::string fields = ipd::routeFields({7, 0x01020304, 4, 14});
    ipd::RouteFields read;
    EXPECT_FALSE(ipd::readRouteFields(fields.substr(0, 9), read));
    ASSERT_TRUE(ipd::readRouteFields(fields + "later", read));  // a later version's fields
    EXPECT_EQ(read.ifIndex, 7u);
    EXPECT_EQ(read.metric, 0x01020304u);
    EXPECT_EQ(read.type, 4);
    EXPECT_EQ(read.protocol, 14);
}

}  // namespace
