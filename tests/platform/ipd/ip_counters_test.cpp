// The kernel's counter files as the IP service reads them: the columns each
// version's object carries (and those it leaves out), the ICMP message
// types, and malformed files, which lose only their broken part.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/ipd/ip_counters.h"
#include "platform/ipd/ip_object.h"
#include "platform/orla/ids.h"

namespace {

// Shortened from a 6.x kernel's files.
const char* const SNMP =
    "Ip: Forwarding DefaultTTL InReceives InHdrErrors InAddrErrors ForwDatagrams "
    "InUnknownProtos InDiscards InDelivers OutRequests OutDiscards OutNoRoutes ReasmTimeout "
    "ReasmReqds ReasmOKs ReasmFails FragOKs FragFails FragCreates\n"
    "Ip: 1 64 8589934597 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"
    "Icmp: InMsgs InErrors InCsumErrors OutMsgs OutErrors\n"
    "Icmp: 20 21 22 23 24\n"
    "IcmpMsg: InType0 InType8 OutType0 OutType3\n"
    "IcmpMsg: 30 31 32 33\n"
    "Tcp: RtoAlgorithm RtoMin MaxConn ActiveOpens InSegs\n"
    "Tcp: 1 200 -1 70 71\n"
    "Udp: InDatagrams NoPorts InErrors OutDatagrams\n"
    "Udp: 80 81 82 83\n";
const char* const NETSTAT =
    "IpExt: InNoRoutes InTruncatedPkts InMcastPkts OutMcastPkts InBcastPkts OutBcastPkts "
    "InOctets OutOctets\n"
    "IpExt: 40 41 42 43 44 45 46 47\n";
const char* const SNMP6 =
    "Ip6InReceives                   \t50\n"
    "Ip6InOctets                     \t51\n"
    "Ip6OutForwDatagrams             \t52\n"
    "Ip6InMcastPkts                  \t53\n"
    "Ip6OutTransmits                 \t54\n"
    "Icmp6InMsgs                     \t60\n"
    "Icmp6OutErrors                  \t61\n"
    "Icmp6InType128                  \t62\n"
    "Icmp6OutType129                 \t63\n"
    "Icmp6OutType300                 \t64\n"
    "Udp6InDatagrams                 \t90\n"
    "Udp6OutDatagrams                \t91\n";

std::map<uint32_t, uint64_t> countersOf(const orla::message& object, orla::U32ArrayKey key) {
    std::map<uint32_t, uint64_t> counters;
    ipd::forEachCounter(object.get(key),
                        [&](uint32_t column, uint64_t value) { counters[column] = value; });
    return counters;
}

TEST(IpCounters, ObjectsCarryTheColumnsTheKernelKeeps) {
    ipd::Counters counters;
    EXPECT_TRUE(ipd::parseGroupedCounters(SNMP, counters));
    EXPECT_TRUE(ipd::parseGroupedCounters(NETSTAT, counters));
    EXPECT_TRUE(ipd::parseNamedCounters(SNMP6, counters));

    const orla::message v4 = ipd::statsObject(ipd::INET_IPV4, counters);
    const orla::message v6 = ipd::statsObject(ipd::INET_IPV6, counters);
    EXPECT_EQ(1u, v4.get(orla::OBJ_ID));
    EXPECT_EQ(2u, v6.get(orla::OBJ_ID));
    // ipSystemStatsTable column: value; InForwDatagrams (12), OutTransmits
    // (30) and the IPv6 broadcasts are not in these files.
    const std::map<uint32_t, uint64_t> ipv4 = {
        {3, 8589934597}, {5, 46},  {7, 1},   {8, 40},  {9, 2},   {10, 4},  {11, 41}, {14, 11},
        {15, 12},        {16, 13}, {17, 5},  {18, 6},  {20, 7},  {22, 9},  {23, 3},  {25, 8},
        {27, 14},        {28, 15}, {29, 16}, {32, 47}, {34, 42}, {38, 43}, {42, 44}, {44, 45},
    };
    EXPECT_EQ(ipv4, countersOf(v4, ipd::IPS_COUNTERS));
    const std::map<uint32_t, uint64_t> ipv6 = {{3, 50}, {5, 51}, {23, 52}, {30, 54}, {34, 53}};
    EXPECT_EQ(ipv6, countersOf(v6, ipd::IPS_COUNTERS));
    EXPECT_EQ((std::map<uint32_t, uint64_t>{{2, 20}, {3, 21}, {4, 23}, {5, 24}}),
              countersOf(v4, ipd::ICMP_COUNTERS));
    EXPECT_EQ((std::map<uint32_t, uint64_t>{{2, 60}, {5, 61}}), countersOf(v6, ipd::ICMP_COUNTERS));
    // (type, in, out), ascending; type 300 is no ICMP type.
    EXPECT_EQ((std::vector<uint32_t>{0, 30, 32, 3, 0, 33, 8, 31, 0}), v4.get(ipd::ICMP_MSG_COUNTS));
    EXPECT_EQ((std::vector<uint32_t>{128, 62, 0, 129, 0, 63}), v6.get(ipd::ICMP_MSG_COUNTS));

    // An interface's file of dev_snmp6 names its ifIndex; one that does not
    // (or names 0) gives no object.
    ipd::Counters interface;
    EXPECT_TRUE(ipd::parseNamedCounters("ifIndex 3\nIp6InReceives 5\nIp6OutOctets 6\n", interface));
    const orla::message row = ipd::ifStatsObject(interface);
    EXPECT_EQ(3u, row.get(orla::OBJ_ID));
    EXPECT_EQ((std::map<uint32_t, uint64_t>{{3, 5}, {32, 6}}), countersOf(row, ipd::IPS_COUNTERS));
    interface["ifIndex"] = 0;
    EXPECT_FALSE(ipd::ifStatsObject(interface).has(orla::OBJ_ID));

    // TCP-MIB and UDP-MIB scalar arcs; tcpMaxConn -1 as 2^64-1, UDP's
    // IPv4 and IPv6 counts added (IPv6 has no NoPorts line here).
    orla::message transport;
    ipd::addTransportCounters(counters, transport);
    EXPECT_EQ((std::map<uint32_t, uint64_t>{{1, 1}, {2, 200}, {4, UINT64_MAX}, {5, 70}, {10, 71}}),
              countersOf(transport, ipd::TCP_COUNTERS));
    EXPECT_EQ((std::map<uint32_t, uint64_t>{{1, 170}, {2, 81}, {3, 82}, {4, 174}}),
              countersOf(transport, ipd::UDP_COUNTERS));
}

struct Malformed {
    const char* name;
    const char* text;
    bool grouped;
    std::map<std::string, uint64_t, std::less<>> kept;
};

TEST(IpCounters, MalformedPartsAreLeftOut) {
    const Malformed cases[] = {
        {"fewer values than names", "Ip: A B\nIp: 1\nUdp: C\nUdp: 3\n", true, {{"Udp:C", 3}}},
        {"values of another group", "Ip: A\nTcp: 1\nUdp: C\nUdp: 3\n", true, {{"Udp:C", 3}}},
        {"a group without colon", "Ip A\nIp 1\n", true, {}},
        {"names without values at the end", "Udp: C\nUdp: 3\nIp: A", true, {{"Udp:C", 3}}},
        {"a value that is no number", "Ip: A B C\nIp: 1 x -\n", true, {{"Ip:A", 1}}},
        {"a named line without value",
         "Ip6InReceives\nIp6InDelivers 4\n",
         false,
         {{"Ip6InDelivers", 4}}},
        {"a named line with two values",
         "Ip6InReceives 1 2\nIp6InDelivers 4\n",
         false,
         {{"Ip6InDelivers", 4}}},
        {"a named value beyond 64 bits", "Ip6InReceives 18446744073709551616\n", false, {}},
    };
    for (const Malformed& each : cases) {
        ipd::Counters counters;
        const bool wellFormed = each.grouped ? ipd::parseGroupedCounters(each.text, counters)
                                             : ipd::parseNamedCounters(each.text, counters);
        // A value that is no number in a well-formed pair is just left out.
        EXPECT_EQ(std::string(each.name) == "a value that is no number", wellFormed) << each.name;
        EXPECT_EQ(each.kept, counters) << each.name;
    }

    std::string many;
    for (size_t i = 0; i <= ipd::MAX_COUNTERS; ++i)
        many += "C" + std::to_string(i) + " 1\n";
    ipd::Counters counters;
    EXPECT_TRUE(ipd::parseNamedCounters(many, counters));
    EXPECT_EQ(ipd::MAX_COUNTERS, counters.size());
}

}  // namespace
