#include "platform/ifaced/interface_reader.h"

#include <linux/if.h>
#include <linux/if_link.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

using ifaced::LinkMessage;
using ifaced::OperStatus;
using netlink::DumpStatus;

// RFC 2863 ifOperStatus from the kernel's operstate and flags, for every
// state: "unknown" (no carrier detection: loopback, tun, PPP, ifb, tunnels)
// is up only while the link is up and running.
TEST(OperStatus, KernelStateAndFlagsAsOneTable) {
    constexpr uint32_t RUNNING = IFF_UP | IFF_RUNNING;
    const std::tuple<uint8_t, uint32_t, OperStatus> cases[] = {
        {IF_OPER_UP, RUNNING, OperStatus::Up},
        {IF_OPER_UNKNOWN, RUNNING, OperStatus::Up},
        {IF_OPER_UNKNOWN, RUNNING | IFF_LOOPBACK, OperStatus::Up},
        {IF_OPER_UNKNOWN, IFF_UP, OperStatus::Down},
        {IF_OPER_UNKNOWN, IFF_RUNNING, OperStatus::Down},
        {IF_OPER_UNKNOWN, 0, OperStatus::Down},
        {IF_OPER_DOWN, IFF_UP, OperStatus::Down},
        {IF_OPER_DOWN, 0, OperStatus::Down},
        {IF_OPER_LOWERLAYERDOWN, IFF_UP, OperStatus::LowerLayerDown},
        {IF_OPER_TESTING, RUNNING, OperStatus::Testing},
        {IF_OPER_DORMANT, IFF_UP, OperStatus::Dormant},
        {IF_OPER_NOTPRESENT, IFF_UP, OperStatus::NotPresent},
        {7, RUNNING, OperStatus::Unknown},  // a state this service does not know
    };
    for (const auto& [operstate, flags, expected] : cases)
        EXPECT_EQ(ifaced::operStatusOf(operstate, flags), expected)
            << "operstate " << int(operstate) << " flags " << flags;
}

// A link message as the kernel builds it: nlmsghdr, ifinfomsg, attributes.
class LinkBuilder {
  public:
    LinkBuilder(uint16_t type, int index, uint32_t flags, uint16_t arphrd = 1,
                uint8_t family = AF_UNSPEC, uint32_t seq = 9) {
        nlmsghdr header{};
        header.nlmsg_type = type;
        header.nlmsg_seq = seq;
        append(&header, sizeof header);
        ifinfomsg link{};
        link.ifi_family = family;
        link.ifi_type = arphrd;
        link.ifi_index = index;
        link.ifi_flags = flags;
        append(&link, sizeof link);
    }
    LinkBuilder& attribute(uint16_t type, const std::string& value) {
        rtattr header{static_cast<unsigned short>(RTA_LENGTH(value.size())), type};
        append(&header, sizeof header);
        append(value.data(), value.size());
        bytes_.resize(NLMSG_ALIGN(bytes_.size()));
        return *this;
    }
    LinkBuilder& name(const std::string& name) { return attribute(IFLA_IFNAME, name + '\0'); }
    LinkBuilder& u32(uint16_t type, uint32_t value) {
        return attribute(type, std::string(reinterpret_cast<const char*>(&value), 4));
    }
    // rtnl_link_stats64 of `words` 64-bit fields, field i holding 100 + i.
    LinkBuilder& stats(size_t words) {
        std::vector<uint64_t> fields(words);
        for (size_t i = 0; i < words; ++i)
            fields[i] = 100 + i;
        return attribute(IFLA_STATS64,
                         std::string(reinterpret_cast<const char*>(fields.data()), words * 8));
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> message = bytes_;
        const uint32_t length = static_cast<uint32_t>(message.size());
        std::memcpy(message.data(), &length, sizeof length);
        return message;
    }

  private:
    void append(const void* data, size_t size) {
        const auto* octets = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), octets, octets + size);
    }
    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> datagramOf(const std::vector<LinkBuilder>& messages) {
    std::vector<uint8_t> datagram;
    for (const LinkBuilder& message : messages) {
        const std::vector<uint8_t> bytes = message.bytes();
        datagram.insert(datagram.end(), bytes.begin(), bytes.end());
    }
    return datagram;
}

std::string describe(const LinkMessage& link) {
    const ifaced::InterfaceInfo& info = link.info;
    const ifaced::InterfaceCounters& c = info.counters;
    std::string hex;
    for (unsigned char octet : info.hwAddress)
        hex += "0123456789abcdef"[octet >> 4], hex += "0123456789abcdef"[octet & 15];
    return (link.removed ? "gone " : "") + std::to_string(info.index) + " " + info.name + " type " +
           std::to_string(info.type) + " mtu " + std::to_string(info.mtu) + " oper " +
           std::to_string(static_cast<uint32_t>(info.operStatus)) + " admin " +
           std::to_string(info.adminUp) + " promisc " + std::to_string(info.promiscuous) +
           " connector " + std::to_string(info.connectorPresent) + " hw " + hex + " alias [" +
           info.alias + "] in " + std::to_string(c.inOctets) + "/" +
           std::to_string(c.inUcastPackets) + "/" + std::to_string(c.inMulticastPackets) + " out " +
           std::to_string(c.outOctets) + "/" + std::to_string(c.outUcastPackets) + " unknown " +
           std::to_string(c.inUnknownProtos);
}

// Names, indexes, MTUs and counters against a real kernel are the
// end-to-end interfaces test's; here each attribute, the messages that are
// no link of this namespace, and the malformed ones.
TEST(ParseLinks, AttributesMessagesAndDamage) {
    constexpr uint32_t UP = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;
    const std::string zeros(6, '\0'), mac = "\x02\x00\x5e\x10\x00\x01"s;
    auto loopback = [&] {
        return LinkBuilder(RTM_NEWLINK, 1, UP | IFF_LOOPBACK, 772)
            .name("lo")
            .u32(IFLA_MTU, 65536)
            .attribute(IFLA_OPERSTATE, std::string(1, IF_OPER_UNKNOWN))
            .attribute(IFLA_ADDRESS, zeros)
            .stats(24);
    };
    auto ethernet = [&] {
        return LinkBuilder(RTM_NEWLINK, 7, UP | IFF_PROMISC)
            .name("eth0")
            .attribute(IFLA_OPERSTATE, std::string(1, IF_OPER_UP))
            .attribute(IFLA_ADDRESS, mac)
            .attribute(IFLA_IFALIAS, std::string(80, 'a') + '\0')
            .attribute(IFLA_PARENT_DEV_NAME, "0000:00:03.0\0"s)
            .stats(23);  // a kernel before rx_nohandler
    };
    const std::string LO =
        "1 lo type 24 mtu 65536 oper 1 admin 1 promisc 0 connector 0 hw  alias [] in 102/0/108 "
        "out 103/101 unknown 123";
    const std::string ETH0 = "7 eth0 type 6 mtu 0 oper 1 admin 1 promisc 1 connector 1 hw " +
                             "02005e100001"s + " alias [" + std::string(64, 'a') +
                             "] in 102/0/108 out 103/101 unknown 0";
    const struct {
        const char* what;
        std::vector<LinkBuilder> messages;
        DumpStatus status;
        std::vector<std::string> parsed;
    } cases[] = {
        {"loopback, an Ethernet link", {loopback(), ethernet()}, DumpStatus::More, {LO, ETH0}},
        {"a bridge port's message, a wireless event without a name, another request's answer",
         {LinkBuilder(RTM_NEWLINK, 3, UP, 1, AF_BRIDGE).name("br0"),
          LinkBuilder(RTM_NEWLINK, 3, UP).u32(IFLA_MTU, 1500),
          LinkBuilder(RTM_NEWLINK, 4, UP, 1, AF_UNSPEC, 8).name("other")},
         DumpStatus::More,
         {}},
        {"a link gone, then the dump's end",
         {LinkBuilder(RTM_DELLINK, 5, 0).name("ppp0"), LinkBuilder(NLMSG_DONE, 0, 0)},
         DumpStatus::Done,
         {"gone 5 ppp0 type 6 mtu 0 oper 2 admin 0 promisc 0 connector 0 hw  alias [] in 0/0/0 "
          "out 0/0 unknown 0"}},
        {"a name the kernel cannot give",
         {LinkBuilder(RTM_NEWLINK, 2, UP).name("a/b"), loopback()},
         DumpStatus::More,
         {LO}},
        {"an operstate of two octets",
         {loopback(), LinkBuilder(RTM_NEWLINK, 2, UP).name("x").attribute(IFLA_OPERSTATE, "ab")},
         DumpStatus::Failed,
         {LO}},
        {"statistics cut short",
         {LinkBuilder(RTM_NEWLINK, 2, UP).name("x").stats(22)},
         DumpStatus::Failed,
         {}},
        {"an MTU of two octets",
         {LinkBuilder(RTM_NEWLINK, 2, UP).name("x").attribute(IFLA_MTU, "ab")},
         DumpStatus::Failed,
         {}},
        {"an address longer than any link layer's",
         {LinkBuilder(RTM_NEWLINK, 2, UP).name("x").attribute(IFLA_ADDRESS, std::string(33, 1))},
         DumpStatus::Failed,
         {}},
        {"index 0", {LinkBuilder(RTM_NEWLINK, 0, UP).name("x")}, DumpStatus::Failed, {}},
    };
    for (const auto& c : cases) {
        std::vector<LinkMessage> links;
        EXPECT_EQ(ifaced::parseLinks(datagramOf(c.messages), 9, links), c.status) << c.what;
        std::vector<std::string> parsed;
        for (const LinkMessage& link : links)
            parsed.push_back(describe(link));
        EXPECT_EQ(parsed, c.parsed) << c.what;
    }

    // An attribute running past its message; a message past its datagram.
    std::vector<uint8_t> bytes = datagramOf({loopback()});
    bytes[sizeof(nlmsghdr) + sizeof(ifinfomsg)] = 0xff;
    std::vector<LinkMessage> links;
    EXPECT_EQ(ifaced::parseLinks(bytes, 9, links), DumpStatus::Failed);
    bytes = datagramOf({loopback()});
    bytes.resize(bytes.size() - 4);
    EXPECT_EQ(ifaced::parseLinks(bytes, std::nullopt, links), DumpStatus::Failed);
    EXPECT_TRUE(links.empty());
    // Notifications: any sequence number.
    EXPECT_EQ(ifaced::parseLinks(datagramOf({ethernet()}), std::nullopt, links), DumpStatus::More);
    EXPECT_EQ(links.size(), 1u);
}

}  // namespace
